#include "isp/firmwaredownload.h"

#include "commands/displaycommands.h"
#include "isp/firmwareimage.h"
#include "isp/ispframes.h"
#include "isp/operator.h"
#include "link/seriallink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <functional>

#include <optional>
#include <utility>

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

FirmwareDownload::FirmwareDownload(SerialLink &link, Operator &op, DownloadTimings timings)
    : m_link(link), m_operator(op), m_timings(timings)
{
}

void FirmwareDownload::requestCancel()
{
    if (!m_running)
        return;
    m_cancelRequested = true;
    if (m_stop)
        m_stop();
}

DownloadOutcome FirmwareDownload::run(const Target &target)
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
    return send(image, target);
}

DownloadOutcome FirmwareDownload::send(const FirmwareImage &image, const Target &target)
{
    Q_ASSERT(image.verdict == FirmwareImage::Verdict::Ready);
    const QScopedValueRollback running(m_running, true);
    m_framesWritten = 0;
    m_framesSent = 0;
    m_openFailure.reset();

    const int frameCount = image.frameCount();
    m_operator.imageAccepted(image);
    m_operator.setProgressValue(0);
    m_operator.setProgressMaximum(frameCount);

    m_openFailure = openCommandPort(target, m_link, m_operator);
    if (m_openFailure)
        return DownloadOutcome::PortUnavailable;

    m_operator.setCommandsEnabled(false);
    IspSession session(image.bytes, m_link.baudRate(), m_timings);
    const DownloadOutcome outcome = drive(session);

    // Every way out after the buttons went grey: message, port, buttons, bar.
    if (const QString message = downloadMessage(outcome); !message.isEmpty())
        m_operator.showMessage(message, kTitle);
    m_link.close();
    m_operator.setCommandsEnabled(true);
    if (outcomeRow(outcome).clearsProgress)
        m_operator.setProgressValue(0);
    return outcome;
}

// The session decides; this only carries its actions to the line, the bar
// and the clock, and the line's events back to it, inside a local event loop
// so the window stays live.
DownloadOutcome FirmwareDownload::drive(IspSession &session)
{
    using namespace std::chrono;
    QElapsedTimer clock;
    clock.start();
    const auto now = [&clock] { return IspSession::Time(clock.nsecsElapsed() / 1000); };
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    // The coarse default fires up to 5% early: a 3000 ms limit must be 3000 ms.
    timer.setTimerType(Qt::PreciseTimer);
    std::optional<DownloadOutcome> outcome;
    bool draining = false;  // the end frame is written: a stop cannot take it back

    std::function<void(IspActions)> apply = [&](IspActions actions) {
        for (const IspAction &a : actions) {
            if (outcome)
                return;
            switch (a.kind) {
            case IspAction::Kind::Write:
                // A stop that has arrived but not been delivered yet comes first.
                if (stopSeen())
                    return apply(session.stop(now()));
                // Stale bytes go before the write, never after it: a quick
                // answer to this message must not be thrown away.
                m_link.dropInput();
                if (!m_link.write(a.bytes))
                    return apply(session.writeFailed(now()));
                break;
            case IspAction::Kind::Drain:
                draining = true;
                return apply(session.drained(m_link.drain() && !m_link.lineWasLost(), now()));
            case IspAction::Kind::Timer:
                timer.start(std::max(ceil<milliseconds>(a.at - now()), milliseconds(0)));
                break;
            case IspAction::Kind::Progress:
                m_operator.setProgressValue(a.value);
                break;
            case IspAction::Kind::Stale:
                m_link.noteStale(a.bytes);
                break;
            case IspAction::Kind::Finish:
                outcome = a.outcome;
                loop.quit();
                return;
            }
        }
    };

    QObject scope;
    QObject::connect(&timer, &QTimer::timeout, &scope, [&] { apply(session.timerEnded(now())); });
    QObject::connect(&m_link, &LineLink::bytesArrived, &scope, [&] { apply(session.bytesReceived(m_link.takeInput(), now())); });
    QObject::connect(&m_link, &LineLink::lineLost, &scope, [&] { apply(session.lineLost(now())); });
    m_stop = [&] {
        if (!draining)
            apply(session.stop(now()));
    };
    const auto cleanup = qScopeGuard([this] { m_stop = nullptr; });

    apply(session.start(now()));
    if (!outcome)
        loop.exec();
    m_framesWritten = session.framesWritten();
    m_framesSent = session.framesSent();
    return outcome.value_or(DownloadOutcome::Cancelled);
}

// A stop that has arrived but not yet been delivered (a signal's byte in its
// pipe, a request queued from another thread) is taken in here, so that the
// write about to follow never goes out after it.
bool FirmwareDownload::stopSeen()
{
    QCoreApplication::processEvents();
    return m_cancelRequested;
}
