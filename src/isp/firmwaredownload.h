#pragma once

#include "isp/downloadoutcome.h"
#include "isp/firmwareimage.h"
#include "isp/ispsession.h"
#include "link/seriallink.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class Operator;

// How a download ends for an image refused before any port is touched.
DownloadOutcome outcomeOfRefusal(FirmwareImage::Verdict verdict);

// The download into the display, one procedure from the file dialog to the
// last clean-up, against the serial link and the operator.
class FirmwareDownload {
public:
    static inline const QString kTitle = QStringLiteral("ISP Message");

    FirmwareDownload(SerialLink &link, Operator &op, DownloadTimings timings = {});

    // Runs the whole download, from asking the operator for the file; the
    // port is closed and the buttons are enabled again on every way out.
    DownloadOutcome run(const Target &target);
    // The same from an image already read and accepted (Ready), for several
    // displays fed from one read.
    DownloadOutcome send(const FirmwareImage &image, const Target &target);

    // Stops a running download at its next step; nothing more is sent and no
    // success is reported. Safe to call from inside a reply wait.
    void requestCancel();
    bool isRunning() const { return m_running; }

    // Data frames written whole to the line so far in this run, counting
    // repeats; a write the line did not take counts for nothing.
    int framesWritten() const { return m_framesWritten; }
    // Distinct data frames written whole, and how many times one went out again.
    int framesSent() const { return m_framesSent; }
    int retries() const { return m_framesWritten - m_framesSent; }
    // Why the display's answer failed the download where one byte of it
    // contradicted another ("cause: the display answered 07 15"); empty
    // otherwise.
    QString answerCause() const;
    // Why the port could not be opened, after a PortUnavailable outcome.
    const std::optional<OpenFailure> &openFailure() const { return m_openFailure; }

private:
    DownloadOutcome drive(IspSession &session);
    bool stopSeen();

    SerialLink &m_link;
    Operator &m_operator;
    DownloadTimings m_timings;
    std::function<void()> m_stop;  // while a session runs
    bool m_running = false;
    bool m_cancelRequested = false;
    int m_framesWritten = 0;
    int m_framesSent = 0;
    QByteArray m_mixedAnswer;
    std::optional<OpenFailure> m_openFailure;
};
