#pragma once

#include "isp/downloadoutcome.h"
#include "record/displayrecord.h"

#include <QMetaType>
#include <QString>

#include <optional>

// How one port's command ended: the one record the progress printer, the
// summary table and --json all read, so no front end works an outcome out
// again on its own.
struct PortResult {
    QString port;    // as named on the command line: "Com 2", "/dev/ttyUSB0"
    QString device;  // the device it reached, links resolved
    DownloadOutcome outcome = DownloadOutcome::Cancelled;
    QString message;     // the window's text for it ("ISP Transmit OK!", ...)
    QString cause;       // why the port could not be opened, or the download failed, where the outcome does not say
    int frames = 0;      // data frames the image takes (isp only)
    int framesSent = 0;  // distinct data frames written whole to the line
    int retries = 0;     // data frames written again after a refusal or silence
    double seconds = 0;
    // isp: what the display record says of the display afterwards, and why
    // it could not be read or written, if so.
    std::optional<DisplayEntry> record;
    QString recordWarning;

    int attempts() const { return framesSent + retries; }
    // The outcome's stable word for scripts ("completed", "access-timeout", ...).
    QString word() const { return outcomeWord(outcome); }
    int exitCode() const;
    // For a line that names the port already: the message without the
    // port's name in front ("not available."), or the outcome word where the
    // window shows no message.
    QString outcomeText() const;
};
Q_DECLARE_METATYPE(PortResult)

// A line about one of several ports: the port's name in front, unless the
// text names it already ("/dev/ttyUSB0: not available.").
QString portLine(const QString &port, const QString &text);
