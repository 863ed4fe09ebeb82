#include "cli/portjob.h"

#include "commands/displaycommands.h"
#include "commands/messagesink.h"
#include "isp/downloadoutcome.h"
#include "isp/firmwaredownload.h"
#include "isp/firmwareimage.h"
#include "link/devicefacts.h"
#include "link/portcatalog.h"
#include "link/seriallink.h"

#include <QStringList>

#include <cstdio>
#include <memory>

namespace {

// The one message a port's opening can show, kept for the summary.
class KeptMessage : public MessageSink {
public:
    void showMessage(const QString &text, const QString &) override { message = text; }
    QString message;
};

}  // namespace

PortJob::PortJob(CliCommand command, Target target, std::array<quint8, 8> packet,
                 std::shared_ptr<const FirmwareImage> image, bool trace, bool namePort)
    : m_command(command), m_target(std::move(target)), m_packet(packet), m_image(std::move(image)), m_trace(trace),
      m_namePort(namePort)
{
}

PortJob::~PortJob() = default;

void PortJob::cancel()
{
    m_cancelled = true;
    // The download lives on this job's thread: reach it there.
    QMetaObject::invokeMethod(this, [this] {
        if (m_download)
            m_download->stop();
    }, Qt::QueuedConnection);
}

void PortJob::run()
{
    m_clock.start();
    m_link = std::make_unique<SerialLink>();
    if (m_trace)
        traceTo(*m_link);
    if (m_cancelled) {
        PortResult result;
        result.outcome = outcomeWord(DownloadOutcome::Cancelled);
        result.exitCode = ExitCode::of(DownloadOutcome::Cancelled);
        if (m_command == CliCommand::Isp)
            result.frames = m_image->frameCount();
        return end(result);
    }
    if (m_command == CliCommand::Isp)
        download();
    else
        sendPacket();
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

void PortJob::download()
{
    const int frames = m_image->frameCount();
    Q_EMIT progress(0, frames);
    KeptMessage kept;
    if (const std::optional<OpenFailure> failure = openCommandPort(m_target, *m_link, kept)) {
        PortResult result;
        result.frames = frames;
        result.outcome = outcomeWord(DownloadOutcome::PortUnavailable);
        result.message = kept.message;
        result.cause = failure->causeLine(PortCatalog::system().deviceList());
        result.exitCode = ExitCode::of(DownloadOutcome::PortUnavailable);
        return end(result);
    }
    m_download = std::make_unique<FirmwareDownload>(*m_link);
    connect(m_download.get(), &FirmwareDownload::progress, this, &PortJob::progress);
    connect(m_download.get(), &FirmwareDownload::finished, this, [this, frames](DownloadOutcome outcome) {
        PortResult result;
        result.frames = frames;
        result.framesSent = m_download->framesSent();
        result.retries = m_download->retries();
        result.cause = m_download->answerCause();
        result.outcome = outcomeWord(outcome);
        result.message = downloadMessage(outcome);
        result.exitCode = ExitCode::of(outcome);
        end(result);
    });
    // A stop that came while the port opened: not a byte goes out.
    if (m_cancelled) {
        PortResult result;
        result.frames = frames;
        result.outcome = outcomeWord(DownloadOutcome::Cancelled);
        result.exitCode = ExitCode::of(DownloadOutcome::Cancelled);
        return end(result);
    }
    m_download->start(m_image->bytes);
}

void PortJob::sendPacket()
{
    KeptMessage kept;
    const std::optional<OpenFailure> failure = m_command == CliCommand::Params
                                                   ? sendParameterPacket(m_target, m_packet, *m_link, kept)
                                                   : sendVersionQuery(m_target, *m_link, kept);
    PortResult result;
    if (failure) {
        result.outcome = outcomeWord(DownloadOutcome::PortUnavailable);
        result.message = kept.message;
        result.cause = failure->causeLine(PortCatalog::system().deviceList());
        result.exitCode = ExitCode::of(DownloadOutcome::PortUnavailable);
        return end(result);
    }
    result.outcome = outcomeWord(DownloadOutcome::Completed);
    result.exitCode = ExitCode::kSuccess;
    // The packet must reach the line before the port closes (the version
    // query closes it so by itself).
    connect(m_link.get(), &SerialLink::drained, this, [this, result] { end(result); }, Qt::SingleShotConnection);
    if (m_command == CliCommand::Params)
        m_link->startDrain();
}
