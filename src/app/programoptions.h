#pragma once

#include "settings/portmap.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// "Com N" behind which --simulate puts the simulated display.
constexpr int kSimulatedPort = 1;

// What the window program was asked to do.
struct ProgramOptions {
    PortMap ports;
    bool simulate = false;  // run a simulated display behind Com 1
};

// Declares the window program's options on `parser`.
void addProgramOptions(QCommandLineParser &parser);

// Reads the options after parser.parse(); nullopt with *error set when an
// option is malformed (the program then exits with code 2).
std::optional<ProgramOptions> readProgramOptions(const QCommandLineParser &parser, QString *error);

// Why the window cannot be shown here (no display at all); empty if it can.
QString whyNoDisplay();
