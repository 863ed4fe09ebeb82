#pragma once

#include "isp/imagepath.h"
#include "settings/settings.h"

#include <QList>
#include <QString>

// clang-format off
enum class CliCommand { Params, Version, Isp, Ports };
// clang-format on

// What one -p names: "Com N" (through the port map) or a device for this run.
struct PortName {
    int number = 0;  // 1..4; 0 for a device
    QString device;  // when number is 0

    // As the operator named it: "Com 2", "/dev/ttyUSB0".
    QString label() const { return number > 0 ? QStringLiteral("Com %1").arg(number) : device; }
};

// ports --map N=DEVICE; an empty device sets N back to its default.
struct MapChange {
    int number = 0;
    QString device;
};

// A command line understood: what to run, on which ports, with what. A plain
// value; nothing has been touched yet.
struct CliRequest {
    CliCommand command = CliCommand::Version;
    QList<PortName> ports;        // in command-line order; Com 1 when none was named
    Settings settings;            // the line speed and, for params, the display's parameters
    ImagePath image;              // isp
    QList<MapChange> mapChanges;  // ports
    bool dryRun = false;
    bool skipHeld = false;  // isp
    bool simulate = false;
    bool trace = false;
    bool quiet = false;
    bool json = false;

    QString commandName() const
    {
        switch (command) {
        case CliCommand::Params: return QStringLiteral("params");
        case CliCommand::Version: return QStringLiteral("version");
        case CliCommand::Isp: return QStringLiteral("isp");
        case CliCommand::Ports: return QStringLiteral("ports");
        }
        return {};
    }
};
