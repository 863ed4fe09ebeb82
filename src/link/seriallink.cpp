#include "link/seriallink.h"

#include "link/linesettings.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A pulled cable or a hung-up pty shows as hang-up or error on poll; a line
// that only cannot take more bytes yet does not.
bool lineIsThere(int fd)
{
    pollfd p{fd, POLLOUT, 0};
    return fd >= 0 && ::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

OpenFailureCause causeOf(QSerialPort::SerialPortError error, const QString &device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return OpenFailureCause::Missing;
    case QSerialPort::PermissionError:
        // Qt reports a port held by another (its lock file) as a permission
        // error too; if we could open the device node ourselves, it is busy.
        return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0
                   ? OpenFailureCause::Busy
                   : OpenFailureCause::PermissionDenied;
    case QSerialPort::UnsupportedOperationError:
        return OpenFailureCause::NotASerialPort;
    case QSerialPort::OpenError:
        return OpenFailureCause::Busy;
    default:
        return OpenFailureCause::Other;
    }
}

}  // namespace

QString OpenFailure::describe() const
{
    QString why;
    switch (cause) {
    case OpenFailureCause::Missing: why = QStringLiteral("no such device"); break;
    case OpenFailureCause::PermissionDenied: why = QStringLiteral("permission denied"); break;
    case OpenFailureCause::Busy: why = QStringLiteral("in use by another program"); break;
    case OpenFailureCause::BadSettings: why = QStringLiteral("line settings refused"); break;
    case OpenFailureCause::NotASerialPort: why = QStringLiteral("not a serial port"); break;
    case OpenFailureCause::Other: why = detail.isEmpty() ? QStringLiteral("failed") : detail; break;
    }
    return QStringLiteral("cannot open %1: %2").arg(device, why);
}

SerialLink::SerialLink(QObject *parent) : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLink::bytesArrived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLink::onError);
}

SerialLink::~SerialLink()
{
    close();
}

std::optional<OpenFailure> SerialLink::open(const QString &device, const QString &settings)
{
    close();

    const std::optional<LineSettings> line = LineSettings::parse(settings);
    if (!line)
        return OpenFailure{OpenFailureCause::BadSettings, device,
                           QStringLiteral("malformed settings '%1'").arg(settings)};
    if (QFileInfo(device).isDir())
        return OpenFailure{OpenFailureCause::NotASerialPort, device, QStringLiteral("a directory")};

    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const OpenFailure failure{causeOf(m_port.error(), device), device, m_port.errorString()};
        m_port.clearError();
        return failure;
    }
    const bool applied = m_port.setBaudRate(line->baud) && m_port.setParity(line->parity)
                         && m_port.setDataBits(line->dataBits) && m_port.setStopBits(line->stopBits)
                         && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied) {
        const OpenFailure failure{OpenFailureCause::BadSettings, device, m_port.errorString()};
        m_port.close();
        m_port.clearError();
        return failure;
    }
    return std::nullopt;
}

bool SerialLink::write(const QByteArray &message)
{
    if (!m_port.isOpen())
        return false;
    m_port.clear(QSerialPort::Output);
    if (m_port.write(message) != message.size())
        return false;
    Q_EMIT traffic(true, message);
    m_port.flush();
    return true;
}

void SerialLink::dropInput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Input);
}

QByteArray SerialLink::takeInput()
{
    if (!m_port.isOpen())
        return {};
    QByteArray bytes = m_port.readAll();
    if (!bytes.isEmpty())
        Q_EMIT traffic(false, bytes);
    return bytes;
}

void SerialLink::drain()
{
    // QSerialPort::close() throws away what still sits in its buffer, so the
    // last message of a command would never reach the line. Allow the wire
    // time of what is queued plus a margin; a dead line must not hang us.
    const qint64 queued = m_port.bytesToWrite();
    const qint64 baud = qMax<qint64>(m_port.baudRate(), 300);
    QDeadlineTimer deadline(1000 + queued * 10 * 1000 / baud);
    while (m_port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port.waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 1))))
            break;
    }
    if (m_port.handle() >= 0)
        ::tcdrain(m_port.handle());
}

void SerialLink::close()
{
    if (!m_port.isOpen())
        return;
    drain();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

void SerialLink::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !m_port.isOpen())
        return;
    // A write the line cannot take yet (EAGAIN: its buffer is full) comes as a
    // ResourceError too, like a pulled cable. The bytes stay queued in the
    // port and go out with the next write or the drain; closing here would
    // throw them away.
    if ((error == QSerialPort::ResourceError || error == QSerialPort::WriteError) && m_port.bytesToWrite() > 0
        && lineIsThere(int(m_port.handle()))) {
        m_port.clearError();
        return;
    }
    // A hung-up line repeats its read error at full speed until the port is
    // closed, so close at once and tell whoever waits.
    const QString why = m_port.errorString();
    m_port.close();
    m_port.clearError();
    Q_EMIT lineLost(why);
}
