#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <optional>

// Why a port could not be opened. The operator sees one message for all of
// them; the command line prints the cause too.
enum class OpenFailureCause {
    Missing,           // no such device
    PermissionDenied,  // the device exists but this user may not open it
    Busy,              // another program (or another link) holds it
    BadSettings,       // the settings string is malformed or refused
    NotASerialPort,    // a regular file, a directory, /dev/null ...
    Other,
};

struct OpenFailure {
    OpenFailureCause cause = OpenFailureCause::Other;
    QString device;
    QString detail;  // Qt's own words, for a trace

    // e.g. "cannot open /dev/ttyUSB0: permission denied"
    QString describe() const;
};

// The only code that touches QSerialPort: open with one failure outcome,
// write a message whole, drop queued input, drain before closing.
class SerialLink : public QObject {
    Q_OBJECT
public:
    explicit SerialLink(QObject *parent = nullptr);
    ~SerialLink() override;

    // Closes the port first if it is open, then applies the settings string and
    // opens the device. On failure the port is left closed.
    [[nodiscard]] std::optional<OpenFailure> open(const QString &device, const QString &settings);
    bool isOpen() const { return m_port.isOpen(); }

    // Drops output still queued, then queues the whole message and pushes it
    // towards the line. False if the port is closed or refuses the bytes.
    [[nodiscard]] bool write(const QByteArray &message);

    // Drops every received byte that nobody has read yet.
    void dropInput();
    qint64 bytesAvailable() const { return m_port.isOpen() ? m_port.bytesAvailable() : 0; }
    QByteArray takeInput();

    // Waits until every queued byte has left (bounded by the line speed), then
    // closes. Closing a port that is not open does nothing.
    void close();

Q_SIGNALS:
    // Bytes are waiting to be taken.
    void bytesArrived();
    // The line is gone (device unplugged, pty hung up); the port is already closed.
    void lineLost(const QString &why);
    // Every byte in either direction, for a trace.
    void traffic(bool outgoing, const QByteArray &bytes);

private:
    void onError(QSerialPort::SerialPortError error);
    void drain();

    QSerialPort m_port;
};
