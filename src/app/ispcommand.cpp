#include "app/ispcommand.h"

#include "app/operator.h"
#include "commands/messagesink.h"
#include "isp/firmwareimage.h"

IspCommand::IspCommand(SerialLink &link, Operator &op, RecordKeeper &records, DownloadTimings timings, QObject *parent)
    : QObject(parent), m_operator(op), m_procedure(link, records, timings)
{
    connect(&m_procedure, &DownloadProcedure::portOpened, this, [this] {
        m_greyed = true;
        m_operator.setCommandsEnabled(false);
    });
    connect(&m_procedure, &DownloadProcedure::progress, this, [this](int accepted, int) { m_operator.setProgressValue(accepted); });
    m_procedure.setTeller([this](const DownloadResult &result) { tell(result); });
    connect(&m_procedure, &DownloadProcedure::finished, this, &IspCommand::procedureEnded);
}

void IspCommand::stop()
{
    if (m_running)
        m_procedure.stop();
}

void IspCommand::run(const Target &target, RecordUse use)
{
    if (m_running)
        return;
    m_running = true;
    m_greyed = false;
    m_target = target;
    DownloadResult early;
    const std::optional<ImagePath> path = m_operator.chooseFirmwareFile();
    if (!path) {
        early.outcome = DownloadOutcome::DialogCancelled;
        return end(early);
    }
    // Refused images never reach the port: an empty one would have the
    // display erased for nothing, an oversized one would overwrite its start.
    auto image = std::make_shared<const FirmwareImage>(FirmwareImage::read(*path));
    if (image->verdict != FirmwareImage::Verdict::Ready) {
        m_operator.showMessage(image->refusal(), kTitle);
        early.outcome = outcomeOfRefusal(image->verdict);
        return end(early);
    }
    m_operator.setProgressValue(0);
    m_operator.setProgressMaximum(image->frameCount());
    m_procedure.start(target, image, use, QStringLiteral("custdisp"));
}

// With the port still open: a port that would not open, the record's trouble,
// then the outcome.
void IspCommand::tell(const DownloadResult &result)
{
    if (result.outcome == DownloadOutcome::RecordUnwritable) {
        m_operator.showMessage(QStringLiteral("The display record cannot be written (%1). Nothing was sent.").arg(result.recordError),
                               applicationTitle());
        return;
    }
    if (result.outcome == DownloadOutcome::PortUnavailable)
        m_operator.showMessage(m_target.unavailableText, applicationTitle());
    if (QString warning = result.recordEndWarning(); !warning.isEmpty()) {
        warning[0] = warning[0].toUpper();
        m_operator.showMessage(warning, applicationTitle());
    }
    if (const QString message = downloadMessage(result.outcome); !message.isEmpty())
        m_operator.showMessage(message, kTitle);
}

// The port is closed: buttons, then the bar.
void IspCommand::procedureEnded(const DownloadResult &result)
{
    if (m_greyed)
        m_operator.setCommandsEnabled(true);
    if (m_greyed && outcomeRow(result.outcome).clearsProgress)
        m_operator.setProgressValue(0);
    end(result);
}

void IspCommand::end(const DownloadResult &result)
{
    m_running = false;
    m_greyed = false;
    Q_EMIT finished(result);
}
