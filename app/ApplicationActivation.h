#pragma once

class QObject;

namespace cb {

// Posts "NSApplicationDidBecomeActiveNotification" on the SDK's default notification center
// each time Qt reports the application active, for as long as `context` lives. The SDK's
// configured apps log their heartbeats on it. REQUIRES: a QGuiApplication exists; called on the
// UI thread.
void postActivationNotifications(QObject* context);

}  // namespace cb
