#pragma once

#include "cli/runresult.h"

class RunEvents;
struct CliRequest;

// Runs what the command line asked: lists the ports (saving --map first),
// plans the image (--dry-run), or reads the image once and runs the command
// on every port it names. Tells `events` as it goes; the result is what the
// report is made of.
RunResult runCommand(const CliRequest &request, RunEvents &events);
