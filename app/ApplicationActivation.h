#pragma once

class QObject;

namespace cb {

// Posts the application's activity on the SDK's default notification center for as long as
// `context` lives: "NSApplicationDidBecomeActiveNotification" each time Qt reports the
// application active (the SDK's configured apps log their heartbeats on it), and
// "NSApplicationWillResignActiveNotification" each time its state leaves active (the
// measurement engine uploads then). REQUIRES: a QGuiApplication exists; called on the UI thread.
void postActivationNotifications(QObject* context);

// What postActivationNotifications posts for each state Qt reports, given the state before: a
// notification for each change into or out of the active state, nothing otherwise.
class ApplicationActivity {
  public:
    explicit ApplicationActivity(bool active) : active_(active) {}
    void applicationStateChanged(bool active);

  private:
    bool active_;
};

// Posts "NSApplicationDidFinishLaunchingNotification" once the launch has run.
// REQUIRES: a QGuiApplication exists; called on the UI thread.
void postDidFinishLaunchingNotification();

}  // namespace cb
