#include "link/replywait.h"

#include "link/linetiming.h"
#include "link/seriallink.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

ReplyCode Reply::classify(QByteArrayView chunk, bool accessPhase)
{
    if (chunk.isEmpty())
        return ReplyCode::NoAnswer;
    const auto first = quint8(chunk.front());
    if (accessPhase) {
        if (first == kAccessAccepted)
            return ReplyCode::Accepted;
        return first == kWrongVersion ? ReplyCode::WrongVersion : ReplyCode::Refused;
    }
    return first == kFrameAccepted ? ReplyCode::Accepted : ReplyCode::Refused;
}

ReplyWait::ReplyWait(SerialLink &link, QObject *parent) : QObject(parent), m_link(link)
{
}

void ReplyWait::takeAnswer()
{
    // Nothing is an answer before the message could have crossed the line:
    // a stray byte or a late echo of an earlier answer.
    if (std::chrono::steady_clock::now() < m_earliestAnswer) {
        m_link.dropStale();
        return;
    }
    const QByteArray chunk = m_link.takeInput();
    if (chunk.isEmpty())
        return;  // a wake-up without bytes: keep waiting
    // Only the first byte of the first chunk counts; the rest is dropped.
    m_replyCode = Reply::classify(chunk, AccessPhase);
    m_waitDone = true;
    if (m_loop)
        m_loop->quit();
}

ReplyCode ReplyWait::wait(std::chrono::milliseconds limit, Sent sent)
{
    using namespace std::chrono;
    m_earliestAnswer = sent.at + LineTiming::earliestAnswer(sent.wireTime);
    const auto deadline = sent.at + sent.wireTime + limit;
    m_replyCode = ReplyCode::NoAnswer;
    m_waitDone = false;
    if (!m_link.isOpen()) {
        m_waitDone = true;
        return m_replyCode;
    }
    // An answer may already be buffered.
    if (m_link.bytesAvailable() > 0) {
        takeAnswer();
        if (m_waitDone)
            return m_replyCode;
    }

    const auto arrived = connect(&m_link, &SerialLink::bytesArrived, this, &ReplyWait::takeAnswer);
    const auto lost = connect(&m_link, &SerialLink::lineLost, this, [this] {
        m_waitDone = true;
        if (m_loop)
            m_loop->quit();
    });
    const auto cleanup = qScopeGuard([&] {
        disconnect(arrived);
        disconnect(lost);
    });
    const auto left = ceil<milliseconds>(deadline - steady_clock::now());
    runFor(std::max(left, milliseconds(0)));
    m_waitDone = true;
    return m_replyCode;
}

void ReplyWait::pause(std::chrono::milliseconds duration)
{
    m_waitDone = false;
    runFor(duration);
    m_waitDone = true;
}

void ReplyWait::runFor(std::chrono::milliseconds limit)
{
    QEventLoop loop;
    QTimer limitTimer;
    limitTimer.setSingleShot(true);
    // The coarse default fires up to 5% early: a 3000 ms limit must be 3000 ms.
    limitTimer.setTimerType(Qt::PreciseTimer);
    connect(&limitTimer, &QTimer::timeout, &loop, [this, &loop] {
        m_waitDone = true;
        loop.quit();
    });
    m_loop = &loop;
    const auto cleanup = qScopeGuard([&] { m_loop = nullptr; });
    limitTimer.start(limit);
    if (!m_waitDone)
        loop.exec();
}

void ReplyWait::abort()
{
    if (m_loop) {
        m_waitDone = true;
        m_loop->quit();
    }
}
