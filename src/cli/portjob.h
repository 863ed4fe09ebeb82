#pragma once

#include "cli/portresult.h"
#include "cli/clirequest.h"
#include "isp/downloadoutcome.h"
#include "isp/downloadrecord.h"
#include "link/target.h"

#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <atomic>
#include <memory>
#include <optional>

class FirmwareDownload;
class SerialLink;

// What an isp job does with the display record.
struct RecordUse {
    bool keep = true;       // a simulated display is no display of this PC's
    bool skipHeld = false;  // --skip-held: nothing is sent to a display that holds the image
};
struct FirmwareImage;

// One port's command: its own link and download, driven by the events of the
// thread it lives on. The very procedures the window runs; only what is told
// to the operator differs.
class PortJob : public QObject {
    Q_OBJECT
public:
    // `image` is read once and shared by every job, read-only (isp only).
    // With `trace`, every byte goes to stderr; `namePort` puts the port in
    // front of each line where several ports trace at once.
    // `packet`: the parameter packet, completed (params only).
    PortJob(CliCommand command, Target target, std::array<quint8, 8> packet, std::shared_ptr<const FirmwareImage> image,
            bool trace, bool namePort, RecordUse recordUse = {});
    ~PortJob() override;

    // From any thread: stops at the next step; nothing more is sent.
    void cancel();

public Q_SLOTS:
    // Starts the command; the event loop of the thread it lives on
    // then carries it to its end: finished() follows.
    void run();

Q_SIGNALS:
    void progress(int value, int maximum);
    void finished(const PortResult &result);

private:
    void download();
    std::optional<DownloadOutcome> beginRecord(PortResult &result);
    void endRecord(DownloadOutcome outcome, PortResult &result);
    void sendPacket();
    void traceTo(SerialLink &link) const;
    // The port closed, the outcome's word and exit status in the result.
    void end(DownloadOutcome outcome, PortResult result);

    CliCommand m_command;
    Target m_target;
    std::array<quint8, 8> m_packet;
    std::shared_ptr<const FirmwareImage> m_image;
    bool m_trace;
    bool m_namePort;
    RecordUse m_recordUse;
    std::atomic<bool> m_cancelled{false};
    // Made on the job's own thread, in run().
    std::unique_ptr<SerialLink> m_link;
    std::unique_ptr<FirmwareDownload> m_download;
    QElapsedTimer m_clock;
    DisplayRecord m_displayRecord;
    std::optional<DownloadRecord> m_keeper;  // while the download may change the display
};
