#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

class QSocketNotifier;
class QTimer;

// The line settings the tool gave its side of the pseudo-terminal, as the
// display reads them from its own side.
//
// A Linux pty always reads back 8 data bits and no parity: its driver forces
// them whatever the tool asks for, so on a pty those two fields cannot show a
// tool's mistake (speed, stop bits and both kinds of flow control can).
struct SimLineSettings {
    int baud = 0;            // 0: not known (the tool was never seen with the line open)
    int dataBits = 8;        // 5..8
    char parity = 'N';       // N, E, O, M (mark) or S (space)
    int stopBits = 1;        // 1 or 2
    bool rtsCts = false;     // CRTSCTS: hardware flow control
    bool xonOutput = false;  // IXON: the tool stops sending on XOFF
    bool xoffInput = false;  // IXOFF: the tool sends XOFF when its input fills

    // The settings of the display's protocol: 8 data bits, no parity, 1 stop
    // bit, no flow control of either kind, at this speed.
    static SimLineSettings plain(int baud) { return {baud, 8, 'N', 1, false, false, false}; }
    // "9600,N,8,1", followed by " rts/cts", " ixon", " ixoff" where set.
    QString toString() const;
    bool operator==(const SimLineSettings &) const = default;
};

// The display's end of a pseudo-terminal: it holds the master side, reads
// what the tool writes (with the settings the tool set), writes what the
// display says, and lives through the tool closing and reopening its side.
// It knows nothing of messages. Lives on one thread, which runs an event loop.
class PtyEnd : public QObject {
public:
    // A new pseudo-terminal: its master side (non-blocking), or -1 with *error set.
    static int create(QString *devicePath, QString *error);

    PtyEnd(int fd, QObject *parent) : QObject(parent), m_fd(fd) {}
    ~PtyEnd() override { close(); }

    // Starts listening: `heard` gets every chunk read, `toolClosed` the tool
    // closing its side (after its last bytes).
    void start(std::function<void(const QByteArray &)> heard, std::function<void()> toolClosed);
    // Closes the line for good, as an unplugged cable would.
    void close();
    // Reads nothing more, while the line stays up for what is still to be said.
    void stopListening();
    // Reads nothing for this long, then reads again.
    void pause(std::chrono::milliseconds duration);
    // Reads at once what the tool wrote and is not read yet, unless paused
    // or no longer listening.
    void hearOutstanding();
    // Writes bytes to the tool, if it has the line open in raw mode; a lost
    // answer is what a real line does too.
    void send(const QByteArray &bytes);

    bool isOpen() const { return m_fd >= 0; }
    // The settings last seen while the tool had the line open, and whether
    // they were read with the last bytes (not carried over from before).
    SimLineSettings line() const { return m_line; }
    bool lineAsRead() const { return m_lineAsRead; }

private:
    enum class ReadEnd { Drained,
                         HungUp };
    bool listening() const { return m_fd >= 0 && !m_paused && !m_deaf; }
    void resume();
    void readLine();
    void checkReopened();
    ReadEnd readAvailable();
    void sampleLine();

    int m_fd;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_reopenPoll = nullptr;
    QTimer *m_resume = nullptr;
    bool m_paused = false;
    bool m_deaf = false;
    SimLineSettings m_line;
    bool m_lineAsRead = false;
    std::function<void(const QByteArray &)> m_heard;
    std::function<void()> m_toolClosed;
};
