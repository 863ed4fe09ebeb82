#include "record/recordplace.h"

#include <QDir>
#include <QStandardPaths>

namespace RecordPlace {

QString sharedFolder()
{
    QString programData = qEnvironmentVariable("ProgramData");
    if (programData.isEmpty())
        programData = QStringLiteral("C:/ProgramData");
    return QDir::fromNativeSeparators(programData) + QStringLiteral("/custdisp");
}

QString userFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/custdisp");
}

}  // namespace RecordPlace
