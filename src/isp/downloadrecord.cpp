#include "isp/downloadrecord.h"

#include "isp/firmwareimage.h"
#include "link/devicefacts.h"

#include <QCryptographicHash>

namespace DownloadRecord {

DisplayKey keyOf(const QString &device)
{
    const QString stable = DeviceFacts::stableName(device);
    const QString byId = stable.startsWith(DeviceFacts::defaultByIdFolder() + QLatin1Char('/')) ? stable : QString();
    return {DeviceFacts::realDevicePath(device), byId};
}

DisplayEntry underWay(const DisplayKey &key, const FirmwareImage &image, const QString &program)
{
    DisplayEntry entry;
    entry.key = key;
    entry.state = DisplayEntry::State::UnderWay;
    entry.image = image.path.shown;
    entry.sha256 = QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex());
    entry.size = image.bytes.size();
    entry.frames = image.frameCount();
    entry.when = QDateTime::currentDateTimeUtc();
    entry.program = program;
    return entry;
}

std::optional<DisplayEntry> afterwards(const DisplayEntry &underWay, const std::optional<DisplayEntry> &earlier,
                                       DownloadOutcome outcome, int framesSent, bool touched)
{
    DisplayEntry entry = underWay;
    switch (outcome) {
    case DownloadOutcome::Completed:
        entry.state = DisplayEntry::State::Holds;
        break;
    case DownloadOutcome::PortUnavailable:
    case DownloadOutcome::AccessTimeout:
    case DownloadOutcome::WrongVersion:
    case DownloadOutcome::AccessRefused:
        // No erase command went out: the display still holds what it held.
        return earlier;
    default:
        if (!touched)
            return earlier;
        entry.state = DisplayEntry::State::DidNotComplete;
        entry.outcome = outcomeWord(outcome);
        entry.framesSent = framesSent;
        break;
    }
    entry.when = QDateTime::currentDateTimeUtc();
    return entry;
}

}  // namespace DownloadRecord
