#include "sim/simulateddisplay.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QObject>
#include <QThread>
#include <QTimer>

// Lives on the display's thread: hands what the pty end reads to the model,
// says what the model says when it says it, and keeps the log.
class SimEngine : public QObject {
public:
    using Time = DisplayModel::Time;

    SimEngine(SimulatedDisplay &display, int fd) : m_display(display), m_pty(new PtyEnd(fd, this)) {}

    void start()
    {
        m_pty->start([this](const QByteArray &bytes) { heard(bytes); }, [this] { toolClosed(); });
        m_garbageQuiet = new QTimer(this);
        m_garbageQuiet->setSingleShot(true);
        m_garbageQuiet->setInterval(SimulatedDisplay::kGarbageQuiet);
        connect(m_garbageQuiet, &QTimer::timeout, this, [this] { endGarbageRun(); });
        m_clock.start();
    }

    // Closes the line for good.
    void stop()
    {
        m_pty->close();
        endGarbageRun();
    }

    void pause(std::chrono::milliseconds duration) { m_pty->pause(duration); }
    void hearOutstanding() { m_pty->hearOutstanding(); }

private:
    Time now() const { return std::chrono::duration_cast<Time>(std::chrono::nanoseconds(m_clock.nsecsElapsed())); }

    void heard(const QByteArray &bytes)
    {
        const Time at = now();
        QList<DisplayReply> replies;
        {
            QMutexLocker lock(&m_display.m_mutex);
            SimulatedDisplay::Shared &shared = m_display.m_shared;
            shared.received.append(bytes);
            if (shared.received.size() > SimulatedDisplay::kReceivedCapacity)
                shared.received.remove(0, shared.received.size() - SimulatedDisplay::kReceivedCapacity);
            shared.counters.bytesReceived += bytes.size();
            if (m_pty->lineAsRead())
                shared.line = m_pty->line();
            shared.model.setLineSpeed(m_pty->line().baud);
            replies = shared.model.heard(bytes, at);
        }
        m_display.m_changed.wakeAll();
        for (const DisplayReply &reply : replies)
            handle(reply, at);
    }

    // What an unfinished message left is reported, then dropped.
    void toolClosed()
    {
        std::optional<DisplayReply> rest;
        {
            QMutexLocker lock(&m_display.m_mutex);
            rest = m_display.m_shared.model.lineClosed();
        }
        if (rest)
            addGarbage(rest->heard);
        endGarbageRun();
    }

    void handle(const DisplayReply &reply, Time heardAt)
    {
        if (reply.heard.kind == MessageKind::Garbage) {
            addGarbage(reply.heard);
            return;
        }
        endGarbageRun();
        record(entryFor(reply.heard));
        carryOut(reply, heardAt);
    }

    // Says what the model says, each at its time, and hangs up when it does.
    // A line closed at once closes now; after an answer it stays up
    // kHangUpGrace more for the tool to take it: a pty drops its unread input
    // when the display closes it.
    void carryOut(const DisplayReply &reply, Time heardAt)
    {
        for (const DisplayReply::Saying &s : reply.says)
            after(s.at - heardAt, [this, bytes = s.bytes] { m_pty->send(bytes); });
        if (!reply.hangsUpAt)
            return;
        if (reply.says.isEmpty()) {
            stop();
            return;
        }
        m_pty->stopListening();
        after(*reply.hangsUpAt - heardAt + SimulatedDisplay::kHangUpGrace, [this] { stop(); });
    }

    template <typename Action>
    void after(Time wait, Action action)
    {
        const int ms = int(double(wait.count()) / 1000.0 + 0.5);
        if (ms <= 0)
            action();
        else
            QTimer::singleShot(ms, Qt::PreciseTimer, this, action);
    }

    SimLogEntry entryFor(const HeardMessage &heard) const
    {
        SimLogEntry entry;
        static_cast<HeardMessage &>(entry) = heard;
        entry.atMs = m_display.m_clock.elapsed();
        entry.line = m_pty->line();
        entry.lineAsRead = m_pty->lineAsRead();
        return entry;
    }

    // Garbage comes in runs, read in chunks: one entry for the whole run.
    void addGarbage(const HeardMessage &m)
    {
        {
            QMutexLocker lock(&m_display.m_mutex);
            m_display.m_shared.counters.garbageBytes += m.byteCount;
        }
        if (!m_garbageRun) {
            m_garbageRun = entryFor(m);
        } else {
            SimLogEntry &run = *m_garbageRun;
            run.byteCount += m.byteCount;
            run.bytes.append(m.bytes.first(qMin(m.bytes.size(), DisplayProtocol::kGarbageKept - run.bytes.size())));
            if (!run.note.contains(m.note))
                addNote(run.note, m.note);
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

    SimulatedDisplay &m_display;
    PtyEnd *m_pty;
    QTimer *m_garbageQuiet = nullptr;
    std::optional<SimLogEntry> m_garbageRun;
    QElapsedTimer m_clock;
};

SimulatedDisplay::SimulatedDisplay()
{
    m_clock.start();
    const int fd = PtyEnd::create(&m_devicePath, &m_error);
    if (fd < 0)
        return;

    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("simulated display"));
    m_engine = new SimEngine(*this, fd);
    m_engine->moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(
        m_engine, [e = m_engine] { e->start(); }, Qt::BlockingQueuedConnection);
}

SimulatedDisplay::~SimulatedDisplay()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(
        m_engine, [e = m_engine] { e->stop(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_engine;
}

void SimulatedDisplay::setFaultPlan(const FaultPlan &plan)
{
    QMutexLocker lock(&m_mutex);
    m_shared.model.setFaultPlan(plan);
}

void SimulatedDisplay::setObserver(std::function<void(const SimLogEntry &)> observer)
{
    QMutexLocker lock(&m_mutex);
    m_shared.observer = std::move(observer);
}

void SimulatedDisplay::hangUp()
{
    if (m_engine)
        QMetaObject::invokeMethod(
            m_engine, [e = m_engine] { e->stop(); }, Qt::BlockingQueuedConnection);
}

void SimulatedDisplay::pauseReading(std::chrono::milliseconds duration)
{
    if (m_engine)
        QMetaObject::invokeMethod(
            m_engine, [e = m_engine, duration] { e->pause(duration); },
            Qt::BlockingQueuedConnection);
}

void SimulatedDisplay::hearOutstanding()
{
    if (m_engine)
        QMetaObject::invokeMethod(
            m_engine, [e = m_engine] { e->hearOutstanding(); }, Qt::BlockingQueuedConnection);
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
    return m_shared.model.parameters();
}

QByteArray SimulatedDisplay::image() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.model.image();
}

int SimulatedDisplay::endFrames() const
{
    QMutexLocker lock(&m_mutex);
    return m_shared.model.endFrames();
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
