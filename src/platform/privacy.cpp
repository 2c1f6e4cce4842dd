#include "platform/privacy.h"

#include <QSettings>

namespace quillix::platform {

void KeepQtSettingsPrivate()
{
    // /dev/null is not a folder, so nothing below it can be made, not even by root.
    const QString nowhere = QStringLiteral("/dev/null/quillix");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, nowhere);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, nowhere);
}

}  // namespace quillix::platform
