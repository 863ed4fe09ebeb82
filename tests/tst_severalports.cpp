// custdisp-cli on several displays at once: each port runs the very same
// procedure on its own, and one summary (or one JSON report) tells them apart.
#include "link/seriallink.h"
#include "programsupport.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

// Several simulated displays, each with its own fault rules.
struct Displays {
    std::vector<std::unique_ptr<Sim>> sims;

    explicit Displays(const QList<QStringList> &faults)
    {
        for (const QStringList &rules : faults) {
            QStringList args;
            for (const QString &rule : rules)
                args << "--fault" << rule;
            sims.push_back(std::make_unique<Sim>(args));
        }
    }
    QStringList portArgs() const
    {
        QStringList args;
        for (const auto &sim : sims)
            args << "-p" << sim->device;
        return args;
    }
};

QJsonObject portNamed(const QJsonDocument &report, const QString &device)
{
    for (const QJsonValue &p : report.object().value(QStringLiteral("ports")).toArray()) {
        if (p.toObject().value(QStringLiteral("port")).toString() == device)
            return p.toObject();
    }
    return {};
}

}  // namespace

class TestSeveralPorts : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_config;

private Q_SLOTS:
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    }

    void everyDisplayGetsTheWholeImage()
    {
        std::vector<std::unique_ptr<Sim>> sims;
        QStringList args{"isp", "-q", "-b", "19200"};
        for (int i = 0; i < 3; ++i) {
            sims.push_back(std::make_unique<Sim>(QStringList{"--save-image", m_dir.filePath(QStringLiteral("rebuilt%1.bin").arg(i))}));
            args << "-p" << sims.back()->device;
        }
        const QByteArray image = randomImage(1000);
        const Run r = cli(args << writeFile(m_dir.filePath(QStringLiteral("fw.bin")), image));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count(QStringLiteral("ISP Transmit OK!")), 3);
        for (int i = 0; i < 3; ++i) {
            // clang-format off
            QVERIFY2(r.out.contains(QRegularExpression(QRegularExpression::escape(sims.at(i)->device) + " +" +
                                                       QRegularExpression::escape(sims.at(i)->device) +
                                                       " +ISP Transmit OK! +6/6 +6 ")),
                     qPrintable(r.out));
            // clang-format on
            QVERIFY(sims.at(i)->waitFor(QStringLiteral("image: 1104 bytes received")));
            QFile rebuilt(m_dir.filePath(QStringLiteral("rebuilt%1.bin").arg(i)));
            QVERIFY(rebuilt.open(QIODevice::ReadOnly));
            QCOMPARE(rebuilt.readAll(), image + QByteArray(104, '\0'));
        }
    }

    // One display silent, one refusing, one gone, one busy: each ends on its
    // own, the healthy one completes, and the report says which was which.
    void eachPortEndsOnItsOwn()
    {
        Displays d({{}, {"access=silent"}, {"data#1=0x15"}, {"data#2=hangup"}, {}});
        SerialLink holder;  // another program holds the last display's port
        QVERIFY(!holder.open(targetAt(d.sims.back()->device, QStringLiteral("9600,N,8,1"))));
        const Run r = cli(QStringList{"isp", "--json", "-b", "19200"} + d.portArgs()
                          << writeFile(m_dir.filePath(QStringLiteral("fw.bin")), randomImage(1000)));
        QCOMPARE(r.exitCode, 12);
        QJsonParseError error;
        const QJsonDocument report = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + r.out));
        QCOMPARE(report.object().value(QStringLiteral("exit_code")).toInt(), 12);
        const QJsonObject image = report.object().value(QStringLiteral("image")).toObject();
        QCOMPARE(image.value(QStringLiteral("size")).toInt(), 1000);
        QCOMPARE(image.value(QStringLiteral("frames")).toInt(), 6);
        QCOMPARE(image.value(QStringLiteral("sha256")).toString().size(), 64);

        struct Expected {
            const char *outcome;
            const char *message;
            int exitCode;
            int framesSent;
            int retries;
        };
        const QList<Expected> expected{
            {"completed", "ISP Transmit OK!", 0, 6, 0},
            {"access-timeout", "Time Out Error!", 6, 0, 0},
            {"data-frame-failed", "Transmit Data Failled!", 10, 2, 2},
            {"data-frame-failed", "Transmit Data Failled!", 10, 3, 0},
            {"port-unavailable", "", 3, 0, 0},
        };
        QCOMPARE(report.object().value(QStringLiteral("ports")).toArray().size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const QString device = d.sims.at(i)->device;
            const QJsonObject port = portNamed(report, device);
            QCOMPARE(port.value(QStringLiteral("device")).toString(), device);
            QCOMPARE(port.value(QStringLiteral("outcome")).toString(), QLatin1String(expected.at(i).outcome));
            QCOMPARE(port.value(QStringLiteral("exit_code")).toInt(), expected.at(i).exitCode);
            QCOMPARE(port.value(QStringLiteral("frames_sent")).toInt(), expected.at(i).framesSent);
            QCOMPARE(port.value(QStringLiteral("retries")).toInt(), expected.at(i).retries);
            QVERIFY(port.value(QStringLiteral("seconds")).toDouble() >= 0);
            if (*expected.at(i).message)
                QCOMPARE(port.value(QStringLiteral("message")).toString(), QLatin1String(expected.at(i).message));
        }
        const QJsonObject busy = portNamed(report, d.sims.back()->device);
        QCOMPARE(busy.value(QStringLiteral("message")).toString(), d.sims.back()->device + ": not available.");
        QVERIFY(busy.value(QStringLiteral("cause")).toString().contains(QStringLiteral("in use by another program")));
        // Only the healthy display heard an end frame.
        QVERIFY(d.sims.front()->waitFor(QStringLiteral("image:")));
        for (std::size_t i = 1; i < d.sims.size(); ++i) {
            QVERIFY(d.sims.at(i)->finish());
            QVERIFY(!d.sims.at(i)->output().contains(QStringLiteral("image:")));
        }
    }

    void theParametersReachEveryDisplay()
    {
        Displays d({{}, {}, {}});
        const Run r = cli(QStringList{"params", "--language", "denmark ii"} + d.portArgs());
        QCOMPARE(r.exitCode, 0);
        for (const auto &sim : d.sims)
            QVERIFY2(sim->waitFor(QStringLiteral("language DENMARK II")), qPrintable(sim->output()));
    }

    // Ctrl-C stops every port; none reports success after it, all are released.
    void ctrlCStopsEveryPort()
    {
        Displays d({{"data#2=silent"}, {"data#2=silent"}});
        QProcess p;
        p.start(QStringLiteral(CUSTDISP_CLI), QStringList{"isp", "--json", "-b", "19200"} + d.portArgs()
                                                  << writeFile(m_dir.filePath(QStringLiteral("fw.bin")), randomImage(1000)));
        QVERIFY(p.waitForStarted());
        for (const auto &sim : d.sims)
            QVERIFY(sim->waitFor(QStringLiteral("data #2 "), 10000));
        QCOMPARE(p.state(), QProcess::Running);
        QVERIFY(p.processId() > 0);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 11);
        const QByteArray out = p.readAllStandardOutput();
        keepJsonDocument(p.arguments(), p.exitCode(), QString::fromUtf8(out));
        const QJsonDocument report = QJsonDocument::fromJson(out);
        for (const auto &sim : d.sims) {
            QCOMPARE(portNamed(report, sim->device).value(QStringLiteral("outcome")).toString(), QStringLiteral("cancelled"));
            SerialLink after;
            QVERIFY(!after.open(targetAt(sim->device, QStringLiteral("9600,N,8,1"))));
            after.close();
            QVERIFY(sim->finish());
            QVERIFY(!sim->output().contains(QStringLiteral("image:")));
        }
    }

    // Every line names a port once: "/dev/x: not available.", never
    // "/dev/x: /dev/x: not available.", in the board, the causes, the trace
    // and the summary's outcome.
    void aPortIsNamedOnceALine()
    {
        Sim sim;
        const QString gone = QStringLiteral("/dev/custdisp-nothing-here");
        const Run r = cli({"version", "--trace", "-p", sim.device, "-p", gone});
        QCOMPARE(r.exitCode, 12);
        for (const QString &line : r.err.split(QLatin1Char('\n'))) {
            QVERIFY2(line.count(sim.device) <= 1, qPrintable(line));
            QVERIFY2(line.count(gone) <= 1, qPrintable(line));
        }
        QVERIFY2(r.err.contains(QLatin1Char('\n') + gone + ": not available.\n"), qPrintable(r.err));
        QVERIFY2(r.err.contains("\ncause: " + gone + " does not exist"), qPrintable(r.err));
        QVERIFY2(r.err.contains(sim.device + ": [") && r.err.contains("] > 02 80 03 81"), qPrintable(r.err));
        const QString row = QRegularExpression::escape(gone) + " +" + QRegularExpression::escape(gone) + " +not available\\. ";
        QVERIFY2(r.out.contains(QRegularExpression(row)), qPrintable(r.out));
    }

    // One device twice, also under two names, is refused before anything starts.
    void oneDeviceTwice_data()
    {
        QTest::addColumn<bool>("byLink");
        QTest::newRow("the same name") << false;
        QTest::newRow("a link and its device") << true;
    }

    void oneDeviceTwice()
    {
        QFETCH(bool, byLink);
        Sim sim;
        const QString link = m_dir.filePath(QStringLiteral("display%1").arg(byLink));
        QVERIFY(QFile::link(sim.device, link));
        const Run r = cli({"version", "-p", sim.device, "-p", byLink ? link : sim.device});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("are one device (%1)").arg(sim.device)), qPrintable(r.err));
        QVERIFY(sim.finish());
        QCOMPARE(sim.output().trimmed(), QString());
    }

    // A saved "Com N" and a device path name one display too.
    void aNumberAndItsDevice()
    {
        Sim sim;
        QCOMPARE(cli({"ports", "--map", "3=" + sim.device}).exitCode, 0);
        const Run r = cli({"version", "-p", "3", "-p", sim.device});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("-p Com 3 and -p %1 are one device").arg(sim.device)), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestSeveralPorts)
#include "tst_severalports.moc"
