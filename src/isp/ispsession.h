#pragma once

#include "isp/downloadoutcome.h"

#include <QByteArray>
#include <QByteArrayView>

#include <chrono>
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
};

// What the session asks of its driver, in the order given.
struct IspAction {
    enum class Kind {
        Write,     // drop what was received so far, then write `bytes` whole
        Drain,     // wait until the bytes written have left; report drained()
        Timer,     // end the one timer at `at` (replaces any earlier)
        Progress,  // the bar's value is `value`
        Stale,     // `bytes` came too soon to be an answer: dropped
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
// Nothing is an answer before the message could have crossed the line (its
// wire time at `baud`, less 10% for the two ends' clocks), and the answer
// limits count from the end of the wire time.
class IspSession {
public:
    using Time = std::chrono::microseconds;

    IspSession(QByteArray image, qint32 baud, DownloadTimings timings = {});

    IspActions start(Time now);
    IspActions bytesReceived(QByteArrayView bytes, Time at);
    IspActions timerEnded(Time now);
    // The last Write did not reach the line whole: the line is gone.
    IspActions writeFailed(Time now);
    IspActions drained(bool whole, Time now);
    IspActions lineLost(Time now);
    // The operator stopped: nothing more is written. Not to be given once
    // the end frame was written (while it drains).
    IspActions stop(Time now);

    bool finished() const { return m_state == State::Done; }
    int frameCount() const { return m_frameCount; }
    // Data frames written whole, counting repeats; distinct ones; repeats.
    int framesWritten() const { return m_framesWritten; }
    int framesSent() const { return m_framesSent; }
    int retries() const { return m_framesWritten - m_framesSent; }

private:
    enum class State { Idle, Access, AfterAccess, Erase, Data, AfterFrame, BeforeEnd, EndFrame, Done };

    IspActions send(State state, QByteArray message, std::chrono::milliseconds limit, Time now);
    IspActions sendFrame(Time now);
    IspActions pause(State state, std::chrono::milliseconds duration, Time now);
    IspActions next(Time now);  // after a pause
    IspActions judge(int reply, Time now);
    IspActions finish(DownloadOutcome outcome);
    bool awaiting() const { return m_state == State::Access || m_state == State::Erase || m_state == State::Data; }

    QByteArray m_image;
    qint32 m_baud;
    DownloadTimings m_timings;
    int m_frameCount;
    State m_state = State::Idle;
    int m_frame = 0;
    int m_attempt = 0;
    QByteArray m_message;       // the last one written
    Time m_earliestAnswer{0};
    Time m_timerAt{0};
    int m_framesWritten = 0;
    int m_framesSent = 0;
};
