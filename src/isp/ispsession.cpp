#include "isp/ispsession.h"

#include "isp/ispframes.h"
#include "link/linetiming.h"

#include <utility>

namespace {

using Isp::kAccessAccepted;
using Isp::kFrameAccepted;
using Isp::kWrongVersion;

// How the first byte of an answer is judged.
enum Reply { NoAnswer, Accepted, Refused, WrongVersion };

Reply classify(quint8 first, bool accessPhase)
{
    if (accessPhase)
        return first == kAccessAccepted ? Accepted : first == kWrongVersion ? WrongVersion : Refused;
    return first == kFrameAccepted ? Accepted : Refused;
}

IspActions &operator+=(IspActions &to, IspActions more)
{
    to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    return to;
}

}  // namespace

IspSession::IspSession(QByteArray image, qint32 baud, DownloadTimings timings)
    : m_image(std::move(image)), m_baud(baud), m_timings(timings), m_frameCount(Isp::dataFrameCount(m_image.size()))
{
}

IspActions IspSession::start(Time now)
{
    if (m_state != State::Idle)
        return {};
    return send(State::Access, Isp::accessCommand(), m_timings.accessTimeout, now);
}

// A message that awaits an answer: written, then its answer limit starts
// once it has crossed the line.
IspActions IspSession::send(State state, QByteArray message, std::chrono::milliseconds limit, Time now)
{
    const Time wire = LineTiming::wireTime(message.size(), m_baud);
    m_state = state;
    m_earliestAnswer = now + LineTiming::earliestAnswer(wire);
    m_timerAt = now + wire + limit;
    m_message = std::move(message);
    if (state == State::Data) {
        ++m_framesWritten;
        if (m_attempt == 1)
            ++m_framesSent;
    }
    return {IspAction::write(m_message), IspAction::timer(m_timerAt)};
}

// The same bytes every attempt; the frame is built once per block.
IspActions IspSession::sendFrame(Time now)
{
    const qsizetype start = qsizetype(m_frame) * Isp::kBlockSize;
    QByteArray frame = m_attempt == 1 ? Isp::dataFrame(quint16(start), m_image.mid(start, Isp::kBlockSize)) : m_message;
    return send(State::Data, std::move(frame), m_timings.dataTimeout, now);
}

IspActions IspSession::pause(State state, std::chrono::milliseconds duration, Time now)
{
    m_state = state;
    if (duration.count() <= 0)
        return next(now);
    m_timerAt = now + duration;
    return {IspAction::timer(m_timerAt)};
}

IspActions IspSession::next(Time now)
{
    switch (m_state) {
    case State::AfterAccess:
        return send(State::Erase, Isp::eraseFrame(), m_timings.eraseTimeout, now);
    case State::AfterFrame:
        if (++m_frame < m_frameCount) {
            m_attempt = 1;
            return sendFrame(now);
        }
        return pause(State::BeforeEnd, m_timings.pauseBeforeEnd, now);
    case State::BeforeEnd:
        // Nothing is awaited after the end frame; success needs it on the wire.
        m_state = State::EndFrame;
        m_message = Isp::endFrame();
        return {IspAction::write(m_message), IspAction::drain()};
    default:
        return {};
    }
}

IspActions IspSession::bytesReceived(QByteArrayView bytes, Time at)
{
    if (bytes.isEmpty())
        return {};
    // A stray byte, or a late echo of an earlier answer: no answer to this message.
    if (!awaiting() || at < m_earliestAnswer)
        return {IspAction::stale(bytes.toByteArray())};
    // Only the first byte counts; the rest of the chunk is dropped.
    return judge(classify(quint8(bytes.front()), m_state == State::Access), at);
}

IspActions IspSession::timerEnded(Time now)
{
    if (m_state == State::Idle || m_state == State::EndFrame || m_state == State::Done)
        return {};
    if (now < m_timerAt)  // woken early: the timer stands
        return {IspAction::timer(m_timerAt)};
    return awaiting() ? judge(NoAnswer, now) : next(now);
}

IspActions IspSession::judge(int reply, Time now)
{
    switch (m_state) {
    case State::Access:
        switch (reply) {
        case Accepted: return pause(State::AfterAccess, m_timings.pauseAfterAccess, now);
        case NoAnswer: return finish(DownloadOutcome::AccessTimeout);
        case WrongVersion: return finish(DownloadOutcome::WrongVersion);
        default: return finish(DownloadOutcome::AccessRefused);
        }
    case State::Erase:
        if (reply != Accepted)
            return finish(DownloadOutcome::EraseFailed);
        m_frame = 0;
        m_attempt = 1;
        return sendFrame(now);
    case State::Data:
        if (reply == Accepted) {
            IspActions actions{IspAction::progress(m_frame + 1)};
            actions += pause(State::AfterFrame, m_timings.pauseAfterFrame, now);
            return actions;
        }
        if (m_attempt < m_timings.dataAttempts) {
            ++m_attempt;
            return sendFrame(now);
        }
        return finish(DownloadOutcome::DataFrameFailed);
    default:
        return {};
    }
}

IspActions IspSession::writeFailed(Time now)
{
    // A frame counts once written whole.
    if (m_state == State::Data) {
        --m_framesWritten;
        if (m_attempt == 1)
            --m_framesSent;
    }
    return lineLost(now);
}

IspActions IspSession::drained(bool whole, Time)
{
    if (m_state != State::EndFrame)
        return {};
    if (!whole)
        return finish(DownloadOutcome::DataFrameFailed);
    IspActions actions{IspAction::progress(m_frameCount)};
    actions += finish(DownloadOutcome::Completed);
    return actions;
}

// A lost line takes no more attempts: nothing would reach the display. It
// fails the step under way; after the last accepted frame that is the data.
IspActions IspSession::lineLost(Time)
{
    switch (m_state) {
    case State::Idle:
    case State::Done:
        return {};
    case State::Access:
        return finish(DownloadOutcome::AccessTimeout);
    case State::AfterAccess:
    case State::Erase:
        return finish(DownloadOutcome::EraseFailed);
    default:
        return finish(DownloadOutcome::DataFrameFailed);
    }
}

IspActions IspSession::stop(Time)
{
    // The driver gives no stop once the end frame is on the wire: a stop
    // cannot take it back, and the download completes.
    if (m_state == State::Done)
        return {};
    return finish(DownloadOutcome::Cancelled);
}

IspActions IspSession::finish(DownloadOutcome outcome)
{
    m_state = State::Done;
    return {IspAction::finish(outcome)};
}
