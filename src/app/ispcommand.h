#pragma once

#include "isp/downloadoutcome.h"
#include "isp/firmwaredownload.h"
#include "link/openfailure.h"
#include "link/target.h"

#include <QObject>
#include <QString>

#include <optional>

class Operator;
class SerialLink;

// "ISP" as the window runs it: the file dialog, the image, the port, the
// download, then the way back in the one order the operator knows: message,
// port, buttons, bar. Through the operator only; it never waits itself.
class IspCommand : public QObject {
    Q_OBJECT
public:
    static inline const QString kTitle = QStringLiteral("ISP Message");

    IspCommand(SerialLink &link, Operator &op, DownloadTimings timings = {}, QObject *parent = nullptr);

    // Asks the operator for the file and starts; finished() tells the end
    // (at once when it ends before the port is written to).
    void run(const Target &target);
    // Stops at the next step; nothing more is sent and no success is reported.
    void stop();
    bool isRunning() const { return m_running; }

    int framesWritten() const { return m_download.framesWritten(); }
    int framesSent() const { return m_download.framesSent(); }
    int retries() const { return m_download.retries(); }
    // Why the port could not be opened, after a PortUnavailable outcome.
    const std::optional<OpenFailure> &openFailure() const { return m_openFailure; }

Q_SIGNALS:
    // The bytes have stopped: before the operator is told.
    void transferEnded(DownloadOutcome outcome);
    void finished(DownloadOutcome outcome);

private:
    void downloadEnded(DownloadOutcome outcome);
    void end(DownloadOutcome outcome);

    SerialLink &m_link;
    Operator &m_operator;
    FirmwareDownload m_download;
    bool m_running = false;
    bool m_stopRequested = false;
    std::optional<OpenFailure> m_openFailure;
};
