#pragma once

#include "sim/displayprotocol.h"
#include "sim/faultplan.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <functional>
#include <memory>
#include <optional>

class QThread;

// One message the display heard, and what it did about it.
struct SimLogEntry {
    qint64 atMs = 0;  // since the display started
    MessageKind kind = MessageKind::Garbage;
    QByteArray bytes;
    QString note;                  // a problem found, or what was decoded
    std::optional<quint8> answer;  // nullopt: it stayed silent (or answered text)
    int frame = -1;                // data frames: index from 0
    int attempt = 0;               // how many times in a row it heard this message
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
// checks it, answers per its fault plan (a healthy display by default), can
// pace its answers at the line speed the tool set, rebuilds the firmware image
// from the frames it accepted, and keeps a log. It runs on a thread of its
// own, so the code under test may block in its own event loop. Every public
// function may be called from any thread.
class SimulatedDisplay {
public:
    static inline const QByteArray kVersionText = QByteArrayLiteral("SIMDSP V1.00\r\n");
    static constexpr quint8 kFrameRefused = 0x15;  // answer to a frame that fails its checks

    SimulatedDisplay();
    ~SimulatedDisplay();
    SimulatedDisplay(const SimulatedDisplay &) = delete;
    SimulatedDisplay &operator=(const SimulatedDisplay &) = delete;

    bool isValid() const { return !m_devicePath.isEmpty(); }
    QString devicePath() const { return m_devicePath; }
    QString error() const { return m_error; }

    void setFaultPlan(const FaultPlan &plan);
    // Answers go out only after the message and the answer would have crossed
    // a real line at the speed the tool set (10 bits a byte).
    void setPacing(bool on);
    // Closes the line as an unplugged cable would. The display is gone after it.
    void hangUp();
    // Called on the display's thread for every message, after it is logged.
    void setObserver(std::function<void(const SimLogEntry &)> observer);

    QList<SimLogEntry> log() const;
    QByteArray received() const;  // every byte heard, in order
    std::optional<DisplayParameters> parameters() const;
    QByteArray image() const;     // rebuilt from accepted data frames
    int endFrames() const;        // how many end frames were heard
    int lineSpeed() const;        // the speed the tool set on the line, as last seen

    // Wait (on the caller's thread) until the log holds `count` entries or
    // `count` bytes were heard; false on time-out.
    bool waitForMessages(int count, int timeoutMs = 3000) const;
    bool waitForBytes(qsizetype count, int timeoutMs = 3000) const;

private:
    friend class SimEngine;
    bool waitFor(const std::function<bool()> &done, int timeoutMs) const;

    struct Shared {
        FaultPlan plan;
        bool pacing = false;
        QList<SimLogEntry> log;
        QByteArray received;
        std::optional<DisplayParameters> parameters;
        QByteArray image;
        int endFrames = 0;
        int lineSpeed = 0;
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
