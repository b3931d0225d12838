#include "app/ApplicationActivation.h"

#include <QGuiApplication>
#include <string>

#include "sdk/core/ZEDOre.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/utilities/VDUNotificationCenter.h"

namespace cb {

void ApplicationActivity::applicationStateChanged(bool active) {
    if (active && !active_) {
        VDUNotificationCenter::defaultCenter().postNotificationName(
            ZEDOre::kApplicationDidBecomeActiveNotification, qGuiApp);
    } else if (!active && active_) {
        VDUNotificationCenter::defaultCenter().postNotificationName(
            std::string(APMAppWillResignActiveNotificationName()), qGuiApp);
    }
    active_ = active;
}

void postActivationNotifications(QObject* context) {
    QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged, context,
                     [activity = ApplicationActivity(QGuiApplication::applicationState() ==
                                                     Qt::ApplicationActive)](
                         Qt::ApplicationState state) mutable {
                         activity.applicationStateChanged(state == Qt::ApplicationActive);
                     });
}

void postDidFinishLaunchingNotification() {
    VDUNotificationCenter::defaultCenter().postNotificationName(
        std::string(APMAppDidFinishLaunchingNotificationName()), qGuiApp);
}

}  // namespace cb
