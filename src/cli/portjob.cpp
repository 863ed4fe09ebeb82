#include "cli/portjob.h"

#include "commands/displaycommands.h"
#include "commands/messagesink.h"
#include "isp/downloadoutcome.h"
#include "isp/firmwareimage.h"
#include "link/devicefacts.h"
#include "link/portcatalog.h"
#include "link/seriallink.h"

#include <QStringList>

#include <cstdio>

namespace {

// The one message a port's opening can show, kept for the summary.
class KeptMessage : public MessageSink {
public:
    void showMessage(const QString &text, const QString &) override { message = text; }
    QString message;
};

}  // namespace

PortJob::PortJob(CliCommand command, Target target, std::array<quint8, 8> packet,
                 std::shared_ptr<const FirmwareImage> image, bool trace, bool namePort, RecordKeeper &records,
                 RecordUse recordUse, DownloadTimings timings)
    : m_command(command), m_target(std::move(target)), m_packet(packet), m_image(std::move(image)), m_trace(trace),
      m_namePort(namePort), m_recordUse(recordUse), m_records(records), m_timings(timings)
{
}

PortJob::~PortJob() = default;

void PortJob::cancel()
{
    m_cancelled = true;
    if (m_download)
        m_download->stop();
}

void PortJob::run()
{
    m_clock.start();
    m_link = std::make_unique<SerialLink>();
    if (m_trace)
        traceTo(*m_link);
    if (m_cancelled) {
        PortResult result;
        result.outcome = DownloadOutcome::Cancelled;
        if (m_command == CliCommand::Isp)
            result.frames = m_image->frameCount();
        return end(result);
    }
    if (m_command != CliCommand::Isp)
        return sendPacket();
    Q_EMIT progress(0, m_image->frameCount());
    m_download = std::make_unique<DownloadProcedure>(*m_link, m_records, m_timings);
    connect(m_download.get(), &DownloadProcedure::progress, this, &PortJob::progress);
    connect(m_download.get(), &DownloadProcedure::finished, this, &PortJob::downloaded);
    m_download->start(m_target, m_image, m_recordUse, QStringLiteral("custdisp-cli"));
}

void PortJob::end(PortResult result)
{
    m_link->close();
    result.port = m_target.label;
    result.device = DeviceFacts::realDevicePath(m_target.device);
    result.seconds = double(m_clock.elapsed()) / 1000.0;
    Q_EMIT finished(result);
}

// Every byte both ways, time-stamped from the moment the port opens.
void PortJob::traceTo(SerialLink &link) const
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    const auto print = [this, clock](const QString &text) {
        const QString line = QStringLiteral("[%1 ms] ").arg(double(clock->nsecsElapsed()) / 1e6, 10, 'f', 3) + text;
        std::fprintf(stderr, "%s\n", qPrintable(m_namePort ? portLine(m_target.label, line) : line));
    };
    connect(&link, &SerialLink::opened, &link, [print](const QString &given, const QString &real) {
        print(QStringLiteral("open ") + deviceNames(given, real));
    });
    connect(&link, &SerialLink::traffic, &link, [print](bool outgoing, const QByteArray &bytes) {
        print((outgoing ? QStringLiteral("> ") : QStringLiteral("< ")) + QString::fromLatin1(bytes.toHex(' ')));
    });
    connect(&link, &SerialLink::staleDropped, &link, [print](const QByteArray &bytes) {
        print(QStringLiteral("stale: ") + QString::fromLatin1(bytes.toHex(' ')));
    });
    // A message traced just before may not have reached the display.
    connect(&link, &SerialLink::lineLost, &link, [print](const QString &why) { print(QStringLiteral("line lost: ") + why); });
}

void PortJob::downloaded(const DownloadResult &download)
{
    PortResult result;
    result.outcome = download.outcome;
    result.frames = download.frames;
    result.framesSent = download.framesSent;
    result.retries = download.retries;
    result.cause = download.cause;
    result.record = download.record;
    result.recordWarning = download.recordWarning;
    switch (download.outcome) {
    case DownloadOutcome::PortUnavailable:
        result.message = m_target.unavailableText;
        if (download.openFailure)
            result.cause = download.openFailure->causeLine(PortCatalog::system().deviceList());
        break;
    case DownloadOutcome::UpToDate:
        // Said even for one port: a silent success would hide that nothing went out.
        result.message = QStringLiteral("%1: up-to-date, nothing was sent: the display record says it %2")
                             .arg(m_target.label, download.record ? download.record->text() : QString());
        break;
    case DownloadOutcome::RecordUnwritable:
        result.message = QStringLiteral("%1: the display record cannot be written (%2); nothing was sent")
                             .arg(m_target.label, download.recordError);
        break;
    default:
        result.message = downloadMessage(download.outcome);
        break;
    }
    if (const QString warning = download.recordEndWarning(); !warning.isEmpty())
        result.recordWarning = warning;
    end(result);
}

void PortJob::sendPacket()
{
    KeptMessage kept;
    const std::optional<OpenFailure> failure = m_command == CliCommand::Params
                                                   ? sendParameterPacket(m_target, m_packet, *m_link, kept)
                                                   : sendVersionQuery(m_target, *m_link, kept);
    PortResult result;
    if (failure) {
        result.message = kept.message;
        result.cause = failure->causeLine(PortCatalog::system().deviceList());
        result.outcome = DownloadOutcome::PortUnavailable;
        return end(result);
    }
    // The packet must reach the line before the port closes (the version
    // query closes it so by itself).
    connect(
        m_link.get(), &SerialLink::drained, this, [this, result]() mutable {
            result.outcome = DownloadOutcome::Completed;
            end(result);
        },
        Qt::SingleShotConnection);
    if (m_command == CliCommand::Params)
        m_link->startDrain();
}
