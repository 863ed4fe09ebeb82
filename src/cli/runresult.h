#pragma once

#include "cli/imagefacts.h"
#include "cli/portresult.h"
#include "link/portcatalog.h"

#include <QList>
#include <QString>

#include <optional>

// The serial ports there are, and what each "Com N" names.
struct PortListing {
    struct Entry {
        int number = 0;
        QString device;      // saved, or the platform's default
        QString realDevice;  // links resolved
        bool saved = false;
        std::optional<DisplayEntry> record;  // what the display record says of it
    };
    QList<FoundPort> found;
    QList<Entry> map;
    QString recordFile;           // the display record's file
    QList<DisplayEntry> records;  // every entry in it, the latest first
    QString recordWarning;        // what in it was ignored (a damaged file or entry)
};

// How a whole command ended: what the summary, the text and --json report.
struct RunResult {
    QString command;  // params, version, isp, ports
    bool dryRun = false;
    std::optional<ImageFacts> image;     // isp
    QList<PortResult> ports;             // one per -p, in command-line order
    std::optional<PortListing> listing;  // ports
    QString usageError;                  // what the command line asked cannot be (exit 2)
    QString failure;                     // why the command could not do its work at all
    int exitCode = 0;
};
