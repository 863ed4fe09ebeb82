#include "app/programoptions.h"

#include <QCommandLineParser>

void addProgramOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("com"),
                      QStringLiteral("Let \"Com N\" (N = 1..4) name DEVICE for this run, e.g. 1=/dev/ttyUSB0. "
                                     "May be given once for each port."),
                      QStringLiteral("N=DEVICE")});
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Start a simulated display and put it behind \"Com 1\".")});
}

std::optional<ProgramOptions> readProgramOptions(const QCommandLineParser &parser, QString *error)
{
    ProgramOptions options;
    options.simulate = parser.isSet(QStringLiteral("simulate"));
    for (const QString &value : parser.values(QStringLiteral("com"))) {
        const std::optional<PortMap::Override> o = PortMap::parseOverride(value, error);
        if (!o)
            return std::nullopt;
        if (!options.ports.setOverride(o->port, o->device)) {
            *error = QStringLiteral("--com %1: cannot be used").arg(value);
            return std::nullopt;
        }
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
        return std::nullopt;
    }
    return options;
}
