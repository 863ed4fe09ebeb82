#include "isp/firmwaredownload.h"

#include "link/linelink.h"

#include <algorithm>

FirmwareDownload::FirmwareDownload(LineLink &link, DownloadTimings timings, QObject *parent)
    : QObject(parent), m_link(link), m_timings(timings)
{
    m_timer.setSingleShot(true);
    // The coarse default fires up to 5% early: a 3000 ms limit must be 3000 ms.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FirmwareDownload::onTimer);
    connect(&m_link, &LineLink::bytesArrived, this, &FirmwareDownload::deliverInput);
    connect(&m_link, &LineLink::lineLost, this, [this](const QString &why) {
        if (!m_running)
            return;
        m_lostWhy = why.isEmpty() ? QStringLiteral("no reason given") : why;
        apply(m_session->lineLost(now()));
    });
    connect(&m_link, &LineLink::drained, this, [this](bool whole) {
        if (m_running)
            apply(m_session->drained(whole && !m_link.lineWasLost(), now()));
    });
}

IspSession::Time FirmwareDownload::now() const
{
    return std::chrono::duration_cast<IspSession::Time>(std::chrono::steady_clock::now() - m_zero);
}

void FirmwareDownload::start(const QByteArray &image)
{
    Q_ASSERT(!m_running);
    if (m_running)
        return;
    m_zero = std::chrono::steady_clock::now();
    m_session.emplace(image, m_link.baudRate(), m_timings);
    m_lostWhy.clear();
    m_running = true;
    apply(m_session->start(now()));
}

void FirmwareDownload::stop()
{
    if (m_running)
        apply(m_session->stop(now()));
}

QString FirmwareDownload::cause() const
{
    if (const QByteArray mixed = m_session ? m_session->mixedAnswer() : QByteArray(); !mixed.isEmpty())
        return QStringLiteral("cause: the display answered ") + QString::fromLatin1(mixed.toHex(' '));
    if (!m_lostWhy.isEmpty())
        return QStringLiteral("cause: the line was lost: ") + m_lostWhy;
    return {};
}

void FirmwareDownload::apply(const IspActions &actions)
{
    using namespace std::chrono;
    for (const IspAction &a : actions) {
        if (!m_running)
            return;
        switch (a.kind) {
        case IspAction::Kind::Write:
            write(a.bytes);
            break;
        case IspAction::Kind::Drain:
            m_link.startDrain();
            break;
        case IspAction::Kind::Timer:
            m_timer.start(std::max(ceil<milliseconds>(a.at - now()), milliseconds(0)));
            break;
        case IspAction::Kind::Progress:
            Q_EMIT progress(a.value, m_session->frameCount());
            break;
        case IspAction::Kind::Stale:
            m_link.noteStale(a.bytes);
            break;
        case IspAction::Kind::Finish:
            m_running = false;
            m_timer.stop();
            Q_EMIT finished(a.outcome);
            return;
        }
    }
}

void FirmwareDownload::write(const QByteArray &bytes)
{
    // Stale bytes go before the write, never after it: a quick answer to
    // this message must not be thrown away.
    m_link.dropInput();
    // The moment the line is handed the bytes: taken before the call, since
    // the display may hear them before it returns.
    const IspSession::Time handedOver = now();
    const bool whole = m_link.write(bytes);
    // A line lost inside the write has ended the download already.
    if (!m_running)
        return;
    apply(whole ? m_session->written(handedOver) : m_session->writeFailed(now()));
}

// Bytes go in with the time they were read, never the time they are handled.
void FirmwareDownload::deliverInput()
{
    if (!m_running)
        return;
    const auto readAt = m_link.readAt();
    if (const QByteArray bytes = m_link.takeInput(); !bytes.isEmpty())
        apply(m_session->bytesReceived(bytes, std::chrono::duration_cast<IspSession::Time>(readAt - m_zero)));
}

// What has come in is heard before the timer decides: a byte in a pause must
// not be dropped by the write the pause ends with.
void FirmwareDownload::onTimer()
{
    deliverInput();
    if (m_running)
        apply(m_session->timerEnded(now()));
}
