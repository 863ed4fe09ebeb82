// The real custdisp-cli binary against the real custdisp-sim binary.
#include "link/seriallink.h"
#include "testsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Sim {
    QProcess process;
    QString device;

    explicit Sim(const QStringList &args = {})
    {
        process.start(QStringLiteral(CUSTDISP_SIM), args);
        if (process.waitForReadyRead(5000))
            device = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Sim()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
    // Every line it printed after the device path.
    QString log(int settleMs = 100)
    {
        QTest::qWait(settleMs);
        process.waitForReadyRead(50);
        m_log += QString::fromLocal8Bit(process.readAllStandardOutput());
        return m_log;
    }

private:
    QString m_log;
};

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run cli(const QStringList &args, int timeoutMs = 30000)
{
    QProcess p;
    p.start(QStringLiteral(CUSTDISP_CLI), args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}


}  // namespace

class TestCli : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString writeImage(const QByteArray &image, const QString &name = QStringLiteral("fw.bin"))
    {
        return writeFile(m_dir.filePath(name), image);
    }

private Q_SLOTS:
    void params_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("defaults") << QStringList{} << "02 01 31 30 0a 00 03 0b"
                                  << "baud 9600, language USA, code USA_EUROPE_CODE, emulation DSP800";
        QTest::newRow("captions, any case")
            << QStringList{"--display-baud", "19200", "--language", "reserved", "--code", "Japan_Code", "--emulation", "cd5220"}
            << "02 01 30 3d 01 06 03 0a" << "baud 19200, language RESERVED, code JAPAN_CODE, emulation CD5220";
        QTest::newRow("blanks and slashes") << QStringList{"--language", "denmark ii", "--emulation", "UTC/P", "-b", "2400"}
                                            << "02 01 31 3a 0a 04 03 05"
                                            << "baud 9600, language DENMARK II, code USA_EUROPE_CODE, emulation UTC/P";
    }

    void params()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, sent);
        QFETCH(QString, decoded);
        Sim sim;
        const Run r = cli(QStringList{"params", "-p", sim.device} + args);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("sent " + sent), qPrintable(r.err));
        QVERIFY2(sim.log().contains("parameters: " + decoded), qPrintable(sim.log()));
    }

    void version()
    {
        Sim sim;
        const Run r = cli({"version", "-p", sim.device, "--trace"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.contains("> 02 80 03 81"));
        QVERIFY(sim.log().contains("version query"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("unknown language") << QStringList{"params", "--language", "KLINGON"}
                                          << "choose one of: USA, FRANCE, GERMANY, U.K, DENMARK I";
        QTest::newRow("unknown emulation") << QStringList{"params", "--emulation", "VT100"} << "DSP800, ESC/POS";
        QTest::newRow("unknown baud") << QStringList{"version", "-b", "115200"} << "600, 1200, 2400, 4800, 9600, 19200";
        QTest::newRow("port 7") << QStringList{"version", "-p", "7"} << "use 1 to 4";
        QTest::newRow("no command") << QStringList{} << "no command";
        QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command 'flash'";
        QTest::newRow("isp without file") << QStringList{"isp"} << "exactly one FILE";
        QTest::newRow("param option elsewhere") << QStringList{"version", "--code", "EURO_CODE"} << "belongs to params";
        QTest::newRow("unknown option") << QStringList{"version", "--frobnicate"} << "frobnicate";
    }

    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        const Run r = cli(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(complaint), qPrintable(r.err));
    }

    void helpListsTheExitCodes()
    {
        const Run r = cli({"--help"});
        QCOMPARE(r.exitCode, 0);
        for (const char *line : {"3 port unavailable", "10 data frame failed", "11 cancelled"})
            QVERIFY2(r.out.contains(QLatin1String(line)), line);
    }

    void ispRebuildsTheImage()
    {
        const QString saved = m_dir.filePath(QStringLiteral("rebuilt.bin"));
        Sim sim({"--save-image", saved});
        const QByteArray image = randomImage(1000);
        const Run r = cli({"isp", "-p", sim.device, "-b", "19200", writeImage(image)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("ISP Transmit OK!\n"));
        // Not a terminal: plain lines, no carriage returns.
        QVERIFY(!r.err.contains(QLatin1Char('\r')));
        QVERIFY2(r.err.contains("progress: 100% (6/6 frames, 1000 bytes"), qPrintable(r.err));
        QVERIFY(sim.log().contains("image: 1104 bytes, sha256"));
        QFile f(saved);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), image + QByteArray(104, '\0'));
    }

    void failuresHaveTheirExitCodes_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong version") << QStringList{"access=0x1B"} << 7 << "A Incorrect Version No!";
        QTest::newRow("access refused") << QStringList{"access=0xAA"} << 8 << "Access ISP Command Failed!";
        QTest::newRow("erase failed") << QStringList{"erase=0x07"} << 9 << "Erase Command Failed!";
        QTest::newRow("data frame failed") << QStringList{"data#1=0x15"} << 10 << "Transmit Data Failled!";
        QTest::newRow("line hung up") << QStringList{"data#0=hangup"} << 10 << "Transmit Data Failled!";
        QTest::newRow("access time-out") << QStringList{"access=silent"} << 6 << "Time Out Error!";
    }

    void failuresHaveTheirExitCodes()
    {
        QFETCH(QStringList, faults);
        QFETCH(int, code);
        QFETCH(QString, message);
        QStringList simArgs;
        for (const QString &f : faults)
            simArgs << "--fault" << f;
        Sim sim(simArgs);
        const Run r = cli({"isp", "-q", "-p", sim.device, writeImage(randomImage(400))});
        QCOMPARE(r.exitCode, code);
        QCOMPARE(r.out, message + "\n");
        QVERIFY(!sim.log().contains("image:"));  // never an end frame
    }

    void fileProblems_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("dryRun");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        QTest::newRow("unreadable") << "/nonexistent/x.bin" << false << 4 << "Cann't Open File '/nonexistent/x.bin'!";
        QTest::newRow("unreadable, dry run") << "/nonexistent/x.bin" << true << 4 << "Cann't Open File '/nonexistent/x.bin'!";
        QTest::newRow("too large") << "65504" << false << 5 << "has 65504 bytes; at most 65503 bytes fit";
        QTest::newRow("too large, dry run") << "65504" << true << 5 << "fits: no";
        QTest::newRow("largest, dry run") << "65503" << true << 0 << "data frames: 356\nfirst address: 0\nlast frame: 65320..65503\nfits: yes";
    }

    void fileProblems()
    {
        QFETCH(QString, file);
        QFETCH(bool, dryRun);
        QFETCH(int, code);
        QFETCH(QString, output);
        if (!file.startsWith(QLatin1Char('/')))
            file = writeImage(QByteArray(file.toInt(), 'x'), file + ".bin");
        Sim sim;
        QStringList args{"isp", "-p", sim.device, file};
        if (dryRun)
            args << "--dry-run";
        const Run r = cli(args);
        QCOMPARE(r.exitCode, code);
        QVERIFY2(r.out.contains(output), qPrintable(r.out));
        // Nothing reached the display, and the port was never taken.
        QCOMPARE(sim.log().trimmed(), QString());
    }

    void missingPortSaysWhy()
    {
        const Run r = cli({"version", "-p", "/dev/custdisp-nothing-here"});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.out, QStringLiteral("COM 1: not available.\n"));
        QVERIFY2(r.err.contains("cause: /dev/custdisp-nothing-here does not exist; serial ports here:"), qPrintable(r.err));
        const Run isp = cli({"isp", "-p", "/dev/custdisp-nothing-here", writeImage("abc")});
        QCOMPARE(isp.exitCode, 3);
        QVERIFY(isp.err.contains("does not exist"));
    }

    void busyPortSaysWhy()
    {
        Sim sim;
        SerialLink holder;
        QVERIFY(!holder.open(sim.device, QStringLiteral("9600,N,8,1")));
        const Run r = cli({"params", "-p", sim.device});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains("is in use by another program"), qPrintable(r.err));
    }

    void ctrlCStopsTheDownload()
    {
        Sim sim;
        QProcess p;
        p.start(QStringLiteral(CUSTDISP_CLI), {"isp", "-p", sim.device, writeImage(randomImage(184 * 30))});
        QVERIFY(p.waitForStarted());
        QTest::qWait(1200);  // a few frames in
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 11);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains("cancelled"));
        QVERIFY(!QString::fromLocal8Bit(p.readAllStandardOutput()).contains("OK"));
        QVERIFY(!sim.log().contains("image:"));
        // The port was released.
        SerialLink after;
        QVERIFY(!after.open(sim.device, QStringLiteral("9600,N,8,1")));
    }

    void portsListsWhatThereIs()
    {
        // A pseudo-terminal is no serial port: it must not be listed.
        Sim sim;
        const Run r = cli({"ports"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!r.out.isEmpty());
        QVERIFY(!r.out.contains(sim.device + QLatin1Char('\t')));
    }

    void simulatedDisplayInProcess()
    {
        const Run r = cli({"isp", "--simulate", "-b", "19200", writeImage(randomImage(200))});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("ISP Transmit OK!\n"));
        QVERIFY(r.err.contains("simulated display on /dev/pts/"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
