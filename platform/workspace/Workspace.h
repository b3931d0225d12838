#pragma once

#include <string>

namespace platform {

// The desktop's services for the application: opening URLs with their handlers.
//
// Tests derive from it to record the requests.
class Workspace {
  public:
    virtual ~Workspace() = default;

    // Asks the desktop to open `url` with the application registered for its scheme and returns
    // without waiting for it. Returns whether the request was handed on; the caller may ignore
    // it. Does nothing and returns false when the process runs without a graphical application
    // object (tools, tests), so it is safe to call anywhere.
    virtual bool openUrl(const std::string& url);

    // The desktop workspace of this process. Stateless, so sharing it is safe.
    static Workspace& shared();
};

}  // namespace platform
