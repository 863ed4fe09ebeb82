#pragma once

#include "sim/displaymodel.h"
#include "sim/displaywire.h"
#include "sim/faultplan.h"
#include "sim/ptyend.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QThread;

// One message the display heard, what it did about it, when, and the line
// settings it came with.
struct SimLogEntry : HeardMessage {
    qint64 atMs = 0;  // since the display started
    // The line settings the message came with. They are read when the display
    // reads the bytes; if the tool had closed its side by then (its serial
    // port restores the pty's own settings on close), the settings last seen
    // while the tool had the line open, and lineAsRead is false.
    SimLineSettings line;
    bool lineAsRead = false;
};

// Running totals since the display started; they never reset, whatever the
// bounded log and received() have let go.
struct SimCounters {
    qint64 messages = 0;                         // log entries made, of every kind
    std::array<qint64, kMessageKinds> byKind{};  // log entries per MessageKind
    qint64 bytesReceived = 0;                    // every byte heard
    qint64 garbageBytes = 0;                     // bytes that made no message (dropped once logged)

    qint64 of(MessageKind kind) const { return byKind[std::size_t(kind)]; }
};

// A customer display behind a pseudo-terminal: the tool opens devicePath()
// like any serial port. Its model (DisplayModel) parses every message, checks
// it, answers per its fault plan (a healthy display by default) no sooner
// than a real one could (the message and the answer cross the line at the
// speed the tool set, 10 bits a byte) and rebuilds the firmware image from
// the frames it accepted; this class holds the master side (PtyEnd), says
// what the model says when it says it, and keeps a log. It runs on a thread
// of its own, so the code under test may block in its own event loop. Every
// public function may be called from any thread, but hangUp() and
// pauseReading() not from inside the observer.
//
// Its memory stays bounded however long it runs and whatever it hears: the
// log keeps the last kLogCapacity entries, received() the last
// kReceivedCapacity bytes, a run of garbage makes one entry, and counters()
// keep the totals.
class SimulatedDisplay {
public:
    static inline const QByteArray &kVersionText = DisplayWire::kVersionText;
    static constexpr int kLogCapacity = 1000;
    static constexpr qsizetype kReceivedCapacity = 64 * 1024;
    // A run of garbage is logged once the line has been quiet this long (or a
    // message follows, or the tool closes the line) ...
    static constexpr std::chrono::milliseconds kGarbageQuiet{50};
    // ... or, on a line that never stops, once it has gone on this long.
    static constexpr std::chrono::milliseconds kGarbageRunLimit{1000};
    // After an answer-then-hang-up, the time the line stays up for the tool to
    // take the answer: a pty drops its unread input when the display closes it.
    static constexpr std::chrono::milliseconds kHangUpGrace{100};

    SimulatedDisplay();
    ~SimulatedDisplay();
    SimulatedDisplay(const SimulatedDisplay &) = delete;
    SimulatedDisplay &operator=(const SimulatedDisplay &) = delete;

    bool isValid() const { return !m_devicePath.isEmpty(); }
    QString devicePath() const { return m_devicePath; }
    QString error() const { return m_error; }

    void setFaultPlan(const FaultPlan &plan);
    // Closes the line as an unplugged cable would. The display is gone after it.
    void hangUp();
    // For tests: reads nothing for this long (what the tool writes meanwhile
    // queues in the pty, then in the tool's own buffer), then reads again.
    // In effect when it returns; a second call sets a new end.
    void pauseReading(std::chrono::milliseconds duration);
    // Reads now what the tool wrote and the display has not read yet (as it
    // soon would), and returns once that is handled: a message not in the log
    // then was never written whole. Not while reading is paused or the
    // display has hung up.
    void hearOutstanding();
    // Called on the display's thread for every message, after it is logged.
    void setObserver(std::function<void(const SimLogEntry &)> observer);

    QList<SimLogEntry> log() const;  // the last kLogCapacity entries, oldest first
    SimCounters counters() const;
    QByteArray received() const;  // the last kReceivedCapacity bytes heard, in order
    std::optional<DisplayParameters> parameters() const;
    QByteArray image() const;      // rebuilt from accepted data frames
    int endFrames() const;         // how many end frames were heard
    int lineSpeed() const;         // the speed the tool set on the line, as last seen
    SimLineSettings line() const;  // the settings the tool set on the line, as last seen

    // Wait (on the caller's thread) until `count` log entries were made or
    // `count` bytes were heard since the display started; false on time-out.
    bool waitForMessages(int count, int timeoutMs = 3000) const;
    bool waitForBytes(qsizetype count, int timeoutMs = 3000) const;

private:
    friend class SimEngine;
    bool waitFor(const std::function<bool()> &done, int timeoutMs) const;

    struct Shared {
        DisplayModel model;
        QList<SimLogEntry> log;
        SimCounters counters;
        QByteArray received;
        SimLineSettings line;
        std::function<void(const SimLogEntry &)> observer;
    };

    mutable QMutex m_mutex;
    mutable QWaitCondition m_changed;
    Shared m_shared;
    QElapsedTimer m_clock;
    QString m_devicePath;
    QString m_error;
    std::unique_ptr<QThread> m_thread;
    class SimEngine *m_engine = nullptr;
};
