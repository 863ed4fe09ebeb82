#include "cli/portjob.h"

#include "isp/downloadoutcome.h"
#include "commands/displaycommands.h"
#include "isp/firmwaredownload.h"
#include "isp/firmwareimage.h"
#include "isp/operator.h"
#include "link/devicefacts.h"
#include "link/portcatalog.h"
#include "link/seriallink.h"

#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>
#include <memory>

// The download's operator for one of several ports: progress goes to the
// main thread as signals, the message is kept for the summary.
class JobOperator : public Operator {
public:
    explicit JobOperator(PortJob &job) : m_job(job) {}

    void showMessage(const QString &text, const QString &) override { message = text; }
    std::optional<ImagePath> chooseFirmwareFile() override { return std::nullopt; }
    void setProgressMaximum(int maximum) override
    {
        m_maximum = maximum;
        Q_EMIT m_job.progress(m_value, m_maximum);
    }
    void setProgressValue(int value) override
    {
        m_value = value;
        Q_EMIT m_job.progress(m_value, m_maximum);
    }
    void setCommandsEnabled(bool) override {}

    QString message;

private:
    PortJob &m_job;
    int m_value = 0;
    int m_maximum = 0;
};


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
    // The download's wait runs in this job's thread: reach it there.
    QMetaObject::invokeMethod(
        this, [this] {
            if (m_download)
                m_download->requestCancel();
        },
        Qt::QueuedConnection);
}

void PortJob::run()
{
    QElapsedTimer clock;
    clock.start();
    SerialLink link;
    if (m_trace)
        traceTo(link);
    JobOperator op(*this);
    PortResult result = m_command == CliCommand::Isp ? download(link, op) : sendPacket(link, op);
    result.port = m_target.label;
    result.device = DeviceFacts::realDevicePath(m_target.device);
    result.seconds = double(clock.elapsed()) / 1000.0;
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

PortResult PortJob::download(SerialLink &link, JobOperator &op)
{
    PortResult result;
    result.frames = m_image->frameCount();
    DownloadOutcome outcome = DownloadOutcome::Cancelled;
    if (!m_cancelled) {
        FirmwareDownload procedure(link, op);
        m_download = &procedure;
        outcome = procedure.send(*m_image, m_target);
        m_download = nullptr;
        result.framesSent = procedure.framesSent();
        result.retries = procedure.retries();
        if (procedure.openFailure())
            result.cause = procedure.openFailure()->causeLine(PortCatalog::system().deviceList());
        else
            result.cause = procedure.answerCause();
    }
    result.outcome = outcomeWord(outcome);
    result.message = outcome == DownloadOutcome::PortUnavailable ? op.message : downloadMessage(outcome);
    result.exitCode = ExitCode::of(outcome);
    return result;
}

PortResult PortJob::sendPacket(SerialLink &link, JobOperator &op)
{
    PortResult result;
    if (m_cancelled) {
        result.outcome = outcomeWord(DownloadOutcome::Cancelled);
        result.exitCode = ExitCode::of(DownloadOutcome::Cancelled);
        return result;
    }
    const std::optional<OpenFailure> failure = m_command == CliCommand::Params
                                                   ? sendParameterPacket(m_target, m_packet, link, op)
                                                   : sendVersionQuery(m_target, link, op);
    link.close();
    if (failure) {
        result.outcome = outcomeWord(DownloadOutcome::PortUnavailable);
        result.message = op.message;
        result.cause = failure->causeLine(PortCatalog::system().deviceList());
        result.exitCode = ExitCode::of(DownloadOutcome::PortUnavailable);
    } else {
        result.outcome = outcomeWord(DownloadOutcome::Completed);
        result.exitCode = ExitCode::kSuccess;
    }
    return result;
}
