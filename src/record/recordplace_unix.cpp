#include "record/recordplace.h"

#include <QDir>

namespace RecordPlace {

QString sharedFolder()
{
    return QStringLiteral("/var/lib/custdisp");
}

QString userFolder()
{
    // Qt before 6.7 has no state location; this is the XDG rule.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/custdisp");
}

}  // namespace RecordPlace
