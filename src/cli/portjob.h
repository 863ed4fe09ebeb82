#pragma once

#include "cli/portresult.h"
#include "cli/clirequest.h"
#include "link/target.h"

#include <QObject>

#include <array>
#include <atomic>
#include <memory>

class DownloadRecord;
class FirmwareDownload;

// What an isp job does with the display record.
struct RecordUse {
    bool keep = true;       // a simulated display is no display of this PC's
    bool skipHeld = false;  // --skip-held: nothing is sent to a display that holds the image
};
struct FirmwareImage;

// One port's command on a thread of its own: its own link, reply wait and
// event loop, so one display's silence never delays another's frame. The
// very procedures the window runs; only the operator differs.
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
    // Runs the command; call it on the job's own thread.
    void run();

Q_SIGNALS:
    void progress(int value, int maximum);
    void finished(const PortResult &result);

private:
    friend class JobOperator;
    PortResult sendPacket(class SerialLink &link, class JobOperator &op);
    PortResult download(class SerialLink &link, class JobOperator &op);
    DownloadOutcome sendImage(class SerialLink &link, class JobOperator &op, PortResult &result);
    void traceTo(class SerialLink &link) const;

    CliCommand m_command;
    Target m_target;
    std::array<quint8, 8> m_packet;
    std::shared_ptr<const FirmwareImage> m_image;
    bool m_trace;
    bool m_namePort;
    RecordUse m_recordUse;
    std::atomic<bool> m_cancelled{false};
    FirmwareDownload *m_download = nullptr;  // only touched on the job's thread
};
