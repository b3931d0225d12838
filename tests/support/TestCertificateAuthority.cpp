#include "tests/support/TestCertificateAuthority.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace cb::testsupport {

namespace {

std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("test certificate authority: failed: " + command);
    }
}

}  // namespace

TestCertificateAuthority::TestCertificateAuthority(const std::filesystem::path& folder)
    : caCertificate_(folder / "test-ca.pem"),
      server_{folder / "server.pem", folder / "server-key.pem"} {
    const std::filesystem::path caKey = folder / "test-ca-key.pem";
    const std::filesystem::path request = folder / "server.csr";
    const std::filesystem::path extensions = folder / "server.ext";
    const std::string keyType = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    run("openssl req -x509 " + keyType + " -days 2 -subj '/CN=Cellarbright Test CA' -keyout " +
        quoted(caKey) + " -out " + quoted(caCertificate_) +
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign");
    run("openssl req " + keyType + " -subj /CN=127.0.0.1 -keyout " + quoted(server_.key) +
        " -out " + quoted(request));
    std::ofstream(extensions) << "subjectAltName=IP:127.0.0.1\n"
                              << "basicConstraints=CA:FALSE\n"
                              << "extendedKeyUsage=serverAuth\n";
    run("openssl x509 -req -in " + quoted(request) + " -CA " + quoted(caCertificate_) + " -CAkey " +
        quoted(caKey) + " -CAcreateserial -days 2 -extfile " + quoted(extensions) + " -out " +
        quoted(server_.certificate));
}

}  // namespace cb::testsupport
