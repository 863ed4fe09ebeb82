#include "sim/ptyend.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kHangUpPollMs = 20;  // how often to look whether the tool reopened the line

int baudOf(speed_t s)
{
    switch (s) {
    // clang-format off
    case B50: return 50; case B75: return 75; case B110: return 110; case B134: return 134;
    case B150: return 150; case B200: return 200; case B300: return 300; case B600: return 600;
    case B1200: return 1200; case B1800: return 1800; case B2400: return 2400;
    case B4800: return 4800; case B9600: return 9600; case B19200: return 19200;
    case B38400: return 38400; case B57600: return 57600; case B115200: return 115200;
    // clang-format on
    case B230400: return 230400;
    default: return 0;
    }
}

SimLineSettings settingsOf(const termios &t)
{
    SimLineSettings s;
    s.baud = baudOf(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        s.parity = 'N';
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    s.rtsCts = (t.c_cflag & CRTSCTS) != 0;
    s.xonOutput = (t.c_iflag & IXON) != 0;
    s.xoffInput = (t.c_iflag & IXOFF) != 0;
    return s;
}

// Whether the tool has its side open: the master polls HUP while it has not.
bool toolHasTheLine(int fd, short events)
{
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

}  // namespace

QString SimLineSettings::toString() const
{
    QString s = QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(parity)).arg(dataBits).arg(stopBits);
    if (rtsCts)
        s += QStringLiteral(" rts/cts");
    if (xonOutput)
        s += QStringLiteral(" ixon");
    if (xoffInput)
        s += QStringLiteral(" ixoff");
    return s;
}

int PtyEnd::create(QString *devicePath, QString *error)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    char name[128] = {};
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        *error = QStringLiteral("cannot name the pseudo-terminal");
        ::close(fd);
        return -1;
    }
    *devicePath = QString::fromLocal8Bit(name);
    return fd;
}

void PtyEnd::start(std::function<void(const QByteArray &)> heard, std::function<void()> toolClosed)
{
    m_heard = std::move(heard);
    m_toolClosed = std::move(toolClosed);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readLine(); });
    m_reopenPoll = new QTimer(this);
    m_reopenPoll->setInterval(kHangUpPollMs);
    connect(m_reopenPoll, &QTimer::timeout, this, [this] { checkReopened(); });
    m_resume = new QTimer(this);
    m_resume->setSingleShot(true);
    m_resume->setTimerType(Qt::PreciseTimer);
    connect(m_resume, &QTimer::timeout, this, [this] { resume(); });
}

void PtyEnd::close()
{
    stopListening();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void PtyEnd::stopListening()
{
    m_deaf = true;
    // May run inside the notifier's own signal: disable it, never delete it here.
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_reopenPoll)
        m_reopenPoll->stop();
    if (m_resume)
        m_resume->stop();
}

void PtyEnd::pause(std::chrono::milliseconds duration)
{
    if (m_fd < 0 || m_deaf)
        return;
    m_paused = true;
    m_notifier->setEnabled(false);
    m_reopenPoll->stop();
    m_resume->start(duration);
}

// Also after a hang-up, with the notifier off: a short visit's bytes are
// still there to read, before the reads fail again.
void PtyEnd::hearOutstanding()
{
    readLine();
}

void PtyEnd::resume()
{
    m_paused = false;
    if (m_fd < 0 || m_deaf)
        return;
    m_notifier->setEnabled(true);
    readLine();
}

// The tool closed its side: once its last bytes are read, reads fail with
// EIO and poll reports HUP until it opens the line again. Listening then
// would spin, so look every few milliseconds instead.
void PtyEnd::readLine()
{
    if (!listening())
        return;
    if (readAvailable() == ReadEnd::HungUp) {
        m_notifier->setEnabled(false);
        m_toolClosed();
        if (m_fd >= 0)
            m_reopenPoll->start();
    }
}

void PtyEnd::checkReopened()
{
    if (!listening()) {
        m_reopenPoll->stop();
        return;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0 || !(p.revents & POLLHUP)) {
        m_reopenPoll->stop();
        m_notifier->setEnabled(true);
        readLine();
        return;
    }
    // Bytes written by a short visit (open, write, close) between two looks.
    if (readAvailable() == ReadEnd::HungUp)
        m_toolClosed();
}

PtyEnd::ReadEnd PtyEnd::readAvailable()
{
    char buf[4096];
    while (listening()) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            sampleLine();
            m_heard(QByteArray(buf, n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return ReadEnd::Drained;
        return ReadEnd::HungUp;
    }
    return ReadEnd::Drained;
}

// On the master, tcgetattr reads the settings of the tool's side. Once the
// tool has closed it (or before it has set it up) they read back as the
// pty's own settings, in canonical mode, which no serial tool uses: keep
// the last settings seen while the tool had the line open then.
void PtyEnd::sampleLine()
{
    termios t{};
    m_lineAsRead = toolHasTheLine(m_fd, POLLIN) && ::tcgetattr(m_fd, &t) == 0 && !(t.c_lflag & ICANON);
    if (m_lineAsRead)
        m_line = settingsOf(t);
}

void PtyEnd::send(const QByteArray &bytes)
{
    if (m_fd < 0)
        return;
    // With the tool's side closed the pty falls back to cooked mode and
    // would echo the answer back to us; nobody is listening anyway. The
    // line may also stay open in another program's hands with the pty's
    // own settings back: echo on says the same.
    if (!toolHasTheLine(m_fd, POLLOUT))
        return;
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0 || (t.c_lflag & ECHO))
        return;
    [[maybe_unused]] const ssize_t n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
}
