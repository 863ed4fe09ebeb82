#pragma once

#include "cli/portjob.h"

#include <QList>

#include <memory>

class RunEvents;
struct FirmwareImage;

// How the ports ended, in the targets' order.
struct PortRun {
    QList<PortResult> results;
    bool stopped = false;  // Ctrl-C (or the like) asked every port to stop

    // One port's own exit code; for several, 0 when all succeeded, 11 when
    // they were stopped, otherwise 12.
    int exitCode() const;
};

// Runs one command on every target at once, all on one event loop; one port is
// simply N = 1. Ctrl-C stops every port at its next step. Progress and each
// port's end go to `events` as they happen.
PortRun runOnPorts(CliCommand command, const QList<Target> &targets, const std::array<quint8, 8> &packet,
                   std::shared_ptr<const FirmwareImage> image, bool trace, RunEvents &events, RecordUse recordUse = {});
