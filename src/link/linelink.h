#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

// The serial line as a procedure talks to it, once open: SerialLink on a
// real port (or a pseudo-terminal); anything else that can play the line.
// Nothing here waits: what takes time ends in a signal.
class LineLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isOpen() const = 0;
    // Whether the line was lost since it was opened.
    virtual bool lineWasLost() const = 0;
    virtual qint32 baudRate() const = 0;
    // Drops output still queued, then queues the whole message and pushes it
    // towards the line. False if the line refuses the bytes or is lost.
    [[nodiscard]] virtual bool write(const QByteArray &message) = 0;
    // Starts waiting until every byte written has left the line; drained()
    // tells the end. Bounded by the line's speed.
    virtual void startDrain() = 0;
    // Drops every received byte that nobody has read yet.
    virtual void dropInput() = 0;
    virtual QByteArray takeInput() = 0;
    // When the oldest of the bytes takeInput() would give was read from the
    // line (now if none is waiting).
    virtual std::chrono::steady_clock::time_point readAt() const = 0;
    // Closes at once: what has not left yet is dropped (drain first).
    virtual void close() = 0;

    // Received bytes that were no answer, for the trace.
    void noteStale(const QByteArray &bytes) { Q_EMIT staleDropped(bytes); }

Q_SIGNALS:
    // Bytes are waiting to be taken.
    void bytesArrived();
    // The line is gone (device unplugged, pty hung up); the port is already closed.
    void lineLost(const QString &why);
    // After startDrain(): whether every byte left; false if the line was
    // lost or bytes stayed behind past the bound.
    void drained(bool whole);
    // Every byte in either direction, for a trace.
    void traffic(bool outgoing, const QByteArray &bytes);
    void staleDropped(const QByteArray &bytes);
};
