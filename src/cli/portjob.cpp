#include "cli/portjob.h"

#include "cli/exitstatus.h"
#include "cli/imagefacts.h"
#include "commands/displaycommands.h"
#include "commands/messagesink.h"
#include "isp/downloadoutcome.h"
#include "isp/downloadrecord.h"
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
                 std::shared_ptr<const FirmwareImage> image, bool trace, bool namePort, RecordUse recordUse)
    : m_command(command), m_target(std::move(target)), m_packet(packet), m_image(std::move(image)), m_trace(trace),
      m_namePort(namePort), m_recordUse(recordUse)
{
}

PortJob::~PortJob() = default;

void PortJob::cancel()
{
    m_cancelled = true;
    // From the loop, after whatever event is being handled now.
    QMetaObject::invokeMethod(
        this, [this] {
            if (m_download)
                m_download->stop();
        },
        Qt::QueuedConnection);
}

void PortJob::run()
{
    m_clock.start();
    m_link = std::make_unique<SerialLink>();
    if (m_trace)
        traceTo(*m_link);
    if (m_cancelled) {
        PortResult result;
        if (m_command == CliCommand::Isp)
            result.frames = m_image->frameCount();
        return end(DownloadOutcome::Cancelled, result);
    }
    if (m_command == CliCommand::Isp)
        download();
    else
        sendPacket();
}

void PortJob::end(DownloadOutcome outcome, PortResult result)
{
    m_link->close();
    result.outcome = outcomeWord(outcome);
    result.exitCode = ExitCode::of(outcome);
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
    PortResult result;
    result.frames = frames;
    // The result is passed along: the download ends after this returns.
    const auto endAs = [this](DownloadOutcome outcome, PortResult result) {
        endRecord(outcome, result);
        if (result.message.isEmpty())
            result.message = downloadMessage(outcome);
        end(outcome, result);
    };
    if (const std::optional<DownloadOutcome> before = beginRecord(result))
        return endAs(*before, result);
    KeptMessage kept;
    if (const std::optional<OpenFailure> failure = openCommandPort(m_target, *m_link, kept)) {
        result.message = kept.message;
        result.cause = failure->causeLine(PortCatalog::system().deviceList());
        return endAs(DownloadOutcome::PortUnavailable, result);
    }
    // A stop that came while the port opened: not a byte goes out.
    if (m_cancelled)
        return endAs(DownloadOutcome::Cancelled, result);
    m_download = std::make_unique<FirmwareDownload>(*m_link);
    connect(m_download.get(), &FirmwareDownload::progress, this, &PortJob::progress);
    connect(m_download.get(), &FirmwareDownload::finished, this, [this, result, endAs](DownloadOutcome outcome) mutable {
        result.framesSent = m_download->framesSent();
        result.retries = m_download->retries();
        result.cause = m_download->answerCause();
        endAs(outcome, result);
    });
    m_download->start(m_image->bytes);
}

// The display's entry says "under way" on disk before the port is even
// opened; with --skip-held a display that holds this very image is left
// alone. An outcome when the download must not start.
std::optional<DownloadOutcome> PortJob::beginRecord(PortResult &result)
{
    if (!m_recordUse.keep)
        return std::nullopt;
    const DisplayKey key = DownloadRecord::keyOf(m_target.device);
    if (m_recordUse.skipHeld) {
        const DisplayRecord::Contents contents = m_displayRecord.load();
        result.recordWarning = contents.warning;
        result.record = contents.find(key);
        if (result.record && result.record->holds(ImageFacts::of(*m_image).sha256)) {
            // Said even for one port: a silent success would hide that nothing went out.
            result.message = QStringLiteral("%1: up-to-date, nothing was sent: the display record says it %2")
                                 .arg(m_target.label, result.record->text());
            return DownloadOutcome::UpToDate;
        }
    }
    m_keeper.emplace(m_displayRecord);
    if (const QString why = m_keeper->begin(m_target.device, *m_image, QStringLiteral("custdisp-cli")); !why.isEmpty()) {
        result.message = QStringLiteral("%1: the display record cannot be written (%2); nothing was sent").arg(m_target.label, why);
        result.record.reset();
        m_keeper.reset();
        return DownloadOutcome::RecordUnwritable;
    }
    if (result.recordWarning.isEmpty())
        result.recordWarning = m_keeper->warning();
    return std::nullopt;
}

void PortJob::endRecord(DownloadOutcome outcome, PortResult &result)
{
    if (!m_keeper)
        return;
    if (const QString why = m_keeper->end(outcome, result.framesSent); !why.isEmpty())
        result.recordWarning = QStringLiteral("the display record still says the download is under way: ") + why;
    result.record = m_displayRecord.load().find(DownloadRecord::keyOf(m_target.device));
    m_keeper.reset();
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
        return end(DownloadOutcome::PortUnavailable, result);
    }
    // The packet must reach the line before the port closes (the version
    // query closes it so by itself).
    connect(
        m_link.get(), &SerialLink::drained, this, [this, result] { end(DownloadOutcome::Completed, result); },
        Qt::SingleShotConnection);
    if (m_command == CliCommand::Params)
        m_link->startDrain();
}
