#include "app/mainform.h"
#include "app/programoptions.h"
#include "sim/simulateddisplay.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("custdisp"));
    QApplication::setApplicationVersion(QStringLiteral(CUSTDISP_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("custdisp"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Service tool for a customer display on a serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    addProgramOptions(parser);
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "custdisp: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    QString error;
    std::optional<ProgramOptions> options = readProgramOptions(parser, &error);
    if (!options) {
        std::fprintf(stderr, "custdisp: %s\n", qPrintable(error));
        return 2;
    }

    std::unique_ptr<SimulatedDisplay> simulated;
    if (options->simulate) {
        simulated = std::make_unique<SimulatedDisplay>();
        if (!simulated->isValid()) {
            std::fprintf(stderr, "custdisp: %s\n", qPrintable(simulated->error()));
            return 1;
        }
        simulated->setPacing(true);
        [[maybe_unused]] const bool mapped = options->ports.setOverride(1, simulated->devicePath());
        std::fprintf(stderr, "custdisp: simulated display on %s (Com 1)\n", qPrintable(simulated->devicePath()));
    }

    MainForm window(options->ports);
    window.show();
    return app.exec();
}
