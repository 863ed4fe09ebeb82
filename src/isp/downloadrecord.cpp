#include "isp/downloadrecord.h"

#include "isp/firmwareimage.h"
#include "link/devicefacts.h"

#include <QCryptographicHash>

DownloadRecord::DownloadRecord(DisplayRecord record) : m_record(std::move(record))
{
}

DisplayKey DownloadRecord::keyOf(const QString &device)
{
    const QString stable = DeviceFacts::stableName(device);
    const QString byId = stable.startsWith(DeviceFacts::defaultByIdFolder() + QLatin1Char('/')) ? stable : QString();
    return {DeviceFacts::realDevicePath(device), byId};
}

QString DownloadRecord::begin(const QString &device, const FirmwareImage &image, const QString &program)
{
    DisplayEntry entry;
    entry.key = keyOf(device);
    entry.state = DisplayEntry::State::UnderWay;
    entry.image = image.path.shown;
    entry.sha256 = QString::fromLatin1(QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex());
    entry.size = image.bytes.size();
    entry.frames = image.frameCount();
    entry.when = QDateTime::currentDateTimeUtc();
    entry.program = program;
    const DisplayRecord::Contents contents = m_record.load();
    m_warning = contents.warning;
    m_earlier = contents.find(entry.key);
    m_current.reset();
    if (QString why = m_record.put(entry.key, entry); !why.isEmpty())
        return why;
    m_current = entry;
    return {};
}

QString DownloadRecord::end(DownloadOutcome outcome, int framesSent)
{
    if (!m_current)
        return {};
    DisplayEntry entry = *m_current;
    m_current.reset();
    switch (outcome) {
    case DownloadOutcome::Completed:
        entry.state = DisplayEntry::State::Holds;
        break;
    case DownloadOutcome::PortUnavailable:
    case DownloadOutcome::AccessTimeout:
    case DownloadOutcome::WrongVersion:
    case DownloadOutcome::AccessRefused:
        // No erase command went out: the display still holds what it held.
        return m_record.put(entry.key, m_earlier);
    default:
        entry.state = DisplayEntry::State::DidNotComplete;
        entry.outcome = outcomeWord(outcome);
        entry.framesSent = framesSent;
        break;
    }
    entry.when = QDateTime::currentDateTimeUtc();
    return m_record.put(entry.key, entry);
}
