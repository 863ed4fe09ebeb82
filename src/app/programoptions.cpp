#include "app/programoptions.h"

#include "link/platformwords.h"

#include <QCommandLineParser>
#include <QSet>

void addProgramOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("com"),
                      QStringLiteral("Let \"Com N\" (N = 1..4) name DEVICE for this run, e.g. 1=%1. "
                                     "May be given once for each port.")
                          .arg(PlatformWords::exampleDevice()),
                      QStringLiteral("N=DEVICE")});
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Start a simulated display and put it behind \"Com 1\".")
                          + PlatformWords::simulatorNote()});
}

std::optional<ProgramOptions> readProgramOptions(const QCommandLineParser &parser, QString *error)
{
    ProgramOptions options;
    options.simulate = parser.isSet(QStringLiteral("simulate"));
    QSet<int> seen;
    for (const QString &value : parser.values(QStringLiteral("com"))) {
        const std::optional<PortMap::Override> o = PortMap::parseOverride(value, error);
        if (!o)
            return std::nullopt;
        if (seen.contains(o->port)) {
            *error = QStringLiteral("--com %1: Com %2 is named twice").arg(value).arg(o->port);
            return std::nullopt;
        }
        seen.insert(o->port);
        if (options.simulate && o->port == kSimulatedPort) {
            *error = QStringLiteral("--com %1: --simulate puts the simulated display behind Com %2").arg(value).arg(kSimulatedPort);
            return std::nullopt;
        }
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

QString whyNoDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Without any of these the platform plugin aborts with a cryptic message.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("no display to open the window on (DISPLAY is not set); "
                              "on a terminal, use custdisp-cli");
#endif
    return {};
}
