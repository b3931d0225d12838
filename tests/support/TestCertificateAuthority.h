#pragma once

#include <filesystem>

#include "tests/support/LoopbackServer.h"

namespace cb::testsupport {

// A certificate authority made for one test with the openssl command, and a server certificate
// it signed for 127.0.0.1. Clients that trust `caCertificate()` (and only those) accept the
// server; nothing is added to the system's trust.
class TestCertificateAuthority {
  public:
    // Writes the files into `folder`; throws std::runtime_error when openssl fails.
    explicit TestCertificateAuthority(const std::filesystem::path& folder);

    // The authority's certificate (PEM), for the client's list of trusted authorities.
    const std::filesystem::path& caCertificate() const { return caCertificate_; }
    // The server's certificate (for IP 127.0.0.1) and key, for an HTTPS LoopbackServer.
    const TLSIdentity& serverIdentity() const { return server_; }

  private:
    std::filesystem::path caCertificate_;
    TLSIdentity server_;
};

}  // namespace cb::testsupport
