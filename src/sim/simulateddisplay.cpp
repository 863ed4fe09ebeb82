#include "sim/simulateddisplay.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr quint8 kAccessAccepted = 0x07;
constexpr quint8 kFrameAccepted = 0xAA;
constexpr int kBlock = 184;
constexpr int kHangUpPollMs = 20;  // how often to look whether the tool reopened the line

int baudOf(speed_t s)
{
    switch (s) {
    case B50: return 50; case B75: return 75; case B110: return 110; case B134: return 134;
    case B150: return 150; case B200: return 200; case B300: return 300; case B600: return 600;
    case B1200: return 1200; case B1800: return 1800; case B2400: return 2400;
    case B4800: return 4800; case B9600: return 9600; case B19200: return 19200;
    case B38400: return 38400; case B57600: return 57600; case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}
}  // namespace

// Lives on the display's thread: reads the master side, runs the parser and
// the answer policy, and writes answers.
class SimEngine : public QObject {
public:
    SimEngine(SimulatedDisplay &display, int fd) : m_display(display), m_fd(fd) {}

    void start()
    {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { readLine(); });
        m_reopenPoll = new QTimer(this);
        m_reopenPoll->setInterval(kHangUpPollMs);
        connect(m_reopenPoll, &QTimer::timeout, this, [this] { checkReopened(); });
        m_clock.start();
    }

    void stop()
    {
        // May run inside the notifier's own signal: disable it, never delete it here.
        if (m_notifier)
            m_notifier->setEnabled(false);
        if (m_reopenPoll)
            m_reopenPoll->stop();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    // The tool closed its side: once its last bytes are read, reads fail with
    // EIO and poll reports HUP until it opens the line again. Listening then
    // would spin, so look every few milliseconds instead.
    void readLine()
    {
        if (readAvailable() == ReadEnd::HungUp) {
            m_notifier->setEnabled(false);
            m_protocol.reset();
            m_reopenPoll->start();
        }
    }

    void checkReopened()
    {
        if (m_fd < 0) {
            m_reopenPoll->stop();
            return;
        }
        pollfd p{m_fd, POLLIN, 0};
        const bool hungUp = ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP);
        if (!hungUp) {
            m_reopenPoll->stop();
            m_notifier->setEnabled(true);
            readLine();
            return;
        }
        // Bytes written by a short visit (open, write, close) between two looks.
        if (readAvailable() == ReadEnd::HungUp)
            m_protocol.reset();
    }

    enum class ReadEnd { Drained, HungUp };
    ReadEnd readAvailable()
    {
        char buf[4096];
        while (m_fd >= 0) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                heard(QByteArray(buf, n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return ReadEnd::Drained;
            return ReadEnd::HungUp;
        }
        return ReadEnd::Drained;
    }

    int lineSpeed()
    {
        termios t{};
        // On the master this reads the settings the tool gave its side.
        if (m_fd < 0 || ::tcgetattr(m_fd, &t) != 0)
            return 0;
        return baudOf(cfgetospeed(&t));
    }

    void heard(const QByteArray &bytes)
    {
        const int baud = lineSpeed();
        bool pacing = false;
        {
            QMutexLocker lock(&m_display.m_mutex);
            m_display.m_shared.received.append(bytes);
            // Once the tool has closed its side the settings read back as the
            // pty's defaults; keep the last speed it really used.
            if (baud > 0 && m_notifier && m_notifier->isEnabled())
                m_display.m_shared.lineSpeed = baud;
            pacing = m_display.m_shared.pacing;
        }
        m_display.m_changed.wakeAll();

        // The bytes reach a real display one after another at the line speed.
        const double now = double(m_clock.nsecsElapsed()) / 1e6;
        m_byteMs = (pacing && baud > 0) ? 10.0 * 1000.0 / baud : 0.0;
        m_lineFreeAt = qMax(now, m_lineFreeAt) + m_byteMs * double(bytes.size());
        m_answerAfterMs = m_lineFreeAt - now;

        for (const ParsedMessage &m : m_protocol.feed(bytes))
            handle(m);
    }

    void handle(const ParsedMessage &m)
    {
        SimLogEntry entry;
        entry.atMs = m_display.m_clock.elapsed();
        entry.kind = m.kind;
        entry.bytes = m.bytes;
        entry.note = m.problem;
        std::optional<FaultAction> action;

        switch (m.kind) {
        case MessageKind::ParameterPacket:
            if (m.ok()) {
                QMutexLocker lock(&m_display.m_mutex);
                m_display.m_shared.parameters = DisplayParameters{
                    quint8(m.bytes[2]), quint8(m.bytes[3]), quint8(m.bytes[4]), quint8(m.bytes[5])};
            }
            break;
        case MessageKind::VersionQuery:
            if (m.ok())
                sendLater(SimulatedDisplay::kVersionText, {});
            break;
        case MessageKind::AccessCommand:
            entry.attempt = m_accessAttempts = m_accessAttempts + 1;
            m_eraseAttempts = 0;
            m_expectedStart = 0;
            m_lastStart = -1;
            action = planned(m.kind, -1, entry.attempt).value_or(FaultAction::answer(kAccessAccepted));
            break;
        case MessageKind::EraseFrame:
            entry.attempt = ++m_eraseAttempts;
            action = m.ok() ? planned(m.kind, -1, entry.attempt).value_or(FaultAction::answer(kFrameAccepted))
                            : FaultAction::answer(SimulatedDisplay::kFrameRefused);
            if (action == FaultAction::answer(kFrameAccepted)) {
                QMutexLocker lock(&m_display.m_mutex);
                m_display.m_shared.image.clear();
            }
            break;
        case MessageKind::DataFrame:
            action = judgeDataFrame(m, entry);
            break;
        case MessageKind::EndFrame:
            m_accessAttempts = 0;
            {
                QMutexLocker lock(&m_display.m_mutex);
                ++m_display.m_shared.endFrames;
                entry.note = QStringLiteral("image of %1 bytes").arg(m_display.m_shared.image.size());
            }
            break;
        case MessageKind::Garbage:
            break;
        }

        if (action) {
            if (action->type == FaultAction::Type::Answer)
                entry.answer = action->byte;
            else if (action->type == FaultAction::Type::HangUp)
                entry.note = QStringLiteral("hung up");
        }
        std::function<void(const SimLogEntry &)> observer;
        {
            QMutexLocker lock(&m_display.m_mutex);
            m_display.m_shared.log.append(entry);
            observer = m_display.m_shared.observer;
        }
        m_display.m_changed.wakeAll();
        if (observer)
            observer(entry);

        if (!action)
            return;
        switch (action->type) {
        case FaultAction::Type::Answer:
            sendLater(QByteArray(1, char(action->byte)), action->delay);
            break;
        case FaultAction::Type::Silence:
            break;
        case FaultAction::Type::HangUp:
            stop();
            break;
        }
    }

    FaultAction judgeDataFrame(const ParsedMessage &m, SimLogEntry &entry)
    {
        entry.attempt = (m.start == m_lastStart) ? m_dataAttempts + 1 : 1;
        m_dataAttempts = entry.attempt;
        m_lastStart = m.start;
        entry.frame = m.start >= 0 && m.start % kBlock == 0 ? m.start / kBlock : -1;
        if (!m.ok())
            return FaultAction::answer(SimulatedDisplay::kFrameRefused);
        if (m.start != m_expectedStart) {
            entry.note = QStringLiteral("start address %1, expected %2").arg(m.start).arg(m_expectedStart);
            return FaultAction::answer(SimulatedDisplay::kFrameRefused);
        }
        const FaultAction action =
            planned(m.kind, entry.frame, entry.attempt).value_or(FaultAction::answer(kFrameAccepted));
        if (action.type == FaultAction::Type::Answer && action.byte == kFrameAccepted) {
            QMutexLocker lock(&m_display.m_mutex);
            QByteArray &image = m_display.m_shared.image;
            image.resize(m.start);  // frames come in order: this only ever grows it
            image.append(m.data);
            m_expectedStart = m.start + kBlock;
        }
        return action;
    }

    std::optional<FaultAction> planned(MessageKind kind, int frame, int attempt)
    {
        QMutexLocker lock(&m_display.m_mutex);
        return m_display.m_shared.plan.actionFor(kind, frame, attempt);
    }

    void sendLater(const QByteArray &answer, std::chrono::milliseconds extra)
    {
        const double wait = m_answerAfterMs + m_byteMs * double(answer.size()) + double(extra.count());
        const int ms = int(wait + 0.5);
        if (ms <= 0) {
            send(answer);
            return;
        }
        QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, answer] { send(answer); });
    }

    void send(const QByteArray &answer)
    {
        if (m_fd < 0)
            return;
        // With the tool's side closed the pty falls back to cooked mode and
        // would echo the answer back to us; nobody is listening anyway.
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) < 0 || (p.revents & POLLHUP))
            return;
        // A lost answer is what a real line does too.
        [[maybe_unused]] const ssize_t n = ::write(m_fd, answer.constData(), size_t(answer.size()));
    }

    SimulatedDisplay &m_display;
    int m_fd;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_reopenPoll = nullptr;
    DisplayProtocol m_protocol;
    QElapsedTimer m_clock;
    double m_lineFreeAt = 0;
    double m_answerAfterMs = 0;
    double m_byteMs = 0;
    int m_accessAttempts = 0;
    int m_eraseAttempts = 0;
    int m_dataAttempts = 0;
    int m_lastStart = -1;
    int m_expectedStart = 0;
};

SimulatedDisplay::SimulatedDisplay()
{
    m_clock.start();
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        m_error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    char name[128] = {};
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        m_error = QStringLiteral("cannot name the pseudo-terminal");
        ::close(fd);
        return;
    }
    m_devicePath = QString::fromLocal8Bit(name);

    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("simulated display"));
    m_engine = new SimEngine(*this, fd);
    m_engine->moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->start(); }, Qt::BlockingQueuedConnection);
}

SimulatedDisplay::~SimulatedDisplay()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->stop(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_engine;
}

void SimulatedDisplay::setFaultPlan(const FaultPlan &plan)
{
    QMutexLocker lock(&m_mutex);
    m_shared.plan = plan;
}

void SimulatedDisplay::setPacing(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_shared.pacing = on;
}

void SimulatedDisplay::setObserver(std::function<void(const SimLogEntry &)> observer)
{
    QMutexLocker lock(&m_mutex);
    m_shared.observer = std::move(observer);
}

void SimulatedDisplay::hangUp()
{
    if (m_engine)
        QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->stop(); }, Qt::BlockingQueuedConnection);
}

QList<SimLogEntry> SimulatedDisplay::log() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.log;
}

QByteArray SimulatedDisplay::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.received;
}

std::optional<DisplayParameters> SimulatedDisplay::parameters() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.parameters;
}

QByteArray SimulatedDisplay::image() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.image;
}

int SimulatedDisplay::endFrames() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.endFrames;
}

int SimulatedDisplay::lineSpeed() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.lineSpeed;
}

bool SimulatedDisplay::waitFor(const std::function<bool()> &done, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&m_mutex);
    while (!done()) {
        if (!m_changed.wait(&m_mutex, deadline))
            return done();
    }
    return true;
}

bool SimulatedDisplay::waitForMessages(int count, int timeoutMs) const
{
    return waitFor([&] { return m_shared.log.size() >= count; }, timeoutMs);
}

bool SimulatedDisplay::waitForBytes(qsizetype count, int timeoutMs) const
{
    return waitFor([&] { return m_shared.received.size() >= count; }, timeoutMs);
}
