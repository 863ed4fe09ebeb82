#include "sim/simulateddisplay.h"

#include "isp/ispframes.h"

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
using Isp::kAccessAccepted;
using Isp::kFrameAccepted;
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

SimLineSettings settingsOf(const termios &t)
{
    SimLineSettings s;
    s.baud = baudOf(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        s.parity = 'N';
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    s.rtsCts = (t.c_cflag & CRTSCTS) != 0;
    s.xonOutput = (t.c_iflag & IXON) != 0;
    s.xoffInput = (t.c_iflag & IXOFF) != 0;
    return s;
}

void addNote(QString &note, const QString &more)
{
    note = note.isEmpty() ? more : note + QStringLiteral("; ") + more;
}
}  // namespace

QString SimLineSettings::toString() const
{
    QString s = QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(parity)).arg(dataBits).arg(stopBits);
    if (rtsCts)
        s += QStringLiteral(" rts/cts");
    if (xonOutput)
        s += QStringLiteral(" ixon");
    if (xoffInput)
        s += QStringLiteral(" ixoff");
    return s;
}

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
        m_garbageQuiet = new QTimer(this);
        m_garbageQuiet->setSingleShot(true);
        m_garbageQuiet->setInterval(SimulatedDisplay::kGarbageQuiet);
        connect(m_garbageQuiet, &QTimer::timeout, this, [this] { endGarbageRun(); });
        m_resume = new QTimer(this);
        m_resume->setSingleShot(true);
        m_resume->setTimerType(Qt::PreciseTimer);
        connect(m_resume, &QTimer::timeout, this, [this] { resume(); });
        m_clock.start();
    }

    // Closes the line for good.
    void stop()
    {
        // May run inside the notifier's own signal: disable it, never delete it here.
        if (m_notifier)
            m_notifier->setEnabled(false);
        if (m_reopenPoll)
            m_reopenPoll->stop();
        if (m_resume)
            m_resume->stop();
        endGarbageRun();
        m_protocol.reset();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    void pause(std::chrono::milliseconds duration)
    {
        if (m_fd < 0 || m_deaf)
            return;
        m_paused = true;
        m_notifier->setEnabled(false);
        m_reopenPoll->stop();
        m_resume->start(duration);
    }

private:
    void resume()
    {
        m_paused = false;
        if (m_fd < 0 || m_deaf)
            return;
        m_notifier->setEnabled(true);
        readLine();
    }

    // The tool closed its side: once its last bytes are read, reads fail with
    // EIO and poll reports HUP until it opens the line again. Listening then
    // would spin, so look every few milliseconds instead.
    void readLine()
    {
        if (m_paused || m_deaf || m_fd < 0)
            return;
        if (readAvailable() == ReadEnd::HungUp) {
            m_notifier->setEnabled(false);
            lineClosed();
            if (m_fd >= 0)
                m_reopenPoll->start();
        }
    }

    void checkReopened()
    {
        if (m_fd < 0 || m_paused || m_deaf) {
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
            lineClosed();
    }

    // What an unfinished message left is reported, then dropped.
    void lineClosed()
    {
        if (std::optional<ParsedMessage> rest = m_protocol.lineClosed())
            addGarbage(*rest);
        endGarbageRun();
    }

    enum class ReadEnd { Drained, HungUp };
    ReadEnd readAvailable()
    {
        char buf[4096];
        while (m_fd >= 0 && !m_deaf && !m_paused) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                sampleLine();
                heard(QByteArray(buf, n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return ReadEnd::Drained;
            return ReadEnd::HungUp;
        }
        return ReadEnd::Drained;
    }

    // On the master, tcgetattr reads the settings of the tool's side. Once the
    // tool has closed it (or before it has set it up) they read back as the
    // pty's own settings, in canonical mode, which no serial tool uses: keep
    // the last settings seen while the tool had the line open then.
    void sampleLine()
    {
        termios t{};
        pollfd p{m_fd, POLLIN, 0};
        const bool toolOpen = ::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
        m_lineAsRead = toolOpen && ::tcgetattr(m_fd, &t) == 0 && !(t.c_lflag & ICANON);
        if (m_lineAsRead)
            m_line = settingsOf(t);
    }

    void heard(const QByteArray &bytes)
    {
        {
            QMutexLocker lock(&m_display.m_mutex);
            QByteArray &received = m_display.m_shared.received;
            received.append(bytes);
            if (received.size() > SimulatedDisplay::kReceivedCapacity)
                received.remove(0, received.size() - SimulatedDisplay::kReceivedCapacity);
            m_display.m_shared.counters.bytesReceived += bytes.size();
            if (m_lineAsRead)
                m_display.m_shared.line = m_line;
        }
        m_display.m_changed.wakeAll();

        // The bytes reach a real display one after another at the line speed.
        const double now = double(m_clock.nsecsElapsed()) / 1e6;
        m_byteMs = m_line.baud > 0 ? 10.0 * 1000.0 / m_line.baud : 0.0;
        m_lineFreeAt = qMax(now, m_lineFreeAt) + m_byteMs * double(bytes.size());
        m_answerAfterMs = m_lineFreeAt - now;

        for (const ParsedMessage &m : m_protocol.feed(bytes)) {
            if (m_fd < 0 || m_deaf)
                break;  // hung up: nothing after that message reaches the display
            handle(m);
        }
    }

    SimLogEntry entryFor(const ParsedMessage &m) const
    {
        SimLogEntry entry;
        entry.atMs = m_display.m_clock.elapsed();
        entry.kind = m.kind;
        entry.bytes = m.bytes;
        entry.byteCount = m.size;
        entry.note = m.problem;
        entry.line = m_line;
        entry.lineAsRead = m_lineAsRead;
        return entry;
    }

    // Garbage comes in runs, read in chunks: one entry for the whole run.
    void addGarbage(const ParsedMessage &m)
    {
        {
            QMutexLocker lock(&m_display.m_mutex);
            m_display.m_shared.counters.garbageBytes += m.size;
        }
        if (!m_garbageRun) {
            m_garbageRun = entryFor(m);
        } else {
            SimLogEntry &run = *m_garbageRun;
            run.byteCount += m.size;
            run.bytes.append(m.bytes.first(qMin(m.bytes.size(), DisplayProtocol::kGarbageKept - run.bytes.size())));
            if (!run.note.contains(m.problem))
                addNote(run.note, m.problem);
        }
        if (m_display.m_clock.elapsed() - m_garbageRun->atMs >= SimulatedDisplay::kGarbageRunLimit.count())
            endGarbageRun();
        else
            m_garbageQuiet->start();
    }

    void endGarbageRun()
    {
        if (m_garbageQuiet)
            m_garbageQuiet->stop();
        if (!m_garbageRun)
            return;
        SimLogEntry run = std::move(*m_garbageRun);
        m_garbageRun.reset();
        record(run);
    }

    void record(const SimLogEntry &entry)
    {
        std::function<void(const SimLogEntry &)> observer;
        {
            QMutexLocker lock(&m_display.m_mutex);
            QList<SimLogEntry> &log = m_display.m_shared.log;
            log.append(entry);
            if (log.size() > SimulatedDisplay::kLogCapacity)
                log.removeFirst();
            SimCounters &counters = m_display.m_shared.counters;
            ++counters.messages;
            ++counters.byKind[std::size_t(entry.kind)];
            observer = m_display.m_shared.observer;
        }
        m_display.m_changed.wakeAll();
        if (observer)
            observer(entry);
    }

    void handle(const ParsedMessage &m)
    {
        if (m.kind == MessageKind::Garbage) {
            addGarbage(m);
            return;
        }
        endGarbageRun();
        SimLogEntry entry = entryFor(m);
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
                sendLater(SimulatedDisplay::kVersionText, {}, false);
            break;
        case MessageKind::AccessCommand:
            entry.attempt = m_accessAttempts = m_accessAttempts + 1;
            m_eraseAttempts = 0;
            m_endAttempts = 0;
            m_expectedStart = 0;
            m_lastStart = -1;
            action = planned(m.kind, -1, entry.attempt).value_or(FaultAction::answer(kAccessAccepted));
            break;
        case MessageKind::EraseFrame:
            entry.attempt = ++m_eraseAttempts;
            action = m.ok() ? planned(m.kind, -1, entry.attempt).value_or(FaultAction::answer(kFrameAccepted))
                            : FaultAction::answer(SimulatedDisplay::kFrameRefused);
            if (accepts(*action)) {
                QMutexLocker lock(&m_display.m_mutex);
                m_display.m_shared.image.clear();
            }
            break;
        case MessageKind::DataFrame:
            action = judgeDataFrame(m, entry);
            break;
        case MessageKind::EndFrame:
            m_accessAttempts = 0;
            entry.attempt = ++m_endAttempts;
            {
                QMutexLocker lock(&m_display.m_mutex);
                ++m_display.m_shared.endFrames;
                addNote(entry.note, QStringLiteral("image of %1 bytes").arg(m_display.m_shared.image.size()));
            }
            // A healthy display says nothing to an end frame; the plan may.
            action = planned(m.kind, -1, entry.attempt);
            break;
        case MessageKind::Garbage:
            break;
        }

        if (action) {
            if (action->type == FaultAction::Type::Answer)
                entry.answer = action->byte;
            if (action->type == FaultAction::Type::HangUp)
                addNote(entry.note, QStringLiteral("hung up"));
            else if (action->hangUpAfter)
                addNote(entry.note, QStringLiteral("hangs up after the answer"));
            if (!action->more.isEmpty())
                addNote(entry.note, QStringLiteral("and %1").arg(QString::fromLatin1(action->more.toHex(' '))));
            if (!action->later.isEmpty())
                addNote(entry.note, QStringLiteral("then %1 after %2 ms")
                                        .arg(QString::fromLatin1(action->later.toHex(' ')))
                                        .arg(action->laterAfter.count()));
        }
        record(entry);

        if (!action)
            return;
        switch (action->type) {
        case FaultAction::Type::Answer:
            if (action->hangUpAfter) {
                // The cable is pulled: nothing after this message arrives.
                m_deaf = true;
                m_notifier->setEnabled(false);
                m_reopenPoll->stop();
                m_resume->stop();
            }
            sendLater(QByteArray(1, char(action->byte)) + action->more, action->delay, action->hangUpAfter,
                      action->later, action->laterAfter);
            break;
        case FaultAction::Type::Silence:
            break;
        case FaultAction::Type::HangUp:
            stop();
            break;
        }
    }

    static bool accepts(const FaultAction &action)
    {
        return action.type == FaultAction::Type::Answer && action.byte == kFrameAccepted;
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
        if (accepts(action)) {
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

    // The answer goes out `extra` after the message has crossed the line; what
    // it says `later` follows, that long after the answer.
    void sendLater(const QByteArray &answer, std::chrono::milliseconds extra, bool thenHangUp,
                   const QByteArray &later = {}, std::chrono::milliseconds laterAfter = {})
    {
        const double wait = m_answerAfterMs + m_byteMs * double(answer.size()) + double(extra.count());
        const int ms = int(wait + 0.5);
        const auto go = [this, answer, thenHangUp, later, laterAfter] {
            send(answer);
            if (thenHangUp)
                QTimer::singleShot(SimulatedDisplay::kHangUpGrace, Qt::PreciseTimer, this, [this] { stop(); });
            if (!later.isEmpty())
                QTimer::singleShot(laterAfter, Qt::PreciseTimer, this, [this, later] { send(later); });
        };
        if (ms <= 0)
            go();
        else
            QTimer::singleShot(ms, Qt::PreciseTimer, this, go);
    }

    void send(const QByteArray &answer)
    {
        if (m_fd < 0)
            return;
        // With the tool's side closed the pty falls back to cooked mode and
        // would echo the answer back to us; nobody is listening anyway. The
        // line may also stay open in another program's hands with the pty's
        // own settings back: echo on says the same.
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) < 0 || (p.revents & POLLHUP))
            return;
        termios t{};
        if (::tcgetattr(m_fd, &t) != 0 || (t.c_lflag & ECHO))
            return;
        // A lost answer is what a real line does too.
        [[maybe_unused]] const ssize_t n = ::write(m_fd, answer.constData(), size_t(answer.size()));
    }

    SimulatedDisplay &m_display;
    int m_fd;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_reopenPoll = nullptr;
    QTimer *m_garbageQuiet = nullptr;
    QTimer *m_resume = nullptr;
    bool m_paused = false;
    bool m_deaf = false;  // hanging up: it reads nothing more
    DisplayProtocol m_protocol;
    std::optional<SimLogEntry> m_garbageRun;
    SimLineSettings m_line;
    bool m_lineAsRead = false;
    QElapsedTimer m_clock;
    double m_lineFreeAt = 0;
    double m_answerAfterMs = 0;
    double m_byteMs = 0;
    int m_accessAttempts = 0;
    int m_eraseAttempts = 0;
    int m_endAttempts = 0;
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

void SimulatedDisplay::pauseReading(std::chrono::milliseconds duration)
{
    if (m_engine)
        QMetaObject::invokeMethod(m_engine, [e = m_engine, duration] { e->pause(duration); },
                                  Qt::BlockingQueuedConnection);
}

QList<SimLogEntry> SimulatedDisplay::log() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.log;
}

SimCounters SimulatedDisplay::counters() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.counters;
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
    return m_shared.line.baud;
}

SimLineSettings SimulatedDisplay::line() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.line;
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
    return waitFor([&] { return m_shared.counters.messages >= count; }, timeoutMs);
}

bool SimulatedDisplay::waitForBytes(qsizetype count, int timeoutMs) const
{
    return waitFor([&] { return m_shared.counters.bytesReceived >= count; }, timeoutMs);
}
