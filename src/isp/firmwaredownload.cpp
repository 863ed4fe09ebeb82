#include "isp/firmwaredownload.h"

#include "settings/settings.h"
#include "commands/displaycommands.h"
#include "isp/firmwareimage.h"
#include "isp/ispframes.h"
#include "isp/operator.h"
#include "link/linetiming.h"
#include "link/seriallink.h"

#include <QCoreApplication>
#include <QScopedValueRollback>

#include <optional>
#include <utility>

namespace {

bool clearsProgressOnExit(DownloadOutcome outcome)
{
    return outcome == DownloadOutcome::Completed || outcome == DownloadOutcome::DataFrameFailed
           || outcome == DownloadOutcome::Cancelled;
}

}  // namespace

DownloadOutcome outcomeOfRefusal(FirmwareImage::Verdict verdict)
{
    switch (verdict) {
    case FirmwareImage::Verdict::Empty: return DownloadOutcome::ImageEmpty;
    case FirmwareImage::Verdict::TooLarge: return DownloadOutcome::ImageTooLarge;
    case FirmwareImage::Verdict::Unreadable:
    case FirmwareImage::Verdict::Ready:  // not a refusal: never asked
        break;
    }
    return DownloadOutcome::FileUnreadable;
}

QString downloadMessage(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Completed: return QStringLiteral("ISP Transmit OK!");
    case DownloadOutcome::AccessTimeout: return QStringLiteral("Time Out Error!");
    case DownloadOutcome::WrongVersion: return QStringLiteral("A Incorrect Version No!");
    case DownloadOutcome::AccessRefused: return QStringLiteral("Access ISP Command Failed!");
    case DownloadOutcome::EraseFailed: return QStringLiteral("Erase Command Failed!");
    case DownloadOutcome::DataFrameFailed: return QStringLiteral("Transmit Data Failled!");
    case DownloadOutcome::DialogCancelled:
    case DownloadOutcome::FileUnreadable:   // these carry the file's name: shown where they happen
    case DownloadOutcome::ImageEmpty:
    case DownloadOutcome::ImageTooLarge:
    case DownloadOutcome::PortUnavailable:  // shown by the port opening itself
    case DownloadOutcome::Cancelled:
        break;
    }
    return {};
}

FirmwareDownload::FirmwareDownload(SerialLink &link, Operator &op, DownloadTimings timings)
    : m_link(link), m_operator(op), m_timings(timings), m_wait(link)
{
}

void FirmwareDownload::requestCancel()
{
    if (!m_running)
        return;
    m_cancelRequested = true;
    m_wait.abort();
}

DownloadOutcome FirmwareDownload::run(const Settings &settings, const PortMap &ports)
{
    const QScopedValueRollback running(m_running, true);
    m_cancelRequested = false;
    const std::optional<ImagePath> path = m_operator.chooseFirmwareFile();
    if (!path)
        return DownloadOutcome::DialogCancelled;

    // Refused images never reach the port: an empty one would have the
    // display erased for nothing, an oversized one would overwrite its start.
    const FirmwareImage image = FirmwareImage::read(*path);
    if (image.verdict != FirmwareImage::Verdict::Ready) {
        m_operator.showMessage(image.refusal(), kTitle);
        return outcomeOfRefusal(image.verdict);
    }
    return send(image, settings, ports);
}

DownloadOutcome FirmwareDownload::send(const FirmwareImage &image, const Settings &settings, const PortMap &ports)
{
    Q_ASSERT(image.verdict == FirmwareImage::Verdict::Ready);
    const QScopedValueRollback running(m_running, true);
    m_framesWritten = 0;
    m_framesSent = 0;
    m_openFailure.reset();

    const int frameCount = image.frameCount();
    m_operator.imageAccepted(image.bytes.size());
    m_operator.setProgressValue(0);
    m_operator.setProgressMaximum(frameCount);
    m_wait.AccessPhase = true;

    m_openFailure = openCommandPort(settings, ports, m_link, m_operator);
    if (m_openFailure)
        return DownloadOutcome::PortUnavailable;

    m_operator.setCommandsEnabled(false);
    const DownloadOutcome outcome = talkToDisplay(image.bytes, frameCount);

    // Every way out after the buttons went grey: message, port, buttons, bar.
    if (const QString message = downloadMessage(outcome); !message.isEmpty())
        m_operator.showMessage(message, kTitle);
    m_link.close();
    m_operator.setCommandsEnabled(true);
    if (clearsProgressOnExit(outcome))
        m_operator.setProgressValue(0);
    return outcome;
}

DownloadOutcome FirmwareDownload::talkToDisplay(const QByteArray &image, int frameCount)
{
    switch (sendAndWait(Isp::accessCommand(), m_timings.accessTimeout)) {
    case ReplyCode::Accepted: break;
    case ReplyCode::NoAnswer:
        return m_cancelRequested ? DownloadOutcome::Cancelled : DownloadOutcome::AccessTimeout;
    case ReplyCode::WrongVersion: return DownloadOutcome::WrongVersion;
    case ReplyCode::Refused: return DownloadOutcome::AccessRefused;
    }
    pause(m_timings.pauseAfterAccess);
    m_wait.AccessPhase = false;

    if (sendAndWait(Isp::eraseFrame(), m_timings.eraseTimeout) != ReplyCode::Accepted)
        return m_cancelRequested ? DownloadOutcome::Cancelled : DownloadOutcome::EraseFailed;

    for (int k = 0; k < frameCount; ++k) {
        const qsizetype start = qsizetype(k) * Isp::kBlockSize;
        const QByteArray frame = Isp::dataFrame(quint16(start), image.mid(start, Isp::kBlockSize));
        if (!sendDataFrame(frame))
            return m_cancelRequested ? DownloadOutcome::Cancelled : DownloadOutcome::DataFrameFailed;
        m_operator.setProgressValue(k + 1);
        pause(m_timings.pauseAfterFrame);
    }
    return finish(frameCount);
}

// Success means every data frame accepted, the end frame written whole and
// drained onto the line, and the line never lost on the way: a display that
// vanished during the last pauses did not take the image.
DownloadOutcome FirmwareDownload::finish(int frameCount)
{
    pause(m_timings.pauseBeforeEnd);
    // A stop that came before the end frame leaves a display without it.
    if (stopSeen())
        return DownloadOutcome::Cancelled;
    // Nothing is awaited after the end frame.
    if (!m_link.write(Isp::endFrame()) || !m_link.drain() || m_link.lineWasLost())
        return DownloadOutcome::DataFrameFailed;
    m_operator.setProgressValue(frameCount);
    return DownloadOutcome::Completed;
}

bool FirmwareDownload::sendDataFrame(const QByteArray &frame)
{
    // The same bytes every attempt; no pause between attempts. Only a frame
    // written whole counts: as sent the first time, as a retry after that.
    bool written = false;
    for (int attempt = 1; attempt <= m_timings.dataAttempts; ++attempt) {
        // A lost line takes no more attempts: nothing would reach the display.
        if (attempt > 1 && !m_link.isOpen())
            return false;
        const std::optional<ReplyCode> reply = writeAndWait(frame, m_timings.dataTimeout);
        if (reply) {
            ++m_framesWritten;
            if (!std::exchange(written, true))
                ++m_framesSent;
        }
        if (reply == ReplyCode::Accepted)
            return true;
        if (m_cancelRequested)
            return false;
    }
    return false;
}

ReplyCode FirmwareDownload::sendAndWait(const QByteArray &message, std::chrono::milliseconds limit)
{
    // Not written is as good as silence.
    return writeAndWait(message, limit).value_or(ReplyCode::NoAnswer);
}

std::optional<ReplyCode> FirmwareDownload::writeAndWait(const QByteArray &message, std::chrono::milliseconds limit)
{
    if (stopSeen())
        return std::nullopt;  // nothing more goes out once the operator stopped
    // Stale bytes go before the write, never after it: a quick answer to this
    // message must not be thrown away.
    m_link.dropInput();
    const ReplyWait::Sent sent{std::chrono::steady_clock::now(),
                               LineTiming::wireTime(message.size(), m_link.baudRate())};
    if (!m_link.write(message))
        return std::nullopt;  // the line is gone
    return m_wait.wait(limit, sent);
}

// A pause waits on the stop request too: a stop ends it at once.
void FirmwareDownload::pause(std::chrono::milliseconds duration)
{
    if (duration.count() > 0 && !m_cancelRequested)
        m_wait.pause(duration);
}

// A stop that has arrived but not yet been delivered (a signal's byte in its
// pipe, a request queued from another thread) is taken in here, so that the
// write about to follow never goes out after it.
bool FirmwareDownload::stopSeen()
{
    QCoreApplication::processEvents();
    return m_cancelRequested;
}
