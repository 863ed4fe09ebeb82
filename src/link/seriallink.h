#pragma once

#include <QByteArray>
#include "link/linelink.h"
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include "link/openfailure.h"
#include "link/target.h"
#include "link/portlock.h"

#include <optional>

// The only code that touches QSerialPort: open with one failure outcome,
// write a message whole, drop queued input, drain before closing.
class SerialLink : public LineLink {
    Q_OBJECT
public:
    explicit SerialLink(QObject *parent = nullptr);
    ~SerialLink() override;

    // Closes the port first if it is open, then opens the device the name
    // really stands for (links resolved) with the line settings. On failure
    // the port is left closed.
    [[nodiscard]] std::optional<OpenFailure> open(const Target &target);
    [[nodiscard]] std::optional<OpenFailure> open(const QString &device, const LineSettings &line);
    bool isOpen() const override { return m_port.isOpen(); }
    bool lineWasLost() const override { return m_lost; }

    // Drops output still queued, then queues the whole message and pushes it
    // towards the line. False if the port is closed, refuses the bytes, or
    // the line is lost meanwhile.
    [[nodiscard]] bool write(const QByteArray &message) override;

    // Every byte written has left once drained(true) comes; bounded by the
    // wire time of what is queued, plus a second.
    void startDrain() override;

    // Drops every received byte that nobody has read yet.
    void dropInput() override;
    qint64 bytesAvailable() const { return m_port.isOpen() ? m_port.bytesAvailable() : 0; }
    QByteArray takeInput() override;
    std::chrono::steady_clock::time_point readAt() const override;
    qint32 baudRate() const override { return m_port.baudRate(); }

    // Closes at once; what has not left yet is dropped. Closing a port that
    // is not open does nothing.
    void close() override;
    // Closes once every byte written has left the line (or the bound has
    // passed); closed() follows. A command that writes and closes (the
    // version query) must not cut its own message off.
    void closeWhenDrained();

Q_SIGNALS:
    // The port is open; `real` is the device behind the name `given`.
    void opened(const QString &given, const QString &real);
    // After closeWhenDrained(): the port is closed.
    void closed();

private:
    void onError(QSerialPort::SerialPortError error);
    void checkDrained();

    QSerialPort m_port;
    PortHold m_hold;  // ours on the device while it is open
    bool m_lost = false;
    // When Qt read the oldest bytes nobody has taken yet.
    std::optional<std::chrono::steady_clock::time_point> m_unreadSince;
    // While a drain is under way: when to look again, and when to give up.
    QTimer m_drainCheck;
    std::chrono::steady_clock::time_point m_drainEnds;
    bool m_closeWhenDrained = false;
};
