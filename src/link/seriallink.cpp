#include "link/seriallink.h"

#include "link/devicefacts.h"
#include "link/linesettings.h"
#include "link/linetiming.h"
#include "link/portbuffers.h"

#include <QScopeGuard>

#include <algorithm>
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
    m_drainCheck.setSingleShot(true);
    m_drainCheck.setTimerType(Qt::PreciseTimer);
    connect(&m_drainCheck, &QTimer::timeout, this, &SerialLink::checkDrained);
    // A close asked for after the last message happens here, whoever else
    // listens for the end of the drain.
    connect(this, &LineLink::drained, this, [this] {
        if (!m_closeWhenDrained)
            return;
        m_closeWhenDrained = false;
        close();
        Q_EMIT closed();
    });
    // Qt has just read the bytes from the line: that moment, not the one at
    // which someone gets round to them, is when they came.
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        if (!m_unreadSince)
            m_unreadSince = std::chrono::steady_clock::now();
        Q_EMIT bytesArrived();
    });
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

    if (DeviceFacts::nameTooLong(real))
        return failed({OpenFailureCause::Other, real, QStringLiteral("the name is too long for this system")});
    if (const QString why = DeviceFacts::whyNoPort(real); !why.isEmpty())
        return failed({OpenFailureCause::NotASerialPort, real, why});

    // Missing is missing, whatever lock of that name there is: a program
    // trying the same missing name this very moment holds one.
    if (DeviceFacts::isAbsent(real))
        return failed({OpenFailureCause::Missing, real});

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
    m_unreadSince.reset();
    if (m_port.isOpen())
        dropReceived(m_port);
}

std::chrono::steady_clock::time_point SerialLink::readAt() const
{
    return m_unreadSince.value_or(std::chrono::steady_clock::now());
}

QByteArray SerialLink::takeInput()
{
    m_unreadSince.reset();
    if (!m_port.isOpen())
        return {};
    QByteArray bytes = m_port.readAll();
    if (!bytes.isEmpty())
        Q_EMIT traffic(false, bytes);
    return bytes;
}

namespace {
// How long a drain may take beyond the wire time of what is queued: the
// driver's own buffering and the event loop's delays, never a hang.
constexpr std::chrono::milliseconds kDrainMargin{1000};
// How often a drain looks again once the wire time has passed.
constexpr std::chrono::milliseconds kDrainPoll{2};
}  // namespace

// No waitForBytesWritten() and no event loop of our own: on Windows, Qt 6.4
// takes one count of its completion semaphore for a whole batch of
// completions the event loop handled, and a later waitFor...() dequeues from
// an empty queue and crashes. The wire time, then a look at Qt's queue and
// the driver's, again and again until both are empty.
void SerialLink::startDrain()
{
    using namespace std::chrono;
    if (!m_port.isOpen() || m_lost) {
        QTimer::singleShot(0, this, [this] { Q_EMIT drained(false); });
        return;
    }
    const qint64 queued = m_port.bytesToWrite() + std::max<qint64>(unsentInDriver(m_port), 0);
    const auto wire = ceil<milliseconds>(LineTiming::wireTime(queued, std::max(m_port.baudRate(), 300)));
    m_drainEnds = steady_clock::now() + wire + kDrainMargin;
    m_drainCheck.start(wire);
}

void SerialLink::checkDrained()
{
    if (!m_port.isOpen() || m_lost) {
        Q_EMIT drained(false);
        return;
    }
    const qint64 inDriver = unsentInDriver(m_port);
    const bool whole = inDriver == 0 && m_port.bytesToWrite() == 0;
    if (whole || inDriver < 0 || std::chrono::steady_clock::now() >= m_drainEnds) {
        Q_EMIT drained(whole);
        return;
    }
    m_drainCheck.start(kDrainPoll);
}

void SerialLink::closeWhenDrained()
{
    m_closeWhenDrained = true;
    startDrain();
}

void SerialLink::close()
{
    m_drainCheck.stop();
    m_unreadSince.reset();
    const auto unhold = qScopeGuard([this] { m_hold.release(); });
    if (!m_port.isOpen())
        return;
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
