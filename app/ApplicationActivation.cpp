#include "app/ApplicationActivation.h"

#include <QGuiApplication>

#include "sdk/core/ZEDOre.h"
#include "sdk/utilities/VDUNotificationCenter.h"

namespace cb {

void postActivationNotifications(QObject* context) {
    QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged, context,
                     [](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive) {
                             VDUNotificationCenter::defaultCenter().postNotificationName(
                                 ZEDOre::kApplicationDidBecomeActiveNotification, qGuiApp);
                         }
                     });
}

}  // namespace cb
