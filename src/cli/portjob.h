#pragma once

#include "cli/clirequest.h"
#include "cli/portresult.h"
#include "isp/downloadprocedure.h"
#include "link/target.h"

#include <QElapsedTimer>
#include <QObject>

#include <array>
#include <memory>

class RecordKeeper;
class SerialLink;
struct FirmwareImage;

// One port's command on the run's event loop: its own link, and for isp the
// download procedure the window runs too; only what is told differs.
class PortJob : public QObject {
    Q_OBJECT
public:
    // `image` is read once and shared by every job, read-only (isp only).
    // With `trace`, every byte goes to stderr; `namePort` puts the port in
    // front of each line where several ports trace at once.
    // `packet`: the parameter packet, completed (params only).
    PortJob(CliCommand command, Target target, std::array<quint8, 8> packet, std::shared_ptr<const FirmwareImage> image,
            bool trace, bool namePort, RecordKeeper &records, RecordUse recordUse = {}, DownloadTimings timings = {});
    ~PortJob() override;

    // Stops at the next step; nothing more is sent.
    void cancel();

public Q_SLOTS:
    // Starts the command; the event loop then carries it to its end:
    // finished() follows.
    void run();

Q_SIGNALS:
    void progress(int value, int maximum);
    void finished(const PortResult &result);

private:
    void downloaded(const DownloadResult &download);
    void sendPacket();
    void traceTo(SerialLink &link) const;
    // The port closed, where it is and how long it took in the result.
    void end(PortResult result);

    CliCommand m_command;
    Target m_target;
    std::array<quint8, 8> m_packet;
    std::shared_ptr<const FirmwareImage> m_image;
    bool m_trace;
    bool m_namePort;
    RecordUse m_recordUse;
    bool m_cancelled = false;
    std::unique_ptr<SerialLink> m_link;
    std::unique_ptr<DownloadProcedure> m_download;
    RecordKeeper &m_records;
    DownloadTimings m_timings;
    QElapsedTimer m_clock;
};
