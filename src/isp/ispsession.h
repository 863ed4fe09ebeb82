#pragma once

#include "isp/downloadoutcome.h"

#include <QByteArray>
#include <QByteArrayView>

#include <chrono>
#include <optional>
#include <utility>
#include <vector>

// Time limits, attempts and pauses of a download. Tests shorten them.
struct DownloadTimings {
    std::chrono::milliseconds accessTimeout{5000};
    std::chrono::milliseconds eraseTimeout{5000};
    std::chrono::milliseconds dataTimeout{3000};
    int dataAttempts = 3;
    std::chrono::milliseconds pauseAfterAccess{5};
    std::chrono::milliseconds pauseAfterFrame{200};
    std::chrono::milliseconds pauseBeforeEnd{10};
    // How long a USB adapter may sit on bytes it has received before the PC
    // reads them: an FTDI chip's latency timer is 16 ms by default. A quiet
    // period lasts this plus three byte times.
    std::chrono::milliseconds adapterLatency{20};
    // A line that will not fall quiet for this long ends the download.
    std::chrono::milliseconds purgeLimit{3000};
};

// What the session asks of its driver, in the order given.
struct IspAction {
    enum class Kind {
        Write,     // drop what was received so far, write `bytes` whole, then report written()
        Drain,     // wait until the bytes written have left; report drained()
        Timer,     // end the one timer at `at` (replaces any earlier)
        Progress,  // the bar's value is `value`
        Stale,     // `bytes` are no answer to anything: dropped
        Finish,    // the download is over with `outcome`
    };
    Kind kind;
    QByteArray bytes;
    std::chrono::microseconds at{0};
    int value = 0;
    DownloadOutcome outcome = DownloadOutcome::Completed;

    static IspAction write(QByteArray b) { return {Kind::Write, std::move(b), {}, 0, {}}; }
    static IspAction drain() { return {Kind::Drain, {}, {}, 0, {}}; }
    static IspAction timer(std::chrono::microseconds at) { return {Kind::Timer, {}, at, 0, {}}; }
    static IspAction progress(int value) { return {Kind::Progress, {}, {}, value, {}}; }
    static IspAction stale(QByteArray b) { return {Kind::Stale, std::move(b), {}, 0, {}}; }
    static IspAction finish(DownloadOutcome o) { return {Kind::Finish, {}, {}, 0, o}; }
};
using IspActions = std::vector<IspAction>;

// The download into the display, from the access command to the end frame,
// as a state machine that does no I/O and keeps no clock: events go in with
// their time, actions come out. Times are on the driver's clock, from any
// fixed start.
//
// An answer is one byte without a frame number, so it is judged on all the
// evidence the line gives:
// - nothing is an answer before the message could have crossed the line (its
//   wire time at `baud` from the moment it was handed to the line, less 10%
//   for the two ends' clocks); the answer limits count from the end of it;
// - an answer is every byte of the read that brought it: an acceptance needs
//   all of them to accept;
// - an acceptance stands only if the line stays free of any other byte until
//   the next message goes out: the pause after it, and at least until the
//   display's own answer would have come had the accepted byte been a stray;
// - before the access command, and before a message is sent again, the line
//   must have been quiet for a quiet period, within a limit (a display may
//   still be answering something else: the version query's text).
class IspSession {
public:
    using Time = std::chrono::microseconds;

    IspSession(QByteArray image, qint32 baud, DownloadTimings timings = {});

    IspActions start(Time now);
    // The last Write was handed to the line whole at `at`.
    IspActions written(Time at);
    // Bytes read from the line at `at` (no later than the read itself).
    IspActions bytesReceived(QByteArrayView bytes, Time at);
    IspActions timerEnded(Time now);
    // The last Write did not reach the line whole: the line is gone.
    IspActions writeFailed(Time now);
    IspActions drained(bool whole, Time now);
    IspActions lineLost(Time now);
    // The operator stopped: nothing more is written. Once the end frame is
    // written a stop cannot take it back, and the download completes.
    IspActions stop(Time now);

    // An event the session cannot take where it stands (start twice,
    // anything after the end, written() with nothing written) changes
    // nothing and asks for nothing; it is counted. Not an error state: a
    // byte or a timer after the end is ordinary for a driver, and must never
    // turn an outcome into another; the driven-events rows count them.
    int refusedEvents() const { return m_refused; }

    bool finished() const { return m_state == State::Done; }
    int frameCount() const { return m_frameCount; }
    // Data frames written whole, counting repeats; distinct ones; repeats.
    int framesWritten() const { return m_framesWritten; }
    int framesSent() const { return m_framesSent; }
    int retries() const { return m_framesWritten - m_framesSent; }
    // Every byte that judged the message a failure rested on, where it was
    // more than one ("07 15": an acceptance and a refusal); empty otherwise.
    QByteArray mixedAnswer() const { return m_mixed; }

private:
    // docs/protocol.md draws these states and what moves between them: a
    // change here changes the diagram there.
    enum class State {
        Idle,
        Settle,  // before the access command: the line must be quiet
        Access,  // awaiting the answers
        Erase,
        Data,
        AfterAccess,  // accepted: the line must stay free of any other byte
        AfterErase,
        AfterFrame,
        Purge,     // refused or in doubt: wait for a quiet line, then again
        EndFrame,  // written, draining
        Done,
    };

    IspActions send(State state, QByteArray message, std::chrono::milliseconds limit);
    IspActions sendFrame();
    IspActions hold(State state, std::chrono::milliseconds pause, Time now);
    IspActions next(Time now);  // once a hold has passed
    IspActions judge(QByteArrayView answer, Time at);
    IspActions doubt(QByteArrayView bytes, Time at);
    IspActions again(Time now);  // the data frame once more, after a quiet line
    IspActions retryOrFail(Time now);
    IspActions purgeTimerEnded(Time now);
    IspActions finish(DownloadOutcome outcome);
    IspActions refuse(const char *event);
    bool awaiting() const { return m_state == State::Access || m_state == State::Erase || m_state == State::Data; }
    bool holding() const
    {
        return m_state == State::AfterAccess || m_state == State::AfterErase || m_state == State::AfterFrame;
    }
    std::chrono::microseconds quietPeriod() const;
    quint8 acceptingByte() const;

    QByteArray m_image;
    qint32 m_baud;
    DownloadTimings m_timings;
    int m_frameCount;
    State m_state = State::Idle;
    bool m_handedOver = false;  // the message awaiting its answers is on its way
    int m_frame = 0;
    int m_attempt = 0;
    QByteArray m_message;                  // the last one written
    std::chrono::milliseconds m_limit{0};  // its answer limit
    QByteArray m_answer;                   // what the message under way was answered
    Time m_writtenAt{0};                   // when the message under way was handed to the line
    Time m_earliestAnswer{0};
    Time m_timerAt{0};
    std::optional<Time> m_lastByte;  // when the line last said anything
    Time m_purgeEnds{0};
    int m_framesWritten = 0;
    int m_framesSent = 0;
    QByteArray m_mixed;
    int m_refused = 0;
};
