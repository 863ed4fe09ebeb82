// Parsing the command line, in-process: every rule that refuses a line, and
// the request an accepted one becomes. Nothing is opened or started here.
#include "cli/commandline.h"

#include <QTest>

namespace {

// A request in one line, to compare whole.
QString describe(const CliRequest &r)
{
    QStringList ports;
    for (const PortName &p : r.ports)
        ports.append(p.label());
    QStringList map;
    for (const MapChange &c : r.mapChanges)
        map.append(QStringLiteral("%1=%2").arg(c.number).arg(c.device));
    QStringList flags;
    for (const auto &[set, name] : {std::pair{r.dryRun, "dry-run"}, {r.simulate, "simulate"}, {r.trace, "trace"},
                                    {r.quiet, "quiet"}, {r.json, "json"}, {r.skipHeld, "skip-held"}}) {
        if (set)
            flags.append(QLatin1String(name));
    }
    QStringList parts{r.commandName(), QStringLiteral("[%1]").arg(ports.join(QLatin1Char(','))), r.settings.PortSettings,
                      QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(r.settings.ParamPacket.data()), 8).toHex()),
                      r.image.shown, QStringLiteral("map[%1]").arg(map.join(QLatin1Char(','))), flags.join(QLatin1Char(' '))};
    parts.removeAll(QString());
    return parts.join(QLatin1Char(' '));
}

// Rows named "Windows: ..." parse as the Windows program does, the others as
// on Linux, wherever the test runs.
PortNaming namingOfRow()
{
    return QByteArray(QTest::currentDataTag()).startsWith("Windows:") ? PortNaming::ComNames : PortNaming::DevicePaths;
}

}  // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("unknown option") << QStringList{"version", "--frobnicate"} << "Unknown option 'frobnicate'.";
        QTest::newRow("no value") << QStringList{"version", "-p"} << "Missing value after '-p'.";
        QTest::newRow("no command") << QStringList{} << "no command given (params, version, isp or ports)";
        QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command 'flash'; choose one of: params, version, isp, ports";
        QTest::newRow("isp without file") << QStringList{"isp"} << "isp needs exactly one FILE";
        QTest::newRow("isp with two files") << QStringList{"isp", "a.bin", "b.bin"} << "isp needs exactly one FILE";
        QTest::newRow("version with a file") << QStringList{"version", "a.bin"} << "version takes no FILE";
        for (const char *option : {"display-baud", "language", "code", "emulation"})
            QTest::addRow("--%s with isp", option) << QStringList{"isp", QStringLiteral("--%1").arg(option), "x", "f"}
                                                   << QStringLiteral("--%1 belongs to params").arg(option);
        QTest::newRow("--map with version") << QStringList{"version", "--map", "2=/dev/x"} << "--map belongs to ports";
        QTest::newRow("--dry-run with params") << QStringList{"params", "--dry-run"}
                                               << "--dry-run belongs to isp; params would really send";
        QTest::newRow("--skip-held with params") << QStringList{"params", "--skip-held"} << "--skip-held belongs to isp";
        QTest::newRow("--skip-held twice") << QStringList{"isp", "--skip-held", "--skip-held", "f"}
                                           << "--skip-held is given 2 times";
        for (const auto &[option, name] : {std::pair{QStringList{"-p", "2"}, "port"}, {QStringList{"-b", "600"}, "baud"},
                                           {QStringList{"--simulate"}, "simulate"}, {QStringList{"--trace"}, "trace"}})
            QTest::addRow("ports --%s", name) << QStringList{"ports"} + option
                                              << QStringLiteral("ports lists the ports and the map; --%1 does not apply").arg(name);
        QTest::newRow("speed twice") << QStringList{"version", "-b", "600", "-b", "600"} << "--baud is given 2 times; give it once";
        QTest::newRow("code three times") << QStringList{"params", "--code", "EURO_CODE", "--code", "EURO_CODE", "--code", "x"}
                                          << "--code is given 3 times; give it once";
        QTest::newRow("simulate and a port") << QStringList{"isp", "--simulate", "-p", "1", "f"}
                                             << "--simulate talks to a simulated display; it cannot be combined with -p";
        QTest::newRow("map port 5") << QStringList{"ports", "--map", "5=/dev/x"}
                                    << "--map 5=/dev/x: use N=DEVICE with N from 1 to 4 (N= for the default)";
        QTest::newRow("map without =") << QStringList{"ports", "--map", "2"} << "--map 2: use N=DEVICE";
        QTest::newRow("map, one port twice") << QStringList{"ports", "--map", "2=/dev/a", "--map", " 2=/dev/b"}
                                             << "--map  2=/dev/b: Com 2 is named twice";
        QTest::newRow("map, a control character") << QStringList{"ports", "--map", "2=/dev/a\tb"}
                                                  << "--map: a device name has no control characters";
        QTest::newRow("unknown speed") << QStringList{"version", "-b", "115200"}
                                       << "--baud: unknown value '115200'; choose one of: 600, 1200, 2400, 4800, 9600, 19200";
        QTest::newRow("unknown language") << QStringList{"params", "--language", "KLINGON"} << "--language: unknown value 'KLINGON'";
        QTest::newRow("unknown display speed") << QStringList{"params", "--display-baud", "1"} << "--display-baud: unknown value '1'";
        QTest::newRow("port 0") << QStringList{"version", "-p", "0"} << "--port 0: use 1 to 4, or a device path";
        QTest::newRow("Windows: port 7") << QStringList{"version", "-p", "7"} << "--port 7: use 1 to 4, or COM7";
        QTest::newRow("Windows: port 0") << QStringList{"version", "-p", "0"}
                                         << "--port 0: use 1 to 4, or a port name such as COM5";
        QTest::newRow("port 5 beside a good one") << QStringList{"version", "-p", "1", "-p", "5"} << "--port 5: use 1 to 4";
        QTest::newRow("no device") << QStringList{"version", "-p", ""} << "--port: no device named";
        QTest::newRow("an option where the port goes") << QStringList{"isp", "-p", "--json", "f"}
                                                       << "--port --json: that is an option, not a port";
        QTest::newRow("a flag twice") << QStringList{"version", "--trace", "--trace"} << "--trace is given 2 times";
        QTest::newRow("a flag under both its names") << QStringList{"version", "-q", "--quiet"} << "--quiet is given 2 times";
        QTest::newRow("json twice") << QStringList{"ports", "--json", "--json"} << "--json is given 2 times";
        for (const char *option : {"-p1", "-b600", "--simulate", "--trace", "--skip-held"})
            QTest::addRow("dry run with %s", option) << QStringList{"isp", "--dry-run", option, "f"} << "--dry-run opens no port";
    }

    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, refusal);
        const ParsedCommandLine parsed = parseCommandLine(QStringList{"custdisp-cli"} + args, {}, namingOfRow());
        const auto *error = std::get_if<UsageError>(&parsed);
        QVERIFY2(error, "accepted");
        QVERIFY2(error->text.startsWith(refusal), qPrintable(error->text));
    }

    void requests_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("request");
        QTest::newRow("defaults") << QStringList{"version"} << "version [Com 1] 9600,N,8,1 020131300a000300 map[]";
        QTest::newRow("several ports, in order") << QStringList{"isp", "-p", "/dev/ttyUSB0", "fw.bin", "-p", "2", "-b", "19200", "-q"}
                                                 << "isp [/dev/ttyUSB0,Com 2] 19200,N,8,1 020131300a000300 fw.bin map[] quiet";
        QTest::newRow("Windows: mode's colon ends the name") << QStringList{"version", "-p", "COM5:", "-p", "\\\\.\\com6:", "-p", "x:"}
                                                             << "version [COM5,\\\\.\\com6,x:] 9600,N,8,1 020131300a000300 map[]";
        QTest::newRow("a colon of a Linux name is its own") << QStringList{"version", "-p", "/dev/x:", "-p", "com5:"}
                                                            << "version [/dev/x:,com5:] 9600,N,8,1 020131300a000300 map[]";
        QTest::newRow("parameters by caption") << QStringList{"params", "--display-baud", "19200", "--language", "denmark ii",
                                                              "--code", "euro_code", "--emulation", "ESC/POS", "--trace"}
                                               << "params [Com 1] 9600,N,8,1 0201303a08010300 map[] trace";
        QTest::newRow("dry run") << QStringList{"isp", "--dry-run", "--json", "x.bin"}
                                 << "isp [Com 1] 9600,N,8,1 020131300a000300 x.bin map[] dry-run json";
        QTest::newRow("skipping held images") << QStringList{"isp", "--skip-held", "-p", "3", "f"}
                                              << "isp [Com 3] 9600,N,8,1 020131300a000300 f map[] skip-held";
        QTest::newRow("simulated") << QStringList{"isp", "--simulate", "f"} << "isp [Com 1] 9600,N,8,1 020131300a000300 f map[] simulate";
        QTest::newRow("ports, json, map") << QStringList{"ports", "--json", "--map", "2=/dev/ttyUSB0", "--map", "4="}
                                          << "ports [] 9600,N,8,1 020131300a000300 map[2=/dev/ttyUSB0,4=] json";
    }

    void requests()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, request);
        const ParsedCommandLine parsed = parseCommandLine(QStringList{"custdisp-cli"} + args, {}, namingOfRow());
        const auto *understood = std::get_if<CliRequest>(&parsed);
        QVERIFY2(understood, std::holds_alternative<UsageError>(parsed) ? qPrintable(std::get<UsageError>(parsed).text) : "no request");
        QCOMPARE(describe(*understood), request);
    }

    // Printed by the program itself, never by Qt ending it.
    void answers_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("start");
        QTest::newRow("help") << QStringList{"isp", "--help"} << "Usage: ";
        QTest::newRow("help-all") << QStringList{"isp", "--help-all"} << "Usage: ";
        QTest::newRow("version") << QStringList{"isp", "--version"} << "custdisp-cli " CUSTDISP_VERSION "\n";
        // How Windows programs are asked for their help.
        QTest::newRow("/? alone") << QStringList{"/?"} << "Usage: ";
    }

    void answers()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, start);
        const ParsedCommandLine parsed = parseCommandLine(QStringList{"custdisp-cli"} + args);
        QVERIFY(std::holds_alternative<PlainAnswer>(parsed));
        QVERIFY2(std::get<PlainAnswer>(parsed).text.startsWith(start), qPrintable(std::get<PlainAnswer>(parsed).text));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
