// The three programs as a user starts them: what they accept, and what they
// answer without a display or a port.
#include "app/programoptions.h"
#include "programsupport.h"
#include "testsupport.h"

#include <QCommandLineParser>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

// Runs a program with `unset` removed from the environment (and `set` added).
Run run(const QString &program, const QStringList &args, const QStringList &unset,
        const QStringList &set = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : unset)
        env.remove(name);
    for (const QString &pair : set)
        env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return runProgram(program, args, 10000, env);
}

const QStringList kNoDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

}  // namespace

class TestPrograms : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Over SSH, in a package check, in a script: no display, and still an answer.
    void helpAndVersionNeedNoDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("answer");
        const QString version = QStringLiteral(CUSTDISP_VERSION);
        QTest::newRow("custdisp --help") << CUSTDISP_BINARY << "--help" << "--simulate";
        QTest::newRow("custdisp -h") << CUSTDISP_BINARY << "-h" << "--com";
        QTest::newRow("custdisp /?") << CUSTDISP_BINARY << "/?" << "--com";
        QTest::newRow("custdisp --version") << CUSTDISP_BINARY << "--version" << "custdisp " + version;
        QTest::newRow("custdisp-cli --help") << CUSTDISP_CLI << "--help" << "--dry-run";
        QTest::newRow("custdisp-cli /?") << CUSTDISP_CLI << "/?" << "--dry-run";
        QTest::newRow("custdisp-cli --version") << CUSTDISP_CLI << "--version" << "custdisp-cli " + version;
        QTest::newRow("custdisp-sim --help") << CUSTDISP_SIM << "--help" << "--fault";
        QTest::newRow("custdisp-sim --version") << CUSTDISP_SIM << "--version" << "custdisp-sim " + version;
    }

    void helpAndVersionNeedNoDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QString, answer);
        const Run r = run(program, {option}, kNoDisplay);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(answer), qPrintable(r.out + r.err));
    }

    // A wrong command line is said to be wrong, display or not.
    void usageErrorsComeFirst_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "frobnicate";
        QTest::newRow("port 5") << QStringList{"--com", "5=/dev/ttyUSB0"} << "port number must be 1 to 4";
        QTest::newRow("named twice") << QStringList{"--com", "1=/a", "--com", "1=/b"} << "Com 1 is named twice";
        QTest::newRow("stray argument") << QStringList{"firmware.bin"} << "unexpected argument";
    }

    void usageErrorsComeFirst()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        const Run r = run(CUSTDISP_BINARY, args, kNoDisplay);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(complaint), qPrintable(r.err));
        QVERIFY(!r.err.contains(QStringLiteral("no display")));
    }

    void theWindowSaysWhenThereIsNoDisplay()
    {
        const Run r = run(CUSTDISP_BINARY, {}, kNoDisplay);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("no display"), qPrintable(r.err));
        QVERIFY(r.err.contains("custdisp-cli"));
    }

    // An option that would be overruled is refused, never silently ignored.
    void windowOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");  // empty: accepted
        QTest::newRow("two ports, two devices") << QStringList{"--com", "1=/dev/a", "--com", "2=/dev/b"} << "";
        QTest::newRow("one port named twice") << QStringList{"--com", "2=/dev/a", "--com", "2=/dev/b"} << "Com 2 is named twice";
        QTest::newRow("simulate beside com 2") << QStringList{"--simulate", "--com", "2=/dev/ttyUSB0"} << "";
        QTest::newRow("simulate and com 1") << QStringList{"--simulate", "--com", "1=/dev/ttyUSB0"}
                                            << "--simulate puts the simulated display behind Com 1";
        QTest::newRow("com 1 and simulate") << QStringList{"--com", "1=/dev/ttyUSB0", "--simulate"}
                                            << "--simulate puts the simulated display behind Com 1";
    }

    void windowOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        QCommandLineParser parser;
        addProgramOptions(parser);
        QVERIFY(parser.parse(QStringList{"custdisp"} + args));
        QString error;
        const std::optional<ProgramOptions> options = readProgramOptions(parser, &error);
        QCOMPARE(options.has_value(), complaint.isEmpty());
        QVERIFY2(error.contains(complaint), qPrintable(error));
        // The program itself says so and stops with 2.
        if (!complaint.isEmpty()) {
            const Run r = run(CUSTDISP_BINARY, args, {}, {"QT_QPA_PLATFORM=offscreen"});
            QCOMPARE(r.exitCode, 2);
            QVERIFY2(r.err.contains(complaint), qPrintable(r.err));
        }
    }

    // Started with standard descriptors closed (from a daemon, a cron job, a
    // careless script), each program still works: a download completes, and
    // the simulator and the window keep running until they are told to stop.
    void closedStandardDescriptors_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QList<int>>("closed");
        QTest::newRow("custdisp-cli isp, all three") << CUSTDISP_CLI << QList<int>{0, 1, 2};
        QTest::newRow("custdisp-cli isp, stderr") << CUSTDISP_CLI << QList<int>{2};
        QTest::newRow("custdisp-cli isp, stdin and stdout") << CUSTDISP_CLI << QList<int>{0, 1};
        // Left closed, the stop-request pipe would take 1 and 2: the trace would stop the download.
        QTest::newRow("custdisp-cli isp, stdout and stderr") << CUSTDISP_CLI << QList<int>{1, 2};
        QTest::newRow("custdisp-sim, all three") << CUSTDISP_SIM << QList<int>{0, 1, 2};
        QTest::newRow("custdisp, all three") << CUSTDISP_BINARY << QList<int>{0, 1, 2};
    }

    void closedStandardDescriptors()
    {
        QFETCH(QString, program);
        QFETCH(QList<int>, closed);
        Sim sim;
        QTemporaryDir dir;
        const QString image = writeFile(dir.filePath(QStringLiteral("fw.bin")), randomImage(500));
        QProcess p;
        p.setChildProcessModifier([closed] {
            for (int fd : closed)
                ::close(fd);
        });
        const bool cli = program == QLatin1String(CUSTDISP_CLI);
        // --trace writes to stderr all the while the port is open: were
        // descriptor 2 left closed, the port could take it and the trace
        // would go to the display.
        p.start(program, cli ? QStringList{"isp", "--trace", "-b", "19200", "-p", sim.device, image}
                             : program == QLatin1String(CUSTDISP_SIM) ? QStringList{}
                                                                      : QStringList{"--com", "1=" + sim.device});
        QVERIFY(p.waitForStarted());
        // Whatever the program opens, a closed standard descriptor is the null device by then.
        const auto closedOnesLeadNowhere = [&] {
            for (int fd : closed) {
                const QString link = QStringLiteral("/proc/%1/fd/%2").arg(p.processId()).arg(fd);
                QCOMPARE(QFile::symLinkTarget(link), QStringLiteral("/dev/null"));
            }
        };
        if (cli) {
            QVERIFY(sim.waitFor(QStringLiteral("data #1 ")));
            closedOnesLeadNowhere();
            QVERIFY(p.waitForFinished(30000));
            QCOMPARE(p.exitCode(), 0);
            QVERIFY(sim.finish());
            QVERIFY2(sim.output().contains(QStringLiteral("image: 552 bytes received")), qPrintable(sim.output()));
            QVERIFY2(!sim.output().contains(QStringLiteral("garbage")), qPrintable(sim.output()));
            return;
        }
        QVERIFY2(!p.waitForFinished(500), "it ended by itself");
        QVERIFY(p.processId() > 0);
        closedOnesLeadNowhere();
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    }
};

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
