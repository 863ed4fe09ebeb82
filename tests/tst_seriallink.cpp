#include "link/linesettings.h"
#include "settings/portmap.h"
#include "link/seriallink.h"
#include "sim/simulateddisplay.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestSerialLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::newRow("9600") << "9600,N,8,1" << true << 9600;
        QTest::newRow("600") << "600,N,8,1" << true << 600;
        QTest::newRow("spaces, lower case") << " 19200 , n , 8 , 1 " << true << 19200;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("three fields") << "9600,N,8" << false << 0;
        QTest::newRow("five fields") << "9600,N,8,1,1" << false << 0;
        QTest::newRow("speed not a number") << "fast,N,8,1" << false << 0;
        QTest::newRow("speed zero") << "0,N,8,1" << false << 0;
        QTest::newRow("speed negative") << "-9600,N,8,1" << false << 0;
        QTest::newRow("parity X") << "9600,X,8,1" << false << 0;
        QTest::newRow("data bits 9") << "9600,N,9,1" << false << 0;
        QTest::newRow("stop bits 3") << "9600,N,8,3" << false << 0;
    }

    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, baud);
        const std::optional<LineSettings> s = LineSettings::parse(text);
        QCOMPARE(s.has_value(), valid);
        if (s) {
            QCOMPARE(s->baud, baud);
            QCOMPARE(s->parity, QSerialPort::NoParity);
            QCOMPARE(s->dataBits, QSerialPort::Data8);
            QCOMPARE(s->stopBits, QSerialPort::OneStop);
        }
    }

    void portMap_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("usb adapter") << "2=/dev/ttyUSB0" << 2 << "/dev/ttyUSB0";
        QTest::newRow("pty") << "4=/dev/pts/7" << 4 << "/dev/pts/7";
        QTest::newRow("no equals") << "1" << 0 << "";
        QTest::newRow("port 0") << "0=/dev/ttyS0" << 0 << "";
        QTest::newRow("port 9") << "9=/dev/null" << 0 << "";
        QTest::newRow("not a number") << "x=/dev/ttyS0" << 0 << "";
        QTest::newRow("no device") << "3=" << 0 << "";
    }

    void portMap()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        QFETCH(QString, device);
        QString error;
        const std::optional<PortMap::Override> o = PortMap::parseOverride(text, &error);
        QCOMPARE(o.has_value(), port != 0);
        if (!o) {
            QVERIFY(!error.isEmpty());
            return;
        }
        PortMap map;
        QVERIFY(map.setOverride(o->port, o->device));
        QCOMPARE(map.deviceFor(port), device);
        // The other ports keep the platform's names.
        const int other = port == 1 ? 2 : 1;
        QCOMPARE(map.deviceFor(other), QStringLiteral("/dev/ttyS%1").arg(other - 1));
    }

    void openFailuresHaveOneOutcomeWithACause_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("cause");
        QTest::newRow("missing") << "/dev/custdisp-no-such-port" << "9600,N,8,1" << int(OpenFailureCause::Missing);
        QTest::newRow("directory") << "DIR" << "9600,N,8,1" << int(OpenFailureCause::NotASerialPort);
        QTest::newRow("regular file") << "FILE" << "9600,N,8,1" << -1;
        QTest::newRow("/dev/null") << "/dev/null" << "9600,N,8,1" << int(OpenFailureCause::NotASerialPort);
        QTest::newRow("malformed settings") << "SIM" << "9600;N;8;1" << int(OpenFailureCause::BadSettings);
    }

    void openFailuresHaveOneOutcomeWithACause()
    {
        QFETCH(QString, device);
        QFETCH(QString, settings);
        QFETCH(int, cause);
        QTemporaryDir dir;
        SimulatedDisplay sim;
        if (device == QLatin1String("DIR"))
            device = dir.path();
        if (device == QLatin1String("FILE")) {
            device = dir.filePath(QStringLiteral("firmware.bin"));
            QFile f(device);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a port");
        }
        if (device == QLatin1String("SIM"))
            device = sim.devicePath();

        SerialLink link;
        const std::optional<OpenFailure> failure = link.open(device, settings);
        QVERIFY(failure);
        if (cause >= 0)
            QCOMPARE(int(failure->cause), cause);
        QVERIFY(failure->describe().startsWith(QStringLiteral("cannot open ") + device));
        QVERIFY(!link.isOpen());
        QVERIFY(!link.write("x"));
        QCOMPARE(sim.received(), QByteArray());
    }

    void aPortHeldByAnotherLinkIsBusy()
    {
        SimulatedDisplay sim;
        SerialLink first;
        SerialLink second;
        QVERIFY(!first.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        const std::optional<OpenFailure> failure = second.open(sim.devicePath(), QStringLiteral("9600,N,8,1"));
        QVERIFY(failure);
        QCOMPARE(failure->cause, OpenFailureCause::Busy);
        first.close();
        QVERIFY(!second.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
    }

    void closeDeliversEveryQueuedByte()
    {
        // At 600 baud 1000 bytes take over a second on a real line; nothing
        // queued may be thrown away by the close.
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("600,N,8,1")));
        QByteArray message(1000, 'A');
        QVERIFY(link.write(message));
        link.close();
        QVERIFY(!link.isOpen());
        QVERIFY(sim.waitForBytes(message.size()));
        QCOMPARE(sim.received(), message);
    }

    void reopeningClosesFirstAndAppliesNewSettings()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("2400,N,8,1")));
        QVERIFY(link.write(hex("02800381")));
        QVERIFY(sim.waitForBytes(4));
        QCOMPARE(sim.lineSpeed(), 2400);
        link.close();
    }

    void aHungUpLineIsReportedOnceAndClosed()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        QSignalSpy lost(&link, &SerialLink::lineLost);
        sim.hangUp();
        QVERIFY(lost.wait(2000));
        QVERIFY(!link.isOpen());
        QTest::qWait(50);
        QCOMPARE(lost.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
