#include "isp/downloadprocedure.h"

#include "isp/downloadrecord.h"
#include "isp/firmwareimage.h"
#include "link/seriallink.h"
#include "record/recordkeeper.h"

struct DownloadProcedure::Begun {
    std::optional<DisplayEntry> earlier;
    std::optional<DisplayEntry> underWay;  // on disk
    QString warning;
    QString error;
    bool held = false;  // skipped: the display holds this very image
};

struct DownloadProcedure::Ended {
    QString error;
    std::optional<DisplayEntry> entry;
};

DownloadProcedure::DownloadProcedure(SerialLink &link, RecordKeeper &records, DownloadTimings timings, QObject *parent)
    : QObject(parent), m_link(link), m_records(records), m_download(link, timings)
{
    connect(&m_download, &FirmwareDownload::progress, this, &DownloadProcedure::progress);
    connect(&m_download, &FirmwareDownload::finished, this, &DownloadProcedure::transferEnded);
}

void DownloadProcedure::start(const Target &target, std::shared_ptr<const FirmwareImage> image, RecordUse use,
                              const QString &program)
{
    if (m_running)
        return;  // one download at a time
    m_running = true;
    m_stopRequested = false;
    m_transferStarted = false;
    m_target = target;
    m_image = std::move(image);
    m_result = {};
    m_result.frames = m_image->frameCount();
    m_underWay.reset();
    m_earlier.reset();
    if (!use.keep) {
        QMetaObject::invokeMethod(this, &DownloadProcedure::openPort, Qt::QueuedConnection);
        return;
    }
    // The key, the reading and the save touch the disk: on the keeper's thread.
    m_records.ask<Begun>(
        this,
        [device = target.device, image = m_image, use, program](const DisplayRecord &record) {
            Begun b;
            const DisplayEntry entry = DownloadRecord::underWay(DownloadRecord::keyOf(device), *image, program);
            const DisplayRecord::Contents contents = record.load();
            b.warning = contents.warning;
            b.earlier = contents.find(entry.key);
            if (use.skipHeld && b.earlier && b.earlier->holds(entry.sha256)) {
                b.held = true;
                return b;
            }
            b.error = record.put(entry.key, entry);
            if (b.error.isEmpty())
                b.underWay = entry;
            return b;
        },
        [this](Begun b) { begun(b); });
}

void DownloadProcedure::stop()
{
    if (!m_running || m_stopRequested)
        return;
    m_stopRequested = true;
    if (m_transferStarted)
        m_download.stop();
}

void DownloadProcedure::begun(const Begun &b)
{
    m_result.recordWarning = b.warning;
    m_earlier = b.earlier;
    if (b.held) {
        m_result.record = b.earlier;
        m_result.outcome = DownloadOutcome::UpToDate;
        return finish();
    }
    if (!b.underWay) {
        m_result.recordError = b.error;
        m_result.outcome = DownloadOutcome::RecordUnwritable;
        return finish();
    }
    m_underWay = b.underWay;
    openPort();
}

void DownloadProcedure::openPort()
{
    // A stop that came while the record was written: nothing is opened.
    if (m_stopRequested)
        return transferEnded(DownloadOutcome::Cancelled);
    if (std::optional<OpenFailure> failure = m_link.open(m_target)) {
        m_link.close();
        m_result.openFailure = std::move(failure);
        return transferEnded(DownloadOutcome::PortUnavailable);
    }
    Q_EMIT portOpened();
    // A stop that came while the operator was told: not a byte is written.
    if (m_stopRequested)
        return transferEnded(DownloadOutcome::Cancelled);
    m_transferStarted = true;
    m_download.start(m_image->bytes);
}

// The bytes have stopped: the record is told before the operator, so a
// program ended while the message is up leaves the truth behind.
void DownloadProcedure::transferEnded(DownloadOutcome outcome)
{
    m_result.outcome = outcome;
    if (m_transferStarted) {
        m_result.framesSent = m_download.framesSent();
        m_result.retries = m_download.retries();
        if (outcome != DownloadOutcome::Completed)
            m_result.cause = m_download.cause();
    }
    if (!m_underWay)
        return finish();
    const std::optional<DisplayEntry> entry = DownloadRecord::afterwards(*m_underWay, m_earlier, outcome,
                                                                         m_result.framesSent, m_transferStarted);
    m_records.ask<Ended>(
        this,
        [key = m_underWay->key, entry](const DisplayRecord &record) {
            Ended e;
            e.error = record.put(key, entry);
            e.entry = record.load().find(key);
            return e;
        },
        [this](Ended e) { recordEnded(e); });
}

void DownloadProcedure::recordEnded(const Ended &ended)
{
    m_underWay.reset();
    m_result.record = ended.entry;
    m_result.recordEndError = ended.error;
    finish();
}

// Every way out: the operator is told, then the port is let go.
void DownloadProcedure::finish()
{
    if (m_tell)
        m_tell(m_result);
    m_link.close();
    m_running = false;
    m_image.reset();
    Q_EMIT finished(m_result);
}
