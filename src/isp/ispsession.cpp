#include "isp/ispsession.h"

#include "isp/ispframes.h"
#include "link/linetiming.h"

#include <algorithm>
#include <utility>

namespace {

using Isp::kAccessAccepted;
using Isp::kFrameAccepted;
using Isp::kWrongVersion;

IspActions &operator+=(IspActions &to, IspActions more)
{
    to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    return to;
}

bool allAre(QByteArrayView bytes, quint8 b)
{
    return std::all_of(bytes.begin(), bytes.end(), [b](char c) { return quint8(c) == b; });
}

// Two different bytes in one answer: neither can be taken for the display's.
bool mixed(QByteArrayView bytes)
{
    return !bytes.isEmpty() && !allAre(bytes, quint8(bytes.front()));
}

}  // namespace

IspSession::IspSession(QByteArray image, qint32 baud, DownloadTimings timings)
    : m_image(std::move(image)), m_baud(baud), m_timings(timings), m_frameCount(Isp::dataFrameCount(m_image.size()))
{
}

std::chrono::microseconds IspSession::quietPeriod() const
{
    return m_timings.adapterLatency + LineTiming::wireTime(3, m_baud);
}

quint8 IspSession::acceptingByte() const
{
    return m_state == State::Access || m_state == State::AfterAccess ? kAccessAccepted : kFrameAccepted;
}

IspActions IspSession::refuse(const char *event)
{
    ++m_refused;
    Q_UNUSED(event);
    return {};
}

IspActions IspSession::start(Time now)
{
    if (m_state != State::Idle)
        return refuse("start, but the download has started already");
    m_state = State::Settle;
    m_purgeEnds = now + m_timings.purgeLimit;
    m_timerAt = now + quietPeriod();
    return {IspAction::timer(m_timerAt)};
}

// A message that awaits an answer. Its gate and its limit start once the
// driver has handed it to the line (written()).
IspActions IspSession::send(State state, QByteArray message, std::chrono::milliseconds limit)
{
    m_state = state;
    m_handedOver = false;
    m_limit = limit;
    m_answer.clear();
    m_message = std::move(message);
    return {IspAction::write(m_message)};
}

IspActions IspSession::written(Time at)
{
    if (m_state == State::EndFrame)
        return {};
    if (!awaiting() || m_handedOver)
        return refuse("written, but no message was to be written");
    m_handedOver = true;
    m_writtenAt = at;
    // A frame counts once written whole: not one the line refused or lost on the way.
    if (m_state == State::Data) {
        ++m_framesWritten;
        if (m_attempt == 1)
            ++m_framesSent;
    }
    const Time wire = LineTiming::wireTime(m_message.size(), m_baud);
    m_earliestAnswer = at + LineTiming::earliestAnswer(wire);
    m_timerAt = at + wire + m_limit;
    return {IspAction::timer(m_timerAt)};
}

// The same bytes every attempt; the frame is built once per block.
IspActions IspSession::sendFrame()
{
    const qsizetype start = qsizetype(m_frame) * Isp::kBlockSize;
    QByteArray frame = m_attempt == 1 ? Isp::dataFrame(quint16(start), m_image.mid(start, Isp::kBlockSize)) : m_message;
    return send(State::Data, std::move(frame), m_timings.dataTimeout);
}

// An acceptance held while the line has its say: the pause that follows it
// (a quiet period where that is shorter), and at least until the display's own answer would have come had the byte
// been a stray (the gate lets one through as early as the clocks' tolerance
// allows): the wire time as a slow clock counts it, the answer's own byte,
// and a quiet period.
IspActions IspSession::hold(State state, std::chrono::milliseconds pause, Time now)
{
    const Time wire = LineTiming::wireTime(m_message.size(), m_baud);
    const Time ownAnswerBy = m_writtenAt + LineTiming::surelyCrossed(wire) + LineTiming::wireTime(1, m_baud) + quietPeriod();
    m_state = state;
    m_timerAt = std::max<Time>(now + std::max<Time>(pause, quietPeriod()), ownAnswerBy);
    return {IspAction::timer(m_timerAt)};
}

IspActions IspSession::next(Time)
{
    switch (m_state) {
    case State::AfterAccess:
        return send(State::Erase, Isp::eraseFrame(), m_timings.eraseTimeout);
    case State::AfterErase:
        m_frame = 0;
        m_attempt = 1;
        return sendFrame();
    case State::AfterFrame: {
        IspActions actions;
        if (m_frame + 1 < m_frameCount) {
            ++m_frame;
            m_attempt = 1;
            actions += sendFrame();
            return actions;
        }
        // Nothing is awaited after the end frame; success needs it on the wire.
        m_state = State::EndFrame;
        m_message = Isp::endFrame();
        actions.push_back(IspAction::write(m_message));
        actions.push_back(IspAction::drain());
        return actions;
    }
    default:
        return {};
    }
}

IspActions IspSession::bytesReceived(QByteArrayView bytes, Time at)
{
    if (m_state == State::Done)
        return refuse("bytes after the end");
    if (bytes.isEmpty())
        return {};
    m_lastByte = at;
    if (awaiting() && m_handedOver && at >= m_earliestAnswer)
        return judge(bytes, at);
    // A second accepting byte agrees with the first: an echo, no news.
    if (holding() && !allAre(bytes, acceptingByte()))
        return doubt(bytes, at);
    IspActions actions{IspAction::stale(bytes.toByteArray())};
    if (m_state == State::Purge || m_state == State::Settle) {
        // The line is not quiet yet: wait on, within the limit.
        m_timerAt = std::min<Time>(at + quietPeriod(), m_purgeEnds);
        actions.push_back(IspAction::timer(m_timerAt));
    }
    return actions;
}

IspActions IspSession::timerEnded(Time now)
{
    if (m_state == State::Idle || m_state == State::Done)
        return refuse("a timer, but none was asked for");
    if (m_state == State::EndFrame)
        return {};
    if (now < m_timerAt)  // woken early: the timer stands
        return {IspAction::timer(m_timerAt)};
    if (awaiting()) {
        if (!m_handedOver)
            return refuse("a timer before the message was written");
        switch (m_state) {
        case State::Access: return finish(DownloadOutcome::AccessTimeout);
        case State::Erase: return finish(DownloadOutcome::EraseFailed);
        default: return retryOrFail(now);
        }
    }
    if (m_state == State::Purge || m_state == State::Settle)
        return purgeTimerEnded(now);
    return next(now);
}

// Every byte of the read counts: an acceptance needs all of them to accept.
IspActions IspSession::judge(QByteArrayView answer, Time at)
{
    m_answer += answer.toByteArray();
    const bool accepted = allAre(answer, acceptingByte());
    switch (m_state) {
    case State::Access:
        if (accepted)
            return hold(State::AfterAccess, m_timings.pauseAfterAccess, at);
        if (allAre(answer, kWrongVersion))
            return finish(DownloadOutcome::WrongVersion);
        return finish(DownloadOutcome::AccessRefused);
    case State::Erase:
        if (accepted)
            return hold(State::AfterErase, std::chrono::milliseconds(0), at);
        return finish(DownloadOutcome::EraseFailed);
    case State::Data:
        if (accepted) {
            // The pause after the last frame runs on into the one before the end frame.
            const bool last = m_frame + 1 >= m_frameCount;
            IspActions actions{IspAction::progress(m_frame + 1)};
            actions += hold(State::AfterFrame,
                            m_timings.pauseAfterFrame + (last ? m_timings.pauseBeforeEnd : std::chrono::milliseconds(0)), at);
            return actions;
        }
        return retryOrFail(at);
    default:
        return {};
    }
}

// A byte the acceptance cannot explain: it stands no more.
IspActions IspSession::doubt(QByteArrayView bytes, Time at)
{
    m_answer += bytes.toByteArray();
    switch (m_state) {
    case State::AfterAccess: return finish(DownloadOutcome::AccessRefused);
    case State::AfterErase: return finish(DownloadOutcome::EraseFailed);
    default: {
        // The bar takes the frame back.
        IspActions actions{IspAction::progress(m_frame)};
        actions += retryOrFail(at);
        return actions;
    }
    }
}

// Refused, unanswered or in doubt: the frame once more, on a quiet line.
IspActions IspSession::retryOrFail(Time now)
{
    if (m_attempt >= m_timings.dataAttempts)
        return finish(DownloadOutcome::DataFrameFailed);
    ++m_attempt;
    m_state = State::Purge;
    m_purgeEnds = now + m_timings.purgeLimit;
    const Time quietAt = m_lastByte ? *m_lastByte + quietPeriod() : now;
    if (quietAt <= now)
        return sendFrame();
    m_timerAt = std::min(quietAt, m_purgeEnds);
    return {IspAction::timer(m_timerAt)};
}

IspActions IspSession::purgeTimerEnded(Time now)
{
    const bool settling = m_state == State::Settle;
    if (!m_lastByte || now >= *m_lastByte + quietPeriod())
        return settling ? send(State::Access, Isp::accessCommand(), m_timings.accessTimeout) : sendFrame();
    // Chattering for the whole limit: whatever the display holds, nothing
    // more can be said to it.
    return finish(settling ? DownloadOutcome::AccessRefused : DownloadOutcome::DataFrameFailed);
}

IspActions IspSession::writeFailed(Time now)
{
    if (m_state == State::Done || m_state == State::Idle)
        return refuse("a failed write, but nothing was written");
    return lineLost(now);
}

IspActions IspSession::drained(bool whole, Time)
{
    if (m_state != State::EndFrame)
        return refuse("drained, but no drain was asked for");
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
        return refuse("the line lost, but no download runs");
    case State::Settle:
    case State::Access:
        return finish(DownloadOutcome::AccessTimeout);
    case State::AfterAccess:
    case State::Erase:
    case State::AfterErase:
        return finish(DownloadOutcome::EraseFailed);
    default:
        return finish(DownloadOutcome::DataFrameFailed);
    }
}

IspActions IspSession::stop(Time)
{
    // The end frame on the wire cannot be taken back: the download completes.
    if (m_state == State::EndFrame)
        return {};
    if (m_state == State::Done)
        return refuse("a stop after the end");
    return finish(DownloadOutcome::Cancelled);
}

IspActions IspSession::finish(DownloadOutcome outcome)
{
    m_state = State::Done;
    if (outcome != DownloadOutcome::Completed && mixed(m_answer))
        m_mixed = m_answer;
    return {IspAction::finish(outcome)};
}
