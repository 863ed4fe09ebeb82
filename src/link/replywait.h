#pragma once

#include <QByteArrayView>
#include <QObject>

#include <chrono>


class QEventLoop;
class SerialLink;

// Outcome of one wait for the display's answer.
enum class ReplyCode : qint16 {
    NoAnswer = 0,      // nothing before the time limit (or the line is gone)
    Accepted = 1,
    Refused = 2,       // any byte that is not the one awaited
    WrongVersion = 7,  // the display reports a wrong version (access answer only)
};

namespace Reply {
constexpr quint8 kAccessAccepted = 0x07;
constexpr quint8 kWrongVersion = 0x1B;
constexpr quint8 kFrameAccepted = 0xAA;

// Judges an answer by its first byte. An empty chunk is no answer.
ReplyCode classify(QByteArrayView chunk, bool accessPhase);
}  // namespace Reply

// Waits for the first chunk of an answer, a time limit, or a lost line, inside
// a local event loop: the window repaints and takes clicks meanwhile, and the
// CPU stays idle. Nothing spins.
class ReplyWait : public QObject {
    Q_OBJECT
public:
    explicit ReplyWait(SerialLink &link, QObject *parent = nullptr);

    // True while the access command's answer is awaited: changes the rule of
    // classification only.
    bool AccessPhase = false;
    bool waitDone() const { return m_waitDone; }
    ReplyCode replyCode() const { return m_replyCode; }

    // When a message was handed to the line, and how long it takes to cross.
    struct Sent {
        std::chrono::steady_clock::time_point at;
        std::chrono::microseconds wireTime{0};
    };

    // Waits for the answer to the message `sent`: bytes that arrive before
    // it could have crossed the line are dropped as stale, and the limit
    // counts from the end of its wire time. Returns the outcome (also kept in
    // replyCode()).
    ReplyCode wait(std::chrono::milliseconds limit, Sent sent);

    // Lets `duration` pass with events flowing (no answer is taken); abort()
    // ends it early, so a stop is never held up by a pause.
    void pause(std::chrono::milliseconds duration);

    // Ends the wait or pause under way, if any; a wait as "no answer".
    void abort();

private:
    void takeAnswer();
    // Runs events until `limit` has passed or the loop is quit.
    void runFor(std::chrono::milliseconds limit);

    SerialLink &m_link;
    std::chrono::steady_clock::time_point m_earliestAnswer;
    bool m_waitDone = false;
    ReplyCode m_replyCode = ReplyCode::NoAnswer;
    QEventLoop *m_loop = nullptr;
};
