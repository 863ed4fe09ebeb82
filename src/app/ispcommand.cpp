#include "app/ispcommand.h"

#include "app/operator.h"
#include "commands/displaycommands.h"
#include "isp/firmwareimage.h"
#include "link/seriallink.h"

IspCommand::IspCommand(SerialLink &link, Operator &op, DownloadTimings timings, QObject *parent)
    : QObject(parent), m_link(link), m_operator(op), m_download(link, timings)
{
    connect(&m_download, &FirmwareDownload::progress, this, [this](int accepted, int) { m_operator.setProgressValue(accepted); });
    connect(&m_download, &FirmwareDownload::finished, this, &IspCommand::downloadEnded);
}

void IspCommand::stop()
{
    if (!m_running)
        return;
    m_stopRequested = true;
    m_download.stop();
}

void IspCommand::run(const Target &target)
{
    if (m_running)
        return;
    m_running = true;
    m_stopRequested = false;
    m_openFailure.reset();
    const std::optional<ImagePath> path = m_operator.chooseFirmwareFile();
    if (!path)
        return end(DownloadOutcome::DialogCancelled);

    // Refused images never reach the port: an empty one would have the
    // display erased for nothing, an oversized one would overwrite its start.
    const FirmwareImage image = FirmwareImage::read(*path);
    if (image.verdict != FirmwareImage::Verdict::Ready) {
        m_operator.showMessage(image.refusal(), kTitle);
        return end(outcomeOfRefusal(image.verdict));
    }

    m_operator.imageAccepted(image);
    m_operator.setProgressValue(0);
    m_operator.setProgressMaximum(image.frameCount());
    m_openFailure = openCommandPort(target, m_link, m_operator);
    if (m_openFailure)
        return end(DownloadOutcome::PortUnavailable);

    m_operator.setCommandsEnabled(false);
    // A stop that came while the buttons went grey: not a byte is written.
    if (m_stopRequested)
        return downloadEnded(DownloadOutcome::Cancelled);
    m_download.start(image.bytes);
}

// Every way out after the buttons went grey: message, port, buttons, bar.
void IspCommand::downloadEnded(DownloadOutcome outcome)
{
    Q_EMIT transferEnded(outcome);
    if (const QString message = downloadMessage(outcome); !message.isEmpty())
        m_operator.showMessage(message, kTitle);
    m_link.close();
    m_operator.setCommandsEnabled(true);
    if (outcomeRow(outcome).clearsProgress)
        m_operator.setProgressValue(0);
    end(outcome);
}

void IspCommand::end(DownloadOutcome outcome)
{
    m_running = false;
    Q_EMIT finished(outcome);
}
