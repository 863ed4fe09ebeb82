#pragma once

#include "isp/downloadoutcome.h"
#include "isp/firmwaredownload.h"
#include "link/openfailure.h"
#include "link/target.h"
#include "record/displayrecord.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class RecordKeeper;
class SerialLink;
struct FirmwareImage;

// What a download does with the display record.
struct RecordUse {
    bool keep = true;       // a simulated display is no display of this PC's
    bool skipHeld = false;  // nothing is sent to a display that holds the image
};

// How one download ended, and what the record says of the display now.
struct DownloadResult {
    DownloadOutcome outcome = DownloadOutcome::Cancelled;
    int frames = 0;                          // data frames the image takes
    int framesSent = 0;                      // distinct data frames written whole to the line
    int retries = 0;                         // data frames written again after a refusal or silence
    std::optional<OpenFailure> openFailure;  // why the port could not be opened
    QString cause;                           // what failed it where the outcome does not say
    std::optional<DisplayEntry> record;      // the display's entry afterwards (or the one that held it)
    QString recordWarning;                   // what reading the record ignored
    QString recordError;                     // why "under way" could not be written (nothing was sent)
    QString recordEndError;                  // why the end could not be written: it still says "under way"

    // "the display record still says the download is under way: WHY", or
    // empty when the end was written.
    QString recordEndWarning() const
    {
        return recordEndError.isEmpty() ? QString()
                                        : QStringLiteral("the display record still says the download is under way: ") + recordEndError;
    }
};

// One download into one display, the same for the window and the command
// line: skip a display that holds the image, or write "under way" in the
// record (nothing is opened when that fails), open the port once it is on
// disk, drive the download, write how it ended, tell the operator, close the
// port, and report. It reacts to events and never waits; the record's file
// work runs on the keeper's thread.
class DownloadProcedure : public QObject {
    Q_OBJECT
public:
    DownloadProcedure(SerialLink &link, RecordKeeper &records, DownloadTimings timings = {}, QObject *parent = nullptr);

    // Starts; progress() and finished() follow, never from inside this call.
    void start(const Target &target, std::shared_ptr<const FirmwareImage> image, RecordUse use, const QString &program);
    // Stops at the next step: nothing more is sent and no success is reported.
    void stop();
    bool isRunning() const { return m_running; }

    // Told the result while the port is still open, before it is let go: the
    // window's message comes first.
    void setTeller(std::function<void(const DownloadResult &)> tell) { m_tell = std::move(tell); }

Q_SIGNALS:
    // The port is open; the first byte follows (the window greys its buttons).
    void portOpened();
    // Data frames accepted, out of frames.
    void progress(int accepted, int frames);
    // The port is closed.
    void finished(const DownloadResult &result);

private:
    struct Begun;
    struct Ended;
    void begun(const Begun &begun);
    void openPort();
    void transferEnded(DownloadOutcome outcome);
    void recordEnded(const Ended &ended);
    void finish();

    SerialLink &m_link;
    RecordKeeper &m_records;
    FirmwareDownload m_download;
    std::function<void(const DownloadResult &)> m_tell;
    Target m_target;
    std::shared_ptr<const FirmwareImage> m_image;
    DownloadResult m_result;
    std::optional<DisplayEntry> m_underWay;  // on disk while the display may change
    std::optional<DisplayEntry> m_earlier;   // what the record said before
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_transferStarted = false;
};
