// custdisp-cli: the window's three commands from a terminal, on the very same
// procedures, for scripted updates and for work over SSH.
#include "cli/exitcodes.h"
#include "cli/portjob.h"
#include "cli/portresult.h"
#include "cli/severalports.h"
#include "cli/stoprequests.h"
#include "cli/terminaloperator.h"
#include "commands/displaycommands.h"
#include "isp/firmwaredownload.h"
#include "isp/firmwareimage.h"
#include "isp/ispframes.h"
#include "link/devicefacts.h"
#include "link/portcatalog.h"
#include "link/seriallink.h"
#include "process/standarddescriptors.h"
#include "settings/portmap.h"
#include "settings/portstore.h"
#include "settings/settings.h"
#include "sim/simulatedline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr char kDescription[] = R"(Talks to a serial customer display.

Commands:
  params      send the parameter packet (display baud, language, code table, emulation);
              the packet carries all four, so one not given is sent as the window
              starts it: 9600, USA, USA_EUROPE_CODE, DSP800
  version     send the firmware-version query (the answer is not read)
  isp FILE    download a firmware image into the display
  ports       list the serial ports of this machine and what each "Com N" names

Exit codes:
   0  success
   1  other failure
   2  usage
   3  port unavailable
   4  file unreadable (missing, no permission, or not a regular file)
   5  image size not accepted (empty, or over 65,503 bytes)
   6  access time-out ("Time Out Error!")
   7  wrong version ("A Incorrect Version No!")
   8  access refused ("Access ISP Command Failed!")
   9  erase failed ("Erase Command Failed!")
  10  data frame failed ("Transmit Data Failled!")
  11  cancelled (Ctrl-C)
  12  several ports, and some of them failed (the summary says which))";

class CommandLineError {
public:
    explicit CommandLineError(QString text) : m_text(std::move(text)) {}
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Tells the terminal the one-line message, then what the operator can do.
class PrintingSink : public MessageSink {
public:
    explicit PrintingSink(bool toStdout) : m_toStdout(toStdout) {}
    void showMessage(const QString &text, const QString &) override
    {
        message = text;
        if (!m_toStdout)
            return;  // --json: nothing but the report on stdout
        std::fprintf(stdout, "%s\n", qPrintable(text));
        std::fflush(stdout);
    }
    QString message;

private:
    bool m_toStdout;
};


// The saved map, with a warning for whatever in it was ignored.
PortMap savedPorts(const PortStore &store)
{
    PortMap ports;
    const PortStore::Contents saved = store.load();
    if (!saved.warning.isEmpty())
        say(QStringLiteral("custdisp-cli: warning: ") + saved.warning);
    for (auto it = saved.devices.cbegin(); it != saved.devices.cend(); ++it)
        [[maybe_unused]] const bool ok = ports.setSaved(it.key(), it.value());
    return ports;
}

QString mapLine(const PortMap &ports, int n)
{
    const QString names = DeviceFacts::namesOf(ports.deviceFor(n));
    const char *source = ports.sourceOf(n) == PortMap::Source::Saved ? "saved" : "default";
    return QStringLiteral("Com %1 -> %2, %3").arg(n).arg(names, QLatin1String(source));
}

// The ports there are, then what each "Com N" names; --map changes the
// saved map first.
int listPorts(const QStringList &mapChanges)
{
    // Every change is checked before any is saved.
    QList<QPair<int, QString>> changes;
    for (const QString &change : mapChanges) {
        const qsizetype eq = change.indexOf(QLatin1Char('='));
        bool ok = false;
        const int n = eq > 0 ? change.left(eq).trimmed().toInt(&ok) : 0;
        if (!ok || !PortMap::isValidPort(n))
            throw CommandLineError(QStringLiteral("--map %1: use N=DEVICE with N from 1 to 4 (N= for the default)").arg(change));
        for (const auto &earlier : changes) {
            if (earlier.first == n)
                throw CommandLineError(QStringLiteral("--map %1: Com %2 is named twice").arg(change).arg(n));
        }
        const QString device = change.mid(eq + 1).trimmed();
        if (std::any_of(device.cbegin(), device.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
            throw CommandLineError(QStringLiteral("--map: a device name has no control characters"));
        changes.append({n, device});
    }
    const PortStore store;
    for (const auto &[n, device] : changes) {
        // A by-id name finds the adapter again in any USB socket.
        const QString stored = device.isEmpty() ? device : DeviceFacts::stableName(device);
        QString dropped;
        if (const QString why = store.save(n, stored, &dropped); !why.isEmpty()) {
            say(QStringLiteral("custdisp-cli: cannot save the port map: ") + why);
            return ExitCode::kFailure;
        }
        if (!dropped.isEmpty())
            say(QStringLiteral("custdisp-cli: warning: ") + dropped);
    }

    const QList<FoundPort> found = PortCatalog::system().ports();
    if (found.isEmpty())
        std::printf("no serial ports found\n");
    for (const FoundPort &p : found)
        std::printf("%s\t%s\t%s\t%s\t%s\n", qPrintable(p.device), qPrintable(p.description),
                    qPrintable(p.manufacturer), qPrintable(p.ids), qPrintable(p.serialNumber));
    const PortMap ports = savedPorts(store);
    for (int n = PortMap::kFirstPort; n <= PortMap::kLastPort; ++n)
        std::printf("%s\n", qPrintable(mapLine(ports, n)));
    return ExitCode::kSuccess;
}

// Applies a caption given on the command line through the group's own click rule.
void choose(Settings &settings, const OptionGroup &group, const QString &option, const QString &caption)
{
    const std::optional<int> index = group.indexOf(caption);
    if (!index)
        throw CommandLineError(QStringLiteral("--%1: unknown value '%2'; choose one of: %3")
                                   .arg(option, caption, group.captions.join(QStringLiteral(", "))));
    (settings.*(group.click))(*index);
}

PortResult download(const FirmwareImage &image, const PortTarget &target, SerialLink &link, bool quiet, bool json)
{
    QElapsedTimer clock;
    clock.start();
    TerminalOperator op(image.path, quiet, !json);
    FirmwareDownload procedure(link, op);

    // Ctrl-C stops the download at its next step; the port is released and
    // no success is reported.
    StopRequests stop;
    QObject::connect(&stop, &StopRequests::requested, [&procedure] { procedure.requestCancel(); });

    const DownloadOutcome outcome = procedure.send(image, target.settings, target.ports);
    op.endBarLine();
    if (outcome == DownloadOutcome::Cancelled)
        say(QStringLiteral("cancelled: the display did not receive the whole image"));
    PortResult result;
    result.port = target.label;
    result.device = target.realDevice();
    result.outcome = outcomeWord(outcome);
    result.message = outcome == DownloadOutcome::PortUnavailable ? target.ports.unavailableText(target.settings.CommPortNumber)
                                                                 : downloadMessage(outcome);
    if (outcome == DownloadOutcome::PortUnavailable && procedure.openFailure()) {
        result.cause = procedure.openFailure()->causeLine(PortCatalog::system().deviceList());
        say(result.cause);
    }
    result.exitCode = ExitCode::of(outcome);
    result.frames = image.frameCount();
    result.framesSent = procedure.framesSent();
    result.retries = procedure.retries();
    result.seconds = double(clock.elapsed()) / 1000.0;
    return result;
}

// Reads the image exactly as a download would, so both reach the same verdict.
int dryRun(const ImagePath &file)
{
    const FirmwareImage image = FirmwareImage::read(file);
    // An oversized image still gets its plan: its last addresses show why.
    if (image.verdict == FirmwareImage::Verdict::Unreadable || image.verdict == FirmwareImage::Verdict::Empty) {
        std::printf("%s\n", qPrintable(image.refusal()));
        return ExitCode::of(outcomeOfRefusal(image.verdict));
    }
    const qint64 size = image.fileSize;
    const int frames = Isp::dataFrameCount(size);
    const qint64 lastStart = qint64(frames - 1) * Isp::kBlockSize;
    const bool fits = image.verdict == FirmwareImage::Verdict::Ready;
    std::printf("image: %s\nsize: %lld bytes (at most %lld)\ndata frames: %d\n"
                "first address: 0\nlast frame: %lld..%lld\nfits: %s\n",
                qPrintable(file.shown), static_cast<long long>(size), static_cast<long long>(Isp::kMaxImageSize), frames,
                static_cast<long long>(lastStart), static_cast<long long>(lastStart + Isp::kBlockSize - 1),
                fits ? "yes" : "no");
    if (!fits)
        std::printf("%s\n", qPrintable(image.refusal()));
    return fits ? ExitCode::kSuccess : ExitCode::of(outcomeOfRefusal(image.verdict));
}

// The file argument as the file system knows it: Qt's decoding of a name
// that is not UTF-8 cannot be turned back into the same bytes.
ImagePath fileArgument(const QString &decoded, int argc, char **argv)
{
    for (int i = argc - 1; i > 0; --i) {
        if (QString::fromLocal8Bit(argv[i]) == decoded)
            return ImagePath::fromArgument(QByteArray(argv[i]), decoded);
    }
    return ImagePath::fromName(decoded);
}

// What one -p names: "Com N" through the port map, or a device for this run.
PortTarget targetFor(const QString &value, const Settings &common, const PortMap &saved)
{
    PortTarget target{QString(), common, saved};
    bool numeric = false;
    const int n = value.toInt(&numeric);
    if (numeric) {
        if (!PortMap::isValidPort(n))
            throw CommandLineError(QStringLiteral("--port %1: use 1 to 4, or a device path").arg(value));
        target.settings.clickOptPort(n - 1);
        target.label = QStringLiteral("Com %1").arg(n);
    } else {
        target.settings.clickOptPort(0);
        if (!target.ports.setDirect(1, value))
            throw CommandLineError(QStringLiteral("--port: no device named"));
        target.label = value;
    }
    return target;
}

int run(QCoreApplication &app, int argc, char **argv)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("params, version, isp or ports"));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the firmware image, for isp"), QStringLiteral("[FILE]"));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("\"Com N\" (1..4) or a device path (default 1). Repeat it to "
                                                 "run the command on several displays at once."),
                                  QStringLiteral("PORT"),
                                  QStringLiteral("1"));
    const QCommandLineOption baud({QStringLiteral("b"), QStringLiteral("baud")},
                                  QStringLiteral("Line speed: 600, 1200, 2400, 4800, 9600 or 19200 (default 9600)."),
                                  QStringLiteral("SPEED"), QStringLiteral("9600"));
    const QCommandLineOption simulate(QStringLiteral("simulate"), QStringLiteral("Talk to a simulated display instead."));
    const QCommandLineOption trace(QStringLiteral("trace"), QStringLiteral("Print every byte both ways on stderr."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")}, QStringLiteral("No progress."));
    const QCommandLineOption displayBaud(QStringLiteral("display-baud"), QStringLiteral("params: the display's own speed."),
                                         QStringLiteral("SPEED"));
    const QCommandLineOption language(QStringLiteral("language"), QStringLiteral("params: character set, e.g. \"DENMARK II\"."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption code(QStringLiteral("code"), QStringLiteral("params: code table, e.g. EURO_CODE."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption emulation(QStringLiteral("emulation"), QStringLiteral("params: command set, e.g. ESC/POS."),
                                       QStringLiteral("NAME"));
    const QCommandLineOption dry(QStringLiteral("dry-run"), QStringLiteral("isp: check the image and print the plan; no port is opened."));
    const QCommandLineOption map(QStringLiteral("map"),
                                 QStringLiteral("ports: save which device \"Com N\" names, N=DEVICE; N= for the default "
                                                "(repeatable)."),
                                 QStringLiteral("N=DEVICE"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print one JSON document with the outcome of every port on stdout, "
                                                       "and nothing else there."));
    parser.addOptions({port, baud, simulate, trace, quiet, displayBaud, language, code, emulation, dry, map, jsonOption});

    if (!parser.parse(app.arguments()))
        throw CommandLineError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(ExitCode::kSuccess);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        throw CommandLineError(QStringLiteral("no command given (params, version, isp or ports)"));
    const QString command = args.first();
    const QStringList commands{QStringLiteral("params"), QStringLiteral("version"), QStringLiteral("isp"), QStringLiteral("ports")};
    if (!commands.contains(command))
        throw CommandLineError(QStringLiteral("unknown command '%1'; choose one of: %2").arg(command, commands.join(QStringLiteral(", "))));
    if (args.size() != (command == QLatin1String("isp") ? 2 : 1))
        throw CommandLineError(command == QLatin1String("isp") ? QStringLiteral("isp needs exactly one FILE")
                                                               : QStringLiteral("%1 takes no FILE").arg(command));
    for (const QCommandLineOption *o : {&displayBaud, &language, &code, &emulation}) {
        if (parser.isSet(*o) && command != QLatin1String("params"))
            throw CommandLineError(QStringLiteral("--%1 belongs to params").arg(o->names().constLast()));
    }

    // An option that would be overruled or do nothing is refused, never ignored.
    if (parser.isSet(map) && command != QLatin1String("ports"))
        throw CommandLineError(QStringLiteral("--map belongs to ports"));
    if (parser.isSet(dry) && command != QLatin1String("isp"))
        throw CommandLineError(QStringLiteral("--dry-run belongs to isp; %1 would really send").arg(command));
    for (const QCommandLineOption *o : {&baud, &displayBaud, &language, &code, &emulation}) {
        if (parser.values(*o).size() > 1)
            throw CommandLineError(QStringLiteral("--%1 is given %2 times; give it once")
                                       .arg(o->names().constLast())
                                       .arg(parser.values(*o).size()));
    }
    if (command == QLatin1String("ports")) {
        for (const QCommandLineOption *o : {&port, &baud, &simulate, &trace, &jsonOption}) {
            if (parser.isSet(*o))
                throw CommandLineError(QStringLiteral("ports lists the ports and the map; --%1 does not apply")
                                           .arg(o->names().constLast()));
        }
    }
    if (command == QLatin1String("ports"))
        return listPorts(parser.values(map));
    if (command == QLatin1String("isp") && parser.isSet(dry))
        return dryRun(fileArgument(args.at(1), argc, argv));
    // A simulated display takes the place of the port: a port named as well
    // would be silently ignored.
    if (parser.isSet(simulate) && parser.isSet(port))
        throw CommandLineError(QStringLiteral("--simulate talks to a simulated display; it cannot be combined with -p"));
    const bool json = parser.isSet(jsonOption);

    // What every port gets: the line speed and, for params, the display's own
    // parameters, each through its group's click rule.
    Settings common;
    choose(common, OptionGroups::baudRate(), QStringLiteral("baud"), parser.value(baud));
    if (command == QLatin1String("params")) {
        if (parser.isSet(displayBaud))
            choose(common, OptionGroups::displayBaud(), QStringLiteral("display-baud"), parser.value(displayBaud));
        if (parser.isSet(language))
            choose(common, OptionGroups::language(), QStringLiteral("language"), parser.value(language));
        if (parser.isSet(code))
            choose(common, OptionGroups::codeTable(), QStringLiteral("code"), parser.value(code));
        if (parser.isSet(emulation))
            choose(common, OptionGroups::emulation(), QStringLiteral("emulation"), parser.value(emulation));
    }

    const PortMap saved = savedPorts(PortStore());
    QList<PortTarget> targets;
    for (const QString &value : parser.values(port))
        targets.append(targetFor(value, common, saved));
    // One device is one display, whatever its names: two jobs on it would
    // write into each other's download.
    for (qsizetype i = 0; i < targets.size(); ++i) {
        for (qsizetype j = 0; j < i; ++j) {
            if (targets.at(i).realDevice() == targets.at(j).realDevice())
                throw CommandLineError(QStringLiteral("-p %1 and -p %2 are one device (%3)")
                                           .arg(targets.at(j).label, targets.at(i).label, targets.at(i).realDevice()));
        }
    }

    // The image is read once, before any port is touched.
    std::shared_ptr<const FirmwareImage> image;
    if (command == QLatin1String("isp")) {
        image = std::make_shared<const FirmwareImage>(FirmwareImage::read(fileArgument(args.at(1), argc, argv)));
        if (image->verdict != FirmwareImage::Verdict::Ready) {
            const int code = ExitCode::of(outcomeOfRefusal(image->verdict));
            if (json) {
                std::fputs(jsonReport(command, nullptr, {}, code).constData(), stdout);
                say(image->refusal());  // stdout holds the report alone
            } else {
                std::printf("%s\n", qPrintable(image->refusal()));
            }
            return code;
        }
    }

    if (targets.size() > 1) {
        const PortJob::Command job = command == QLatin1String("isp")      ? PortJob::Command::Isp
                                     : command == QLatin1String("params") ? PortJob::Command::Params
                                                                          : PortJob::Command::Version;
        return runOnSeveralPorts(command, job, targets, image,
                                 {parser.isSet(quiet), json, parser.isSet(trace)});
    }

    PortTarget target = targets.constFirst();
    std::unique_ptr<SimulatedLine> simulated;
    if (parser.isSet(simulate)) {
        QString why;
        simulated = SimulatedLine::start(true, &why);
        if (!simulated) {
            say(QStringLiteral("custdisp-cli: ") + why);
            return ExitCode::kUsage;
        }
        [[maybe_unused]] const bool mapped = target.ports.setOverride(target.settings.CommPortNumber, simulated->devicePath());
        if (!parser.isSet(quiet))
            say(QStringLiteral("simulated display on %1").arg(simulated->devicePath()));
    }

    SerialLink link;
    QElapsedTimer clock;
    clock.start();
    if (parser.isSet(trace)) {
        QObject::connect(&link, &SerialLink::opened, [&clock](const QString &given, const QString &real) {
            std::fprintf(stderr, "[%10.3f ms] open %s\n", double(clock.nsecsElapsed()) / 1e6,
                         qPrintable(deviceNames(given, real)));
        });
        QObject::connect(&link, &SerialLink::traffic, [&clock](bool outgoing, const QByteArray &bytes) {
            std::fprintf(stderr, "[%10.3f ms] %s %s\n", double(clock.nsecsElapsed()) / 1e6, outgoing ? ">" : "<",
                         bytes.toHex(' ').constData());
        });
    }

    PortResult result;
    if (command == QLatin1String("isp")) {
        result = download(*image, target, link, parser.isSet(quiet), json);
    } else {
        PrintingSink sink(!json);
        const std::optional<OpenFailure> failure = command == QLatin1String("params")
                                                       ? sendParameterPacket(target.settings, target.ports, link, sink)
                                                       : sendVersionQuery(target.settings, target.ports, link, sink);
        link.close();  // the packet leaves the port open in the window; a program ends here
        result.port = target.label;
        result.device = target.realDevice();
        result.outcome = outcomeWord(DownloadOutcome::Completed);
        result.message = sink.message;
        if (failure) {
            result.outcome = outcomeWord(DownloadOutcome::PortUnavailable);
            result.cause = failure->causeLine(PortCatalog::system().deviceList());
            result.exitCode = ExitCode::kPortUnavailable;
            say(result.cause);
        } else if (!parser.isSet(quiet)) {
            say(command == QLatin1String("params")
                    ? QStringLiteral("sent %1").arg(QString::fromLatin1(DisplayPacket::bytes(target.settings.ParamPacket).toHex(' ')))
                    : QStringLiteral("sent 02 80 03 81"));
        }
        result.seconds = double(clock.elapsed()) / 1000.0;
    }
    if (json)
        std::fputs(jsonReport(command, image.get(), {result}, result.exitCode).constData(), stdout);
    return result.exitCode;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (!openStandardDescriptors())
        return ExitCode::kFailure;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("custdisp-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CUSTDISP_VERSION));
    try {
        return run(app, argc, argv);
    } catch (const CommandLineError &e) {
        say(QStringLiteral("custdisp-cli: ") + e.text());
        say(QStringLiteral("Try 'custdisp-cli --help'."));
        return ExitCode::kUsage;
    }
}
