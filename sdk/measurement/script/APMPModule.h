#pragma once

#include <functional>
#include <memory>
#include <string>

// A module a program can require by name ("internal.remoteConfig", ...). The script runtime
// turns each kind into its script value; until it exists they are plain holders of what the
// module answers.
class APMPModule {
  public:
    virtual ~APMPModule() = default;
    // The module's function name.
    virtual const std::string& name() const = 0;
};

// Makes a module when a program first requires it.
using APMPModuleCreator = std::function<std::shared_ptr<APMPModule>()>;
