#include "link/linesettings.h"
#include "settings/portmap.h"
#include "link/seriallink.h"
#include "sim/simulateddisplay.h"
#include "simsupport.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

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
        // clang-format off
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("cause");
        QTest::newRow("missing") << "/dev/custdisp-no-such-port" << "9600,N,8,1" << int(OpenFailureCause::Missing);
        QTest::newRow("directory") << "DIR" << "9600,N,8,1" << int(OpenFailureCause::NotASerialPort);
        QTest::newRow("regular file") << "FILE" << "9600,N,8,1" << -1;
        QTest::newRow("/dev/null") << "/dev/null" << "9600,N,8,1" << int(OpenFailureCause::NotASerialPort);
        QTest::newRow("malformed settings") << "SIM" << "9600;N;8;1" << int(OpenFailureCause::BadSettings);
        // The system refuses it unread (ENAMETOOLONG): nobody's permission is at fault.
        QTest::newRow("a name too long") << "/dev/" + QString(300, QLatin1Char('x')) << "9600,N,8,1"
                                         << int(OpenFailureCause::Other);
        // clang-format on
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
        const std::optional<OpenFailure> failure = link.open(targetAt(device, settings));
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
        QVERIFY(!first.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        const std::optional<OpenFailure> failure = second.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        QVERIFY(failure);
        QCOMPARE(failure->cause, OpenFailureCause::Busy);
        first.close();
        QVERIFY(!second.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
    }

    void closeDeliversEveryQueuedByte()
    {
        // At 600 baud 1000 bytes take over a second on a real line; nothing
        // queued may be thrown away by the close.
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("600,N,8,1"))));
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
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("2400,N,8,1"))));
        QVERIFY(link.write(hex("02800381")));
        QVERIFY(sim.waitForBytes(4));
        QCOMPARE(sim.lineSpeed(), 2400);
        link.close();
    }

    void lineSettingsReachTheDisplay_data()
    {
        QTest::addColumn<int>("baud");
        for (int baud : {600, 1200, 2400, 4800, 9600, 19200})
            QTest::addRow("%d", baud) << baud;
    }

    void lineSettingsReachTheDisplay()
    {
        // What the display reads from its side of the line, for every message:
        // the speed chosen, 1 stop bit, no RTS/CTS, no XON/XOFF (and, as far
        // as a pty can tell, 8 data bits and no parity: see below).
        QFETCH(int, baud);
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("%1,N,8,1").arg(baud))));
        QVERIFY(link.write(hex("020131300A00030B")));
        QVERIFY(sim.waitForMessages(1));
        QVERIFY(link.write(hex("02800381")));
        QVERIFY(sim.waitForMessages(2));
        // Both were read while the line was open: as read, not carried over.
        const QString wrong = wrongLineSettings(sim.log(), baud, true);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QCOMPARE(sim.lineSpeed(), baud);
        link.close();
    }

    void aPtyCannotTakeOtherDataBitsOrParity_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::newRow("7 data bits") << "9600,N,7,1";
        QTest::newRow("even parity") << "9600,E,8,1";
        QTest::newRow("odd parity, 7 bits") << "19200,O,7,1";
    }

    void aPtyCannotTakeOtherDataBitsOrParity()
    {
        // The display cannot read data bits or parity from its side: a pty
        // forces 8 and none. What keeps a link that set them wrong from
        // passing here is that the port reads its settings back and refuses
        // to open. Should that ever change, this fails first.
        SimulatedDisplay sim;
        SerialLink link;
        QFETCH(QString, settings);
        const std::optional<OpenFailure> failure = link.open(targetAt(sim.devicePath(), settings));
        QVERIFY(failure);
        QCOMPARE(failure->cause, OpenFailureCause::BadSettings);
    }

    void closeDeliversBytesTheLineCouldNotTakeYet()
    {
        // On a pty a message fits the kernel's buffer at once, so a close that
        // forgot to drain would lose nothing. With the buffer full and the
        // display not reading, the query waits in QSerialPort's own buffer,
        // which its close() throws away unless the link drains it first.
        // The close then waits, and nothing else does meanwhile.
        SimulatedDisplay sim;
        sim.pauseReading(400ms);
        SerialLink link;
        LineFiller filler(sim.devicePath(), link);
        QVERIFY(filler.isValid());
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QSignalSpy lost(&link, &SerialLink::lineLost);
        QVERIFY(link.write(hex("02800381")));
        QVERIFY(link.isOpen());  // a full line is not a lost one
        QVERIFY(filler.filled() > 0);
        // The display has read nothing yet: the line was full when the link
        // pushed the query, so the query is still in the port's own buffer.
        QCOMPARE(sim.counters().bytesReceived, 0);
        QSignalSpy closed(&link, &SerialLink::closed);
        link.closeWhenDrained();
        QVERIFY(link.isOpen());
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 5000);
        QVERIFY(!link.isOpen());
        QVERIFY2(sim.waitForBytes(filler.filled() + 4, 5000), "the query was lost in the close");
        QTRY_COMPARE(sim.counters().of(MessageKind::VersionQuery), 1);
        QCOMPARE(sim.counters().garbageBytes, filler.filled());
        QCOMPARE(sim.received().right(4), hex("02800381"));
        QVERIFY(sim.log().constLast().note.isEmpty());
        QCOMPARE(lost.count(), 0);
    }

    void aHungUpLineIsReportedOnceAndClosed()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QSignalSpy lost(&link, &SerialLink::lineLost);
        sim.hangUp();
        QVERIFY(lost.wait(2000));
        QVERIFY(!link.isOpen());
        QCoreApplication::processEvents();  // what was still queued for the closed port
        QCOMPARE(lost.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
