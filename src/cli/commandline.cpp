#include "cli/commandline.h"

#include "cli/exitstatus.h"

#include "isp/downloadoutcome.h"
#include "link/platformwords.h"
#include "settings/portmap.h"

#include <QCommandLineParser>
#include <QMap>

#include <algorithm>
#include <optional>

namespace {

constexpr char kDescription[] = R"(Talks to a serial customer display.

Commands:
  params      send the parameter packet (display baud, language, code table, emulation);
              the packet carries all four, so one not given is sent as the window
              starts it: 9600, USA, USA_EUROPE_CODE, DSP800
  version     send the firmware-version query (the answer is not read)
  isp FILE    download a firmware image into the display
  ports       list the serial ports of this machine and what each "Com N" names
)";


using Refusal = std::optional<QString>;

QString longName(const QCommandLineOption &option)
{
    return option.names().constLast();
}

// The file argument as the file system knows it: Qt's decoding of a name
// that is not UTF-8 cannot be turned back into the same bytes.
ImagePath fileArgument(const QString &decoded, const QByteArrayList &raw)
{
    for (qsizetype i = raw.size() - 1; i > 0; --i) {
        if (QString::fromLocal8Bit(raw.at(i)) == decoded)
            return ImagePath::fromArgument(raw.at(i), decoded);
    }
    return ImagePath::fromName(decoded);
}

// Applies a caption given on the command line through the group's own click rule.
Refusal choose(Settings &settings, const OptionGroup &group, const QString &option, const QString &caption)
{
    const std::optional<int> index = group.indexOf(caption);
    if (!index)
        return QStringLiteral("--%1: unknown value '%2'; choose one of: %3")
            .arg(option, caption, group.captions.join(QStringLiteral(", ")));
    (settings.*(group.click))(*index);
    return std::nullopt;
}

// What one -p names; the device itself is looked at only when the command runs.
Refusal readPort(const QString &value, QList<PortName> &ports, PortNaming naming)
{
    const bool comNames = naming == PortNaming::ComNames;
    bool numeric = false;
    const int n = value.toInt(&numeric);
    if (numeric && !PortMap::isValidPort(n)) {
        // Windows numbers its ports too: 7 may well mean COM7.
        const QString instead = !comNames ? QStringLiteral("a device path")
                                : n > 0   ? WindowsPortName::ofNumber(n)
                                          : QStringLiteral("a port name such as ") + WindowsPortName::ofNumber(5);
        return QStringLiteral("--port %1: use 1 to 4, or %2").arg(value, instead);
    }
    if (!numeric && value.isEmpty())
        return QStringLiteral("--port: no device named");
    // `-p --json`: the port was left out, and the option must not become one.
    if (value.startsWith(QLatin1Char('-')))
        return QStringLiteral("--port %1: that is an option, not a port; name 1 to 4 or a device (./%1 for one so named)")
            .arg(value);
    // "COM5:" (as Windows' mode writes it): the colon ends the name, and
    // messages add their own after it.
    const bool colon = comNames && value.endsWith(QLatin1Char(':')) && WindowsPortName::canonical(value);
    ports.append(numeric ? PortName{n, QString()} : PortName{0, colon ? value.chopped(1) : value});
    return std::nullopt;
}

// Every --map is checked before any is saved.
Refusal readMapChange(const QString &change, QList<MapChange> &changes)
{
    const qsizetype eq = change.indexOf(QLatin1Char('='));
    bool ok = false;
    const int n = eq > 0 ? change.left(eq).trimmed().toInt(&ok) : 0;
    if (!ok || !PortMap::isValidPort(n))
        return QStringLiteral("--map ") + change + QStringLiteral(": use N=DEVICE with N from 1 to 4 (N= for the default)");
    if (std::any_of(changes.cbegin(), changes.cend(), [n](const MapChange &c) { return c.number == n; }))
        return QStringLiteral("--map ") + change + QStringLiteral(": Com %1 is named twice").arg(n);
    const QString device = change.mid(eq + 1).trimmed();
    if (std::any_of(device.cbegin(), device.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return QStringLiteral("--map: a device name has no control characters");
    changes.append({n, device});
    return std::nullopt;
}

// The options and the rules between them and the commands.
class CommandLine {
public:
    explicit CommandLine(PortNaming naming) : m_naming(naming) { declare(); }
    ParsedCommandLine parse(const QStringList &arguments, const QByteArrayList &raw);

private:
    void declare();
    Refusal readCommand(CliRequest &request, const QByteArrayList &raw) const;
    Refusal refuseMisplaced(const CliRequest &request) const;
    Refusal readSettings(CliRequest &request) const;
    Refusal readLists(CliRequest &request) const;

    const PortNaming m_naming;
    QCommandLineParser m_parser;
    const QCommandLineOption m_port{{QStringLiteral("p"), QStringLiteral("port")},
                                    QStringLiteral("\"Com N\" (1..4) or %1 (default 1). Repeat it to "
                                                   "run the command on several displays at once.")
                                        .arg(PlatformWords::deviceKind()),
                                    QStringLiteral("PORT"),
                                    QStringLiteral("1")};
    const QCommandLineOption m_baud{{QStringLiteral("b"), QStringLiteral("baud")},
                                    QStringLiteral("Line speed: 600, 1200, 2400, 4800, 9600 or 19200 (default 9600)."),
                                    QStringLiteral("SPEED"),
                                    QStringLiteral("9600")};
    const QCommandLineOption m_simulate{QStringLiteral("simulate"),
                                        QStringLiteral("Talk to a simulated display instead.") + PlatformWords::simulatorNote()};
    const QCommandLineOption m_trace{QStringLiteral("trace"), QStringLiteral("Print every byte both ways on stderr.")};
    const QCommandLineOption m_quiet{{QStringLiteral("q"), QStringLiteral("quiet")}, QStringLiteral("No progress.")};
    const QCommandLineOption m_displayBaud{QStringLiteral("display-baud"), QStringLiteral("params: the display's own speed."),
                                           QStringLiteral("SPEED")};
    const QCommandLineOption m_language{QStringLiteral("language"),
                                        QStringLiteral("params: character set, e.g. \"DENMARK II\"."), QStringLiteral("NAME")};
    const QCommandLineOption m_code{QStringLiteral("code"), QStringLiteral("params: code table, e.g. EURO_CODE."),
                                    QStringLiteral("NAME")};
    const QCommandLineOption m_emulation{QStringLiteral("emulation"), QStringLiteral("params: command set, e.g. ESC/POS."),
                                         QStringLiteral("NAME")};
    const QCommandLineOption m_dryRun{QStringLiteral("dry-run"),
                                      QStringLiteral("isp: check the image and print the plan; no port is opened.")};
    const QCommandLineOption m_skipHeld{QStringLiteral("skip-held"),
                                        QStringLiteral("isp: send nothing to a display that holds this very image, as "
                                                       "this PC's display record says (outcome up-to-date).")};
    const QCommandLineOption m_map{QStringLiteral("map"),
                                   QStringLiteral("ports: save which device \"Com N\" names, N=DEVICE; N= for the default "
                                                  "(repeatable)."),
                                   QStringLiteral("N=DEVICE")};
    const QCommandLineOption m_json{QStringLiteral("json"),
                                    QStringLiteral("Print one JSON document on stdout, and nothing else there: the "
                                                   "outcome of the command and of every port.")};
};

void CommandLine::declare()
{
    m_parser.setApplicationDescription(QString::fromLatin1(kDescription) + ExitCode::helpList());
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("params, version, isp or ports"));
    m_parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the firmware image, for isp"),
                                   QStringLiteral("[FILE]"));
    m_parser.addOptions({m_port, m_baud, m_simulate, m_trace, m_quiet, m_displayBaud, m_language, m_code, m_emulation,
                         m_dryRun, m_skipHeld, m_map, m_json});
}

ParsedCommandLine CommandLine::parse(const QStringList &arguments, const QByteArrayList &raw)
{
    // A lone "/?" is how Windows programs are asked for their help.
    if (arguments.size() == 2 && arguments.at(1) == QLatin1String("/?"))
        return parse({arguments.first(), QStringLiteral("--help")}, raw);
    if (!m_parser.parse(arguments))
        return UsageError{m_parser.errorText()};
    // Printed by the program itself: Qt's own showHelp() would end it at once.
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all")))
        return PlainAnswer{m_parser.helpText()};
    if (m_parser.isSet(QStringLiteral("version")))
        return PlainAnswer{QStringLiteral("custdisp-cli " CUSTDISP_VERSION "\n")};

    CliRequest request;
    Refusal why = readCommand(request, raw);
    if (!why)
        why = refuseMisplaced(request);
    if (!why)
        why = readLists(request);
    if (!why)
        why = readSettings(request);
    if (why)
        return UsageError{*why};
    request.dryRun = m_parser.isSet(m_dryRun);
    request.skipHeld = m_parser.isSet(m_skipHeld);
    request.simulate = m_parser.isSet(m_simulate);
    request.trace = m_parser.isSet(m_trace);
    request.quiet = m_parser.isSet(m_quiet);
    request.json = m_parser.isSet(m_json);
    return request;
}

Refusal CommandLine::readCommand(CliRequest &request, const QByteArrayList &raw) const
{
    const QStringList args = m_parser.positionalArguments();
    if (args.isEmpty())
        return QStringLiteral("no command given (params, version, isp or ports)");
    const QStringList names{QStringLiteral("params"), QStringLiteral("version"), QStringLiteral("isp"), QStringLiteral("ports")};
    const qsizetype index = names.indexOf(args.first());
    if (index < 0)
        return QStringLiteral("unknown command '%1'; choose one of: %2").arg(args.first(), names.join(QStringLiteral(", ")));
    const CliCommand commands[] = {CliCommand::Params, CliCommand::Version, CliCommand::Isp, CliCommand::Ports};
    request.command = commands[index];
    const bool isp = request.command == CliCommand::Isp;
    if (args.size() != (isp ? 2 : 1))
        return isp ? QStringLiteral("isp needs exactly one FILE") : QStringLiteral("%1 takes no FILE").arg(args.first());
    if (isp)
        request.image = fileArgument(args.at(1), raw);
    return std::nullopt;
}

// An option that would be overruled or do nothing is refused, never ignored.
Refusal CommandLine::refuseMisplaced(const CliRequest &request) const
{
    using C = CliCommand;
    const QList<C> talking{C::Params, C::Version, C::Isp};
    const QString belongsToParams = QStringLiteral("--{option} belongs to params");
    const QString notForPorts = QStringLiteral("ports lists the ports and the map; --{option} does not apply");
    const struct {
        const QCommandLineOption &option;
        QList<C> commands;  // where it does something
        QString refusal;
    } rules[] = {
        {m_displayBaud, {C::Params}, belongsToParams},
        {m_language, {C::Params}, belongsToParams},
        {m_code, {C::Params}, belongsToParams},
        {m_emulation, {C::Params}, belongsToParams},
        {m_map, {C::Ports}, QStringLiteral("--map belongs to ports")},
        {m_dryRun, {C::Isp}, QStringLiteral("--dry-run belongs to isp; {command} would really send")},
        {m_skipHeld, {C::Isp}, QStringLiteral("--skip-held belongs to isp")},
        {m_port, talking, notForPorts},
        {m_baud, talking, notForPorts},
        {m_simulate, talking, notForPorts},
        {m_trace, talking, notForPorts},
    };
    for (const auto &rule : rules) {
        if (m_parser.isSet(rule.option) && !rule.commands.contains(request.command))
            return QString(rule.refusal)
                .replace(QStringLiteral("{option}"), longName(rule.option))
                .replace(QStringLiteral("{command}"), request.commandName());
    }
    // Only -p and --map add up; any other option given twice is a slip.
    const QStringList given = m_parser.optionNames();
    for (const QCommandLineOption *o : {&m_baud, &m_displayBaud, &m_language, &m_code, &m_emulation, &m_simulate,
                                        &m_trace, &m_quiet, &m_dryRun, &m_skipHeld, &m_json}) {
        const auto times = std::count_if(given.cbegin(), given.cend(), [o](const QString &n) { return o->names().contains(n); });
        if (times > 1)
            return QStringLiteral("--%1 is given %2 times; give it once").arg(longName(*o)).arg(times);
    }
    // A dry run opens no port: what only a port would use is refused.
    if (m_parser.isSet(m_dryRun)) {
        for (const QCommandLineOption *o : {&m_port, &m_baud, &m_simulate, &m_trace, &m_skipHeld}) {
            if (m_parser.isSet(*o))
                return QStringLiteral("--dry-run opens no port; --%1 does nothing with it").arg(longName(*o));
        }
    }
    // A simulated display takes the place of the port: a port named as well
    // would be silently ignored.
    if (m_parser.isSet(m_simulate) && m_parser.isSet(m_port))
        return QStringLiteral("--simulate talks to a simulated display; it cannot be combined with -p");
    return std::nullopt;
}

// The ports to talk to, or the map changes to save.
Refusal CommandLine::readLists(CliRequest &request) const
{
    if (request.command == CliCommand::Ports) {
        for (const QString &change : m_parser.values(m_map)) {
            if (Refusal why = readMapChange(change, request.mapChanges))
                return why;
        }
        return std::nullopt;
    }
    for (const QString &value : m_parser.values(m_port)) {
        if (Refusal why = readPort(value, request.ports, m_naming))
            return why;
    }
    return std::nullopt;
}

// What every port gets: the line speed and, for params, the display's own
// parameters, each through its group's click rule.
Refusal CommandLine::readSettings(CliRequest &request) const
{
    if (Refusal why = choose(request.settings, OptionGroups::baudRate(), longName(m_baud), m_parser.value(m_baud)))
        return why;
    const struct {
        const QCommandLineOption &option;
        const OptionGroup &group;
    } parameters[] = {{m_displayBaud, OptionGroups::displayBaud()},
                      {m_language, OptionGroups::language()},
                      {m_code, OptionGroups::codeTable()},
                      {m_emulation, OptionGroups::emulation()}};
    for (const auto &p : parameters) {
        if (!m_parser.isSet(p.option))
            continue;
        if (Refusal why = choose(request.settings, p.group, longName(p.option), m_parser.value(p.option)))
            return why;
    }
    return std::nullopt;
}

}  // namespace

ParsedCommandLine parseCommandLine(const QStringList &arguments, const QByteArrayList &raw, PortNaming naming)
{
    return CommandLine(naming).parse(arguments, raw);
}
