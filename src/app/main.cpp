#include "app/mainform.h"
#include "app/portchooser.h"
#include "app/programoptions.h"
#include "process/stoprequests.h"
#include "process/standarddescriptors.h"
#include "record/displayrecord.h"
#include "settings/portstore.h"
#include "sim/simulatedline.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>

namespace {

void declare(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Service tool for a customer display on a serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    addProgramOptions(parser);
}

// The command line as it stands, before any toolkit has taken its options.
// A lone "/?" is how Windows programs are asked for their help.
QStringList rawArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (arguments.size() == 2 && arguments.at(1) == QLatin1String("/?"))
        arguments[1] = QStringLiteral("--help");
    return arguments;
}

bool asksForHelpOrVersion(int argc, char *argv[])
{
    QCommandLineParser parser;
    declare(parser);
    return parser.parse(rawArguments(argc, argv))
           && (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version")));
}

// What is wrong with the command line, or nothing.
QString usageError(int argc, char *argv[])
{
    QCommandLineParser parser;
    declare(parser);
    if (!parser.parse(rawArguments(argc, argv)))
        return parser.errorText();
    QString error;
    return readProgramOptions(parser, &error) ? QString() : error;
}

void describeProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("custdisp"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CUSTDISP_VERSION));
}

// --help and --version need no display: answered before any window system
// is touched.
int answerHelpOrVersion(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    describeProgram();
    QCommandLineParser parser;
    declare(parser);
    // Qt would show a message box on Windows, where a script waits for its
    // OK for ever: print, unless nobody could read it.
    if (!reachStandardOutput()) {
        parser.process(rawArguments(argc, argv));  // shows and exits
        return 0;
    }
    [[maybe_unused]] const bool parsed = parser.parse(rawArguments(argc, argv));
    const QString text = parser.isSet(QStringLiteral("help"))
                             ? parser.helpText()
                             : QStringLiteral("custdisp %1\n").arg(QCoreApplication::applicationVersion());
    std::fputs(qPrintable(text), stdout);
    std::fflush(stdout);
    return 0;
}

// Without a display there are no toolkit options to strip: a wrong option is
// still a usage error first.
int refuseWithoutDisplay(int argc, char *argv[], const QString &why)
{
    if (const QString usage = usageError(argc, argv); !usage.isEmpty()) {
        std::fprintf(stderr, "custdisp: %s\n", qPrintable(usage));
        return 2;
    }
    std::fprintf(stderr, "custdisp: %s\n", qPrintable(why));
    return 1;
}

// With --simulate, Com 1 is a simulated display for this run; nullptr and
// the reason when none can be had.
std::unique_ptr<SimulatedLine> startSimulated(ProgramOptions &options, QString *why)
{
    std::unique_ptr<SimulatedLine> simulated = SimulatedLine::start(why);
    if (!simulated)
        return nullptr;
    [[maybe_unused]] const bool mapped = options.ports.setOverride(kSimulatedPort, simulated->devicePath());
    std::fprintf(stderr, "custdisp: simulated display on %s (Com %d)\n", qPrintable(simulated->devicePath()),
                 kSimulatedPort);
    return simulated;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (!openStandardDescriptors())
        return 1;
    StopRequests::holdFromNowOn();
    if (asksForHelpOrVersion(argc, argv))
        return answerHelpOrVersion(argc, argv);
    if (const QString why = whyNoDisplay(); !why.isEmpty())
        return refuseWithoutDisplay(argc, argv, why);

    QApplication app(argc, argv);
    describeProgram();
    QApplication::setDesktopFileName(QStringLiteral("io.github.custdisp.custdisp"));

    QCommandLineParser parser;
    declare(parser);
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "custdisp: %s\n", qPrintable(parser.errorText()));
        return 2;
    }

    // The devices the user chose for each "Com N" last time; --com and
    // --simulate name others for this run only.
    const PortStore store;
    const PortStore::Contents saved = store.load();
    if (!saved.warning.isEmpty())
        std::fprintf(stderr, "custdisp: warning: %s\n", qPrintable(saved.warning));
    // What the Com N tooltips say comes from the display record: what in it
    // cannot be read is said once, here.
    if (const QString held = DisplayRecord().load().warning; !held.isEmpty())
        std::fprintf(stderr, "custdisp: warning: %s\n", qPrintable(held));

    QString error;
    std::optional<ProgramOptions> options = readProgramOptions(parser, &error);
    std::unique_ptr<SimulatedLine> simulated;
    if (options && options->simulate)
        simulated = startSimulated(*options, &error);
    if (!options || (options->simulate && !simulated)) {
        std::fprintf(stderr, "custdisp: %s\n", qPrintable(error));
        return 2;
    }

    for (auto it = saved.devices.cbegin(); it != saved.devices.cend(); ++it)
        [[maybe_unused]] const bool ok = options->ports.setSaved(it.key(), it.value());
    MainForm window(options->ports);
    if (simulated)
        window.leaveUnrecorded(simulated->devicePath());
    window.portChooser().setStore(store);
    QObject::connect(&window.portChooser(), &PortChooser::dropped, &window, [](const QString &what) {
        std::fprintf(stderr, "custdisp: warning: %s\n", qPrintable(what));
    });
    // Ended by the system (kill, a hang-up, Ctrl-C in its terminal), it stops
    // as a confirmed close would: no success, the port and its lock released.
    StopRequests stop;
    QObject::connect(&stop, &StopRequests::requested, &window, &MainForm::stopRequested);
    window.show();
    return app.exec();
}
