#pragma once

#include "sim/displayprotocol.h"
#include "sim/faultplan.h"

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

// The line settings the tool gave its side of the pseudo-terminal, as the
// display reads them from its own side.
//
// A Linux pty always reads back 8 data bits and no parity: its driver forces
// them whatever the tool asks for, so on a pty those two fields cannot show a
// tool's mistake (speed, stop bits and both kinds of flow control can).
struct SimLineSettings {
    int baud = 0;             // 0: not known (the tool was never seen with the line open)
    int dataBits = 8;         // 5..8
    char parity = 'N';        // N, E, O, M (mark) or S (space)
    int stopBits = 1;         // 1 or 2
    bool rtsCts = false;      // CRTSCTS: hardware flow control
    bool xonOutput = false;   // IXON: the tool stops sending on XOFF
    bool xoffInput = false;   // IXOFF: the tool sends XOFF when its input fills

    // The settings of the display's protocol: 8 data bits, no parity, 1 stop
    // bit, no flow control of either kind, at this speed.
    static SimLineSettings plain(int baud) { return {baud, 8, 'N', 1, false, false, false}; }
    // "9600,N,8,1", followed by " rts/cts", " ixon", " ixoff" where set.
    QString toString() const;
    bool operator==(const SimLineSettings &) const = default;
};

// One message the display heard, and what it did about it.
struct SimLogEntry {
    qint64 atMs = 0;  // since the display started
    MessageKind kind = MessageKind::Garbage;
    QByteArray bytes;              // a garbage run keeps only its first few bytes
    qint64 byteCount = 0;          // bytes it took on the line (a garbage run: all of them)
    QString note;                  // a problem found, or what was decoded
    std::optional<quint8> answer;  // nullopt: it stayed silent (or answered text)
    int frame = -1;                // data frames: index from 0
    int attempt = 0;               // how many times in a row it heard this message
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
    qint64 messages = 0;        // log entries made, of every kind
    std::array<qint64, kMessageKinds> byKind{};  // log entries per MessageKind
    qint64 bytesReceived = 0;   // every byte heard
    qint64 garbageBytes = 0;    // bytes that made no message (dropped once logged)

    qint64 of(MessageKind kind) const { return byKind[std::size_t(kind)]; }
};

// The four parameters of the last good parameter packet.
struct DisplayParameters {
    quint8 baudCode = 0;
    quint8 language = 0;
    quint8 codeTable = 0;
    quint8 emulation = 0;
    bool operator==(const DisplayParameters &) const = default;
};

// A customer display behind a pseudo-terminal: the tool opens devicePath()
// like any serial port. It holds only the master side, parses every message,
// checks it, answers per its fault plan (a healthy display by default) no
// sooner than a real one could (the message and the answer cross the line at
// the speed the tool set, 10 bits a byte), rebuilds the firmware image
// from the frames it accepted, and keeps a log. It runs on a thread of its
// own, so the code under test may block in its own event loop. Every public
// function may be called from any thread, but hangUp() and pauseReading()
// not from inside the observer.
//
// Its memory stays bounded however long it runs and whatever it hears: the
// log keeps the last kLogCapacity entries, received() the last
// kReceivedCapacity bytes, a run of garbage makes one entry, and counters()
// keep the totals.
class SimulatedDisplay {
public:
    static inline const QByteArray kVersionText = QByteArrayLiteral("SIMDSP V1.00\r\n");
    static constexpr quint8 kFrameRefused = 0x15;  // answer to a frame that fails its checks
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
    // Called on the display's thread for every message, after it is logged.
    void setObserver(std::function<void(const SimLogEntry &)> observer);

    QList<SimLogEntry> log() const;   // the last kLogCapacity entries, oldest first
    SimCounters counters() const;
    QByteArray received() const;      // the last kReceivedCapacity bytes heard, in order
    std::optional<DisplayParameters> parameters() const;
    QByteArray image() const;     // rebuilt from accepted data frames
    int endFrames() const;        // how many end frames were heard
    int lineSpeed() const;        // the speed the tool set on the line, as last seen
    SimLineSettings line() const; // the settings the tool set on the line, as last seen

    // Wait (on the caller's thread) until `count` log entries were made or
    // `count` bytes were heard since the display started; false on time-out.
    bool waitForMessages(int count, int timeoutMs = 3000) const;
    bool waitForBytes(qsizetype count, int timeoutMs = 3000) const;

private:
    friend class SimEngine;
    bool waitFor(const std::function<bool()> &done, int timeoutMs) const;

    struct Shared {
        FaultPlan plan;
        QList<SimLogEntry> log;
        SimCounters counters;
        QByteArray received;
        std::optional<DisplayParameters> parameters;
        QByteArray image;
        int endFrames = 0;
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
