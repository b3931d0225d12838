#pragma once

// The scene-delegate counterpart of the app-delegate proxy. There are no scenes on this
// platform: proxying does nothing, and whether it would run follows the app-delegate switches.
class VDUSceneDelegateSwizzler {
  public:
    VDUSceneDelegateSwizzler() = delete;

    // The same answer as DOZAruZizorudeZadazudu::isAppDelegateProxyEnabled().
    static bool isSceneDelegateProxyEnabled();

    // Does nothing.
    static void proxyOriginalSceneDelegate() {}
};
