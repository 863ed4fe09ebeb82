#include "link/replywait.h"

#include "link/seriallink.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

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
    const QByteArray chunk = m_link.takeInput();
    if (chunk.isEmpty())
        return;  // a wake-up without bytes: keep waiting
    // Only the first byte of the first chunk counts; the rest is dropped.
    m_replyCode = Reply::classify(chunk, AccessPhase);
    m_waitDone = true;
    if (m_loop)
        m_loop->quit();
}

ReplyCode ReplyWait::wait(std::chrono::milliseconds limit)
{
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
    runFor(limit);
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
