#pragma once

#include "isp/downloadoutcome.h"
#include "isp/ispsession.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

class LineLink;

// Carries one download's session over an open line: the session's actions to
// the line, the timer and the progress, and the line's events back to it.
// It reacts to events on the loop that is already running and never waits
// itself; finished() tells the end. The line stays open: closing it is the
// caller's, after it has told the operator.
class FirmwareDownload : public QObject {
    Q_OBJECT
public:
    explicit FirmwareDownload(LineLink &link, DownloadTimings timings = {}, QObject *parent = nullptr);

    // Sends `image` (read and accepted already) over the open line. Returns
    // at once; progress() and finished() follow.
    void start(const QByteArray &image);
    // An event like any other, judged by the session: nothing more is
    // written, unless the end frame is on its way already.
    void stop();
    bool isRunning() const { return m_running; }

    // Data frames written whole to the line in the last run, counting
    // repeats; a write the line did not take counts for nothing.
    int framesWritten() const { return m_session ? m_session->framesWritten() : 0; }
    // Distinct data frames written whole, and how many times one went out again.
    int framesSent() const { return m_session ? m_session->framesSent() : 0; }
    int retries() const { return m_session ? m_session->retries() : 0; }
    // What failed the download where its outcome does not say: the display's
    // answer held different bytes ("cause: the display answered 07 15"), or
    // the line was lost ("cause: the line was lost: ..."); empty otherwise.
    QString cause() const;

Q_SIGNALS:
    // How many data frames the display has accepted, out of frameCount.
    void progress(int accepted, int frameCount);
    void finished(DownloadOutcome outcome);

private:
    IspSession::Time now() const;
    void apply(const IspActions &actions);
    void write(const QByteArray &bytes);
    void deliverInput();
    void onTimer();

    LineLink &m_link;
    DownloadTimings m_timings;
    std::optional<IspSession> m_session;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_zero;
    bool m_running = false;
    QString m_lostWhy;  // the line was lost during the last run, and why
};
