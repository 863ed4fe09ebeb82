#include "link/seriallink.h"

#include "link/devicefacts.h"
#include "link/linesettings.h"
#include "link/portbuffers.h"

#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>

namespace {

OpenFailure failureOf(QSerialPort::SerialPortError error, const QString &device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return {OpenFailureCause::Missing, device};
    case QSerialPort::PermissionError:
        // Qt reports a port held by another (its lock file) as a permission
        // error too; if we could open the device node ourselves, it is busy.
        if (DeviceFacts::mayReadWrite(device)) {
            OpenFailure busy{OpenFailureCause::Busy, device};
            busy.lock = DeviceFacts::lockOf(device);
            return busy;
        } else {
            OpenFailure denied{OpenFailureCause::PermissionDenied, device};
            denied.access = DeviceFacts::accessOf(device);
            return denied;
        }
    case QSerialPort::UnsupportedOperationError:
        return {OpenFailureCause::NotASerialPort, device};
    case QSerialPort::OpenError:
        return {OpenFailureCause::Busy, device};
    default:
        return {OpenFailureCause::Other, device};
    }
}

}  // namespace

SerialLink::SerialLink(QObject *parent) : LineLink(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLink::bytesArrived);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLink::onError);
}

SerialLink::~SerialLink()
{
    close();
}

std::optional<OpenFailure> SerialLink::open(const Target &target)
{
    if (!target.line) {
        OpenFailure bad{OpenFailureCause::BadSettings, DeviceFacts::realDevicePath(target.device),
                        QStringLiteral("no usable line settings")};
        if (bad.device != target.device)
            bad.given = target.device;
        return bad;
    }
    return open(target.device, *target.line);
}

std::optional<OpenFailure> SerialLink::open(const QString &device, const LineSettings &line)
{
    close();
    m_lost = false;

    // One device has one lock file whatever name it is reached by: two names
    // of one port must not let two programs write into one download.
    const QString real = DeviceFacts::realDevicePath(device);
    const auto failed = [&](OpenFailure failure) {
        failure.device = real;
        if (real != device)
            failure.given = device;
        return failure;
    };

    if (const QString why = DeviceFacts::whyNoPort(real); !why.isEmpty())
        return failed({OpenFailureCause::NotASerialPort, real, why});

    // A lock of another running program means the port is taken, whatever
    // its format: QSerialPort would take a lock it does not recognise as its
    // own for a stale one, remove it, and write into that program's session.
    if (const std::optional<PortLock> lock = DeviceFacts::lockOf(real); lock && lock->running) {
        OpenFailure busy{OpenFailureCause::Busy, real, QStringLiteral("locked by process %1").arg(lock->pid)};
        busy.lock = lock;
        return failed(busy);
    }

    // Our own rule, whatever the driver enforces: one program of ours a device.
    if (!m_hold.take(real))
        return failed({OpenFailureCause::Busy, real, QStringLiteral("held by another custdisp program")});
    auto unhold = qScopeGuard([this] { m_hold.release(); });

    m_port.setPortName(real);
    if (!m_port.open(QIODevice::ReadWrite)) {
        OpenFailure failure = failureOf(m_port.error(), real);
        failure.detail = m_port.errorString();
        m_port.clearError();
        return failed(failure);
    }
    const bool applied = m_port.setBaudRate(line.baud) && m_port.setParity(line.parity)
                         && m_port.setDataBits(line.dataBits) && m_port.setStopBits(line.stopBits)
                         && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied) {
        const QString why = m_port.errorString();
        m_port.close();
        m_port.clearError();
        return failed({OpenFailureCause::BadSettings, real, why});
    }
    unhold.dismiss();
    Q_EMIT opened(device, real);
    return std::nullopt;
}

bool SerialLink::write(const QByteArray &message)
{
    if (!m_port.isOpen())
        return false;
    dropUnsent(m_port);
    if (!m_port.isOpen() || m_port.write(message) != message.size())
        return false;
    Q_EMIT traffic(true, message);
    // Hands the bytes to the driver now; a dead line shows up here as an error.
    m_port.flush();
    return !m_lost;
}

void SerialLink::dropInput()
{
    if (m_port.isOpen())
        dropReceived(m_port);
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

bool SerialLink::drain()
{
    if (!m_port.isOpen())
        return false;
    // QSerialPort::close() throws away what still sits in its buffer, so the
    // last message of a command would never reach the line. Allow the wire
    // time of what is queued plus a margin; a dead line must not hang us.
    const qint64 queued = m_port.bytesToWrite();
    if (queued > 0) {
        const qint64 baud = qMax<qint64>(m_port.baudRate(), 300);
        // An event loop, not waitForBytesWritten(): on Windows, Qt 6.4 takes
        // one count of its completion semaphore for a whole batch of
        // completions the event loop handled, and a later waitFor...() then
        // dequeues from an empty queue and crashes.
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &SerialLink::lineLost, &loop, &QEventLoop::quit);
        connect(&m_port, &QSerialPort::bytesWritten, &loop, [this, &loop] {
            if (m_port.bytesToWrite() == 0)
                loop.quit();
        });
        deadline.start(int(1000 + queued * 10 * 1000 / baud));
        loop.exec();
    }
    if (!m_port.isOpen() || m_port.bytesToWrite() > 0)
        return false;
    // Then out of the driver onto the wire.
    return drainToWire(m_port) && !m_lost;
}

void SerialLink::close()
{
    const auto unhold = qScopeGuard([this] { m_hold.release(); });
    if (!m_port.isOpen())
        return;
    [[maybe_unused]] const bool drained = drain();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

void SerialLink::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !m_port.isOpen())
        return;
    // A write the line cannot take yet (its buffer is full) comes as a
    // ResourceError too, like a pulled cable. The bytes stay queued in the
    // port and go out with the next write or the drain; closing here would
    // throw them away.
    if ((error == QSerialPort::ResourceError || error == QSerialPort::WriteError) && m_port.bytesToWrite() > 0
        && lineIsOnlyFull(m_port)) {
        m_port.clearError();
        return;
    }
    // A hung-up line repeats its read error at full speed until the port is
    // closed, so close at once and tell whoever waits.
    const QString why = m_port.errorString();
    m_lost = true;
    m_port.close();
    m_hold.release();
    m_port.clearError();
    Q_EMIT lineLost(why);
}
