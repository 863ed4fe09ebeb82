// custdisp-cli's outcomes, one table for both platforms: the real program
// against custdisp-sim (Linux), started natively, or, when the environment
// names a Windows build, as custdisp-cli.exe under Wine with the display's
// pseudo-terminal linked as a COM port of the Wine prefix (scripts/test-windows
// runs it so). Only the launcher and the names of ports and files differ.
#include "programsupport.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// How the program is started and how it names what it is given.
//   CUSTDISP_TEST_WINE_CLI        custdisp-cli.exe: run it under Wine
//   CUSTDISP_TEST_WINE_DOSDEVICES the prefix's dosdevices folder (COM links)
//   CUSTDISP_TEST_WINE_MAP        where that program keeps its port map
// Without them: the native custdisp-cli, pty paths and Linux file names.
class Launcher {
public:
    Launcher()
    {
        const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString exe = env.value(QStringLiteral("CUSTDISP_TEST_WINE_CLI"));
        m_wine = !exe.isEmpty();
        if (m_wine) {
            m_program = QStringLiteral("wine");
            m_leading = QStringList{exe};
            m_dosdevices = env.value(QStringLiteral("CUSTDISP_TEST_WINE_DOSDEVICES"));
            m_mapFile = env.value(QStringLiteral("CUSTDISP_TEST_WINE_MAP"));
        } else {
            m_program = QStringLiteral(CUSTDISP_CLI);
            m_mapFile = m_config.filePath(QStringLiteral("custdisp/ports.ini"));
        }
    }

    bool isWine() const { return m_wine; }
    bool isReady() const { return !m_wine || (QDir(m_dosdevices).exists() && !m_mapFile.isEmpty()); }

    // The name that reaches the display behind `pty`: the pty itself, or
    // COMn of the Wine prefix linked to it.
    QString portFor(const QString &pty, int n) const
    {
        if (!m_wine)
            return pty;
        const QString link = QStringLiteral("%1/com%2").arg(m_dosdevices).arg(n);
        QFile::remove(link);
        return QFile::link(pty, link) ? QStringLiteral("COM%1").arg(n) : QString();
    }

    // The device "Com N" names by default when nothing is there (COMn of
    // the prefix, /dev/ttyS{n-1}); empty when something is, which a test
    // must not open.
    QString missingDefault(int n) const
    {
        const QString path = m_wine ? QStringLiteral("%1/com%2").arg(m_dosdevices).arg(n)
                                    : QStringLiteral("/dev/ttyS%1").arg(n - 1);
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            return {};
        return m_wine ? QStringLiteral("COM%1").arg(n) : path;
    }

    // Other names of what `port` (from portFor) reaches, and whether each
    // is a port: on Windows every spelling of COMn, another COM name linked
    // to the same pty, and the pty's own paths, which name no port there;
    // here a link to the pty and a longer path.
    QList<std::pair<QString, bool>> spellingsOf(const QString &pty, const QString &port) const
    {
        if (m_wine) {
            QString drivePath = QStringLiteral("Z:") + pty;
            drivePath.replace(QLatin1Char('/'), QLatin1Char('\\'));
            return {{port, true},
                    {port.toLower(), true},
                    {QStringLiteral("\\\\.\\") + port, true},
                    {QStringLiteral("\\\\?\\") + port.toLower(), true},
                    {port + QLatin1Char(':'), true},
                    {portFor(pty, 7), true},
                    {drivePath, false},
                    {pty, false}};
        }
        const QString link = m_links.filePath(QStringLiteral("display"));
        QFile::remove(link);
        if (!QFile::link(pty, link))
            return {};
        return {{pty, true}, {link, true}, {QStringLiteral("/dev/../") + pty.mid(1), true}};
    }

    // A device name that names nothing, of this platform's kind; on Linux
    // this process's own, since the port hold is taken by name and the
    // test's other shards run beside it.
    QString missingDevice(int n) const
    {
        return m_wine ? QStringLiteral("COM%1").arg(10 + n)
                      : QStringLiteral("/nonexistent/custdisp-missing-%1-%2").arg(QCoreApplication::applicationPid()).arg(n);
    }

    // The name the program is given for a file of this machine.
    QString fileName(const QString &path) const
    {
        if (!m_wine)
            return path;
        QString name = QStringLiteral("Z:") + path;
        return name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    }

    // Saves "Com N" -> device as the program reads its map; an empty map
    // removes the file.
    bool saveMap(const QMap<int, QString> &devices) const
    {
        if (devices.isEmpty())
            return !QFile::exists(m_mapFile) || QFile::remove(m_mapFile);
        QByteArray text = "[ports]\n";
        for (auto it = devices.cbegin(); it != devices.cend(); ++it)
            text += QStringLiteral("com%1=%2\n").arg(it.key()).arg(it.value()).toUtf8();
        return QDir().mkpath(QFileInfo(m_mapFile).absolutePath()) && !writeFile(m_mapFile, text).isEmpty();
    }

    // Runs the program to its end (a hang fails); Windows' CR LF read as LF.
    Run run(const QStringList &args, int timeoutMs = 30000) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        Run r = runProgram(m_program, m_leading + args, timeoutMs, env);
        r.out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        r.err.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return r;
    }

    // The same, started and left running.
    std::unique_ptr<QProcess> start(const QStringList &args) const
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        p->setProcessEnvironment(env);
        p->start(m_program, m_leading + args);
        return p;
    }

private:
    bool m_wine = false;
    QString m_program;
    QStringList m_leading;
    QString m_dosdevices;
    QString m_mapFile;
    QTemporaryDir m_config;
    QTemporaryDir m_links;
};

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// What the display says it rebuilt, without the padding of the last block.
QString receivedSha(const QString &log)
{
    const qsizetype at = log.lastIndexOf(QStringLiteral("without trailing zeros: "));
    const qsizetype sha = at < 0 ? -1 : log.indexOf(QStringLiteral("sha256 "), at);
    return sha < 0 ? QString() : log.mid(sha + 7, 64);
}

// An image whose last byte is not zero, so the display's hash without
// padding is the file's.
QByteArray imageOf(qsizetype size)
{
    QByteArray image = randomImage(size);
    image[size - 1] = char(0x5a);
    return image;
}

}  // namespace

class TestCliFaults : public QObject {
    Q_OBJECT
private:
    Launcher m_cli;
    QTemporaryDir m_dir;

    QString imageFile(const QByteArray &image)
    {
        return m_cli.fileName(writeFile(m_dir.filePath(QStringLiteral("fw.bin")), image));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_cli.isReady(), "CUSTDISP_TEST_WINE_CLI needs CUSTDISP_TEST_WINE_DOSDEVICES and CUSTDISP_TEST_WINE_MAP");
        QVERIFY(m_cli.saveMap({}));
    }

    void cleanupTestCase() { QVERIFY(m_cli.saveMap({})); }

    // Every outcome of a download: its exit code and its one message; a
    // failed one never reaches the end frame.
    void downloadOutcomes_data()
    {
        // clang-format off
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("cause");  // on stderr
        QTest::newRow("completed") << QStringList{} << 0 << "ISP Transmit OK!" << QString();
        QTest::newRow("wrong version") << QStringList{"access=0x1B"} << 7 << "A Incorrect Version No!" << QString();
        QTest::newRow("access refused") << QStringList{"access=0xAA"} << 8 << "Access ISP Command Failed!" << QString();
        QTest::newRow("erase failed") << QStringList{"erase=0x07"} << 9 << "Erase Command Failed!" << QString();
        QTest::newRow("data frame failed") << QStringList{"data#1=0x15"} << 10 << "Transmit Data Failled!" << QString();
        QTest::newRow("line hung up") << QStringList{"data#0=hangup"} << 10 << "Transmit Data Failled!" << "cause: the line was lost: ";
        // The last of three frames accepted, then the line dies before the end frame.
        QTest::newRow("line lost after the last frame") << QStringList{"data#2=0xAA+hangup"} << 10 << "Transmit Data Failled!"
                                                        << "cause: the line was lost: ";
        QTest::newRow("access answered with two different bytes")
            << QStringList{"access=0x07,0x15"} << 8 << "Access ISP Command Failed!" << "cause: the display answered 07 15";
        QTest::newRow("access time-out") << QStringList{"access=silent"} << 6 << "Time Out Error!" << QString();
        // clang-format on
    }

    void downloadOutcomes()
    {
        QFETCH(QStringList, faults);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, cause);
        QStringList simArgs;
        for (const QString &f : faults)
            simArgs << "--fault" << f;
        Sim sim(simArgs);
        const QByteArray image = imageOf(400);
        const Run r = m_cli.run({"isp", "-q", "-p", m_cli.portFor(sim.device, 5), imageFile(image)});
        QVERIFY2(r.exitCode == code, qPrintable(QStringLiteral("exit %1\nout: %2\nerr: %3").arg(r.exitCode).arg(r.out, r.err)));
        QCOMPARE(r.out, message + "\n");
        QCOMPARE(r.err.contains(cause.isEmpty() ? QStringLiteral("cause:") : cause), !cause.isEmpty());
        if (code == 0) {
            QVERIFY(sim.waitFor(QStringLiteral("without trailing zeros")));  // a loaded machine may print it late
            QCOMPARE(receivedSha(sim.output()), sha256(image));
        }
        else {
            QVERIFY(sim.finish());
            QVERIFY(!sim.output().contains("image:"));  // never an end frame
        }
    }

    // The two packet commands reach the display whole.
    void packets_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("heard");
        QTest::newRow("version") << QStringList{"version"} << "version query";
        QTest::newRow("params") << QStringList{"params", "--display-baud", "2400", "--language", "GERMANY", "--code",
                                               "EURO_CODE", "--emulation", "ESC/POS"}
                                << "parameters: baud 2400, language GERMANY, code EURO_CODE, emulation ESC/POS";
    }

    void packets()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, heard);
        Sim sim;
        const Run r = m_cli.run(args + QStringList{"-p", m_cli.portFor(sim.device, 5)});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(sim.waitFor(heard), qPrintable(sim.output()));
    }

    // "Com N" whose device is missing, by default or through the saved map:
    // the message, the cause, exit 3, and an end (a hang is a failure here).
    void numberedPortsThatAreMissing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("saved");
        for (const char *command : {"version", "params", "isp"}) {
            for (int port = 1; port <= 4; ++port) {
                for (const bool saved : {false, true})
                    QTest::addRow("%s -p %d, %s", command, port, saved ? "saved map" : "default")
                        << QString::fromLatin1(command) << port << saved;
            }
        }
    }

    void numberedPortsThatAreMissing()
    {
        QFETCH(QString, command);
        QFETCH(int, port);
        QFETCH(bool, saved);
        const QString device = saved ? m_cli.missingDevice(port) : m_cli.missingDefault(port);
        if (device.isEmpty())
            QSKIP("this machine has that port");
        QVERIFY(m_cli.saveMap(saved ? QMap<int, QString>{{port, device}} : QMap<int, QString>{}));
        QStringList args{command, "-p", QString::number(port)};
        if (command == QLatin1String("isp"))
            args << imageFile(imageOf(200));
        const Run r = m_cli.run(args, 20000);
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.out, QStringLiteral("COM %1: not available.\n").arg(port));
        QVERIFY2(r.err.contains(QStringLiteral("cause: %1 does not exist").arg(device)), qPrintable(r.err));
    }

    // One device, one program, whatever it is called: a second one during a
    // download is turned away before it writes a byte, by every spelling of
    // the port (and, on Windows, every name that is no port), and the
    // download completes.
    void aSecondProgramIsTurnedAway()
    {
        Sim sim;
        const QString port = m_cli.portFor(sim.device, 5);
        const QList<std::pair<QString, bool>> spellings = m_cli.spellingsOf(sim.device, port);
        QVERIFY(!spellings.isEmpty());
        // Long enough for every spelling to try.
        const QByteArray image = imageOf(184 * (m_cli.isWine() ? 80 : 12));
        const std::unique_ptr<QProcess> first = m_cli.start({"isp", "-q", "-b", "19200", "-p", port, imageFile(image)});
        QVERIFY(first->waitForStarted());
        QVERIFY2(sim.waitFor(QStringLiteral("data #1 "), 20000), qPrintable(sim.output()));

        for (const auto &[spelling, isPort] : spellings) {
            const Run second = m_cli.run({"version", "-p", spelling});
            QVERIFY2(second.exitCode == 3, qPrintable(spelling + QStringLiteral(": exit %1").arg(second.exitCode)));
            const QString cause = isPort ? QStringLiteral("in use by another program") : QStringLiteral("is not a serial port");
            QVERIFY2(second.err.contains(cause), qPrintable(spelling + QStringLiteral(": ") + second.err));
        }
        QVERIFY2(first->state() == QProcess::Running, "the download ended before every spelling was tried");

        QVERIFY(first->waitForFinished(60000));
        QCOMPARE(first->exitCode(), 0);
        QVERIFY(sim.finish());
        const QString log = sim.output();
        QVERIFY2(!log.contains(QStringLiteral("version query")) && !log.contains(QStringLiteral("garbage")), qPrintable(log));
        QCOMPARE(receivedSha(log), sha256(image));
    }

    // Two spellings of one port in one run are one device: refused before
    // either is opened.
    void oneDeviceTwiceInOneRun()
    {
        Sim sim;
        const QString port = m_cli.portFor(sim.device, 5);
        const QList<std::pair<QString, bool>> spellings = m_cli.spellingsOf(sim.device, port);
        QVERIFY(!spellings.isEmpty());
        for (const auto &[spelling, isPort] : spellings) {
            if (!isPort)
                continue;
            const Run r = m_cli.run({"version", "-p", port, "-p", spelling});
            QVERIFY2(r.exitCode == 2, qPrintable(spelling + QStringLiteral(": exit %1").arg(r.exitCode)));
            QVERIFY2(r.err.contains(QStringLiteral("are one device")), qPrintable(spelling + QStringLiteral(": ") + r.err));
        }
        QVERIFY(sim.finish());
        QVERIFY2(!sim.output().contains(QStringLiteral("version query")), qPrintable(sim.output()));
    }
};

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_clifaults.moc"
