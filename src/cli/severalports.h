#pragma once

#include "cli/portjob.h"

#include <QList>

#include <memory>

struct FirmwareImage;

struct SeveralPortsOptions {
    bool quiet = false;
    bool json = false;
    bool trace = false;
};

// Runs one command on every target at once, one thread a port; prints the
// progress board, then the summary table (or the JSON report). Returns 0 when
// every port succeeded, 11 when Ctrl-C stopped them, otherwise 12.
int runOnSeveralPorts(const QString &commandName, PortJob::Command command, const QList<PortTarget> &targets,
                      std::shared_ptr<const FirmwareImage> image, SeveralPortsOptions options);
