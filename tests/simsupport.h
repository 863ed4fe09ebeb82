#pragma once

// Helpers for tests that talk to the simulated display directly: frames built
// by hand (apart from the tool's builders), the line settings every message
// came with, and a way to fill the pty while the display does not read.

#include "link/seriallink.h"
#include "sim/simulateddisplay.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace Hand {

inline QByteArray accessCommand()
{
    return QByteArray::fromHex("0401848417");
}

inline QByteArray eraseFrame()
{
    return QByteArray(192, '\0');
}

inline QByteArray endFrame()
{
    QByteArray f(192, '\0');
    f[0] = 0x05;
    return f;
}

// A data frame: type 1, start address (big-endian), end address
// (little-endian), 184 bytes of `data` (zero-padded), XOR of bytes 1..188, 55 AA.
inline QByteArray dataFrame(int start, const QByteArray &data, int endOverride = -1)
{
    QByteArray f(192, '\0');
    const int end = endOverride >= 0 ? endOverride : start + 183;
    f[0] = 1;
    f[1] = char(start >> 8);
    f[2] = char(start);
    f[3] = char(end);
    f[4] = char(end >> 8);
    for (int i = 0; i < 184 && i < data.size(); ++i)
        f[5 + i] = data[i];
    quint8 x = 0;
    for (int i = 1; i < 189; ++i)
        x ^= quint8(f[i]);
    f[189] = char(x);
    f[190] = char(0x55);
    f[191] = char(0xAA);
    return f;
}

inline QByteArray dataFrame(int start, char fill, int endOverride = -1)
{
    return dataFrame(start, QByteArray(184, fill), endOverride);
}

// A parameter packet with these four parameter bytes and its check byte.
inline QByteArray parameterPacket(quint8 a, quint8 b, quint8 c, quint8 d)
{
    QByteArray p = QByteArray::fromHex("0201") + QByteArray(1, char(a)) + char(b) + char(c) + char(d) + char(0x03);
    quint8 x = 0;
    for (char ch : p)
        x ^= quint8(ch);
    return p + char(x);
}

}  // namespace Hand

// Empty if every message in `log` came with the display protocol's line
// settings (8 data bits, no parity, 1 stop bit, no RTS/CTS, no XON/XOFF) at
// `baud`; else which message did not, and what it came with. An empty log is
// a mismatch too. With `asRead`, each message's settings must also have been
// read with its bytes, not carried over from earlier (see SimLogEntry::line:
// a tool that closes the line at once has usually restored the pty's own
// settings before the display reads).
//   const QString wrong = wrongLineSettings(sim.log(), 9600);
//   QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
inline QString wrongLineSettings(const QList<SimLogEntry> &log, int baud, bool asRead = false)
{
    if (log.isEmpty())
        return QStringLiteral("the display heard nothing");
    const SimLineSettings expected = SimLineSettings::plain(baud);
    for (qsizetype i = 0; i < log.size(); ++i) {
        const SimLogEntry &e = log.at(i);
        if (e.line != expected || (asRead && !e.lineAsRead))
            return QStringLiteral("message %1 (%2) came with %3%4, expected %5")
                .arg(i)
                .arg(messageKindName(e.kind), e.line.baud ? e.line.toString() : QStringLiteral("no settings seen"),
                     e.lineAsRead ? QString() : QStringLiteral(" (carried over)"), expected.toString());
    }
    return {};
}

// Opens the tool's side of the display's line a second time, as another
// program would, in raw mode unless `raw` is false. -1 if it cannot.
inline int openToolSide(const QString &device, int flags = O_RDWR, bool raw = true)
{
    const int fd = ::open(QFile::encodeName(device).constData(), flags | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || !raw)
        return fd;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Writes `count` bytes of noise (0xFF) into the line; false if it stalls.
inline bool writeNoise(int fd, qint64 count)
{
    const QByteArray chunk(10'000, char(0xFF));
    for (qint64 sent = 0; sent < count;) {
        const ssize_t n = ::write(fd, chunk.constData(), size_t(qMin<qint64>(chunk.size(), count - sent)));
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Fills the display's line the moment `link` has queued its next message and
// before it hands it to the kernel, so that the message stays in QSerialPort's
// own buffer until the display reads again (pause its reading first). A fill
// made any earlier would not hold: the link's write drops output still queued
// (tcflush), which on a pty throws away what the display has not read yet.
// It relies on SerialLink::traffic(true, ...) coming between the two steps;
// a test using it should check that the close waited, so that it cannot pass
// without the message having been held back.
// Made before the link opens the port: an open QSerialPort holds its port
// exclusively (TIOCEXCL), so the line is opened here at once.
class LineFiller : public QObject {
public:
    LineFiller(const QString &device, SerialLink &link, char fill = char(0xFF))
        : m_fd(openToolSide(device, O_WRONLY | O_NONBLOCK, false))
    {
        // Cooked mode is left alone: the tool's port, restoring the settings
        // it found, must not leave the line looking raw after it closed.
        connect(&link, &SerialLink::traffic, this, [this, fill](bool outgoing, const QByteArray &) {
            if (outgoing && m_filled < 0)
                m_filled = fillUntilFull(fill);
        });
    }
    ~LineFiller() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool isValid() const { return m_fd >= 0; }
    qint64 filled() const { return m_filled; }  // bytes the pty took; -1 until the link wrote

private:
    qint64 fillUntilFull(char fill)
    {
        const QByteArray chunk(4096, fill);
        qint64 total = 0;
        for (;;) {
            const ssize_t n = ::write(m_fd, chunk.constData(), size_t(chunk.size()));
            if (n > 0)
                total += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return total;  // EAGAIN: full
        }
    }

    int m_fd;
    qint64 m_filled = -1;
};
