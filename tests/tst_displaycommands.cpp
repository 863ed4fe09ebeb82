#include "settings/settings.h"
#include "commands/displaycommands.h"
#include "settings/portmap.h"
#include "sim/simulateddisplay.h"
#include "simsupport.h"
#include "testsupport.h"

#include <QTest>

using namespace std::chrono_literals;

// A display behind Com 1 and nothing behind Com 2.
struct Bench {
    SimulatedDisplay sim;
    PortMap ports;
    SerialLink link;
    RecordingOperator op{&link};
    Settings settings;

    Bench()
    {
        [[maybe_unused]] const bool a = ports.setOverride(1, sim.devicePath());
        [[maybe_unused]] const bool b = ports.setOverride(2, QStringLiteral("/dev/custdisp-nothing-here"));
    }

    // As the window does: the packet is completed, then sent where the settings say.
    std::optional<OpenFailure> sendParams()
    {
        settings.ParamPacket = DisplayPacket::parameterPacket(settings.ParamPacket);
        return sendParameterPacket(ports.target(settings.CommPortNumber, settings.PortSettings), settings.ParamPacket, link, op);
    }
    std::optional<OpenFailure> sendVersion()
    {
        return sendVersionQuery(ports.target(settings.CommPortNumber, settings.PortSettings), link, op);
    }
};

class TestDisplayCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void versionQueryIsFixed()
    {
        QCOMPARE(DisplayPacket::bytes(DisplayPacket::versionQuery()), hex("02800381"));
    }

    void packetOnTheLine_data()
    {
        QTest::addColumn<QStringList>("choices");  // "group=caption"
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("no change") << QStringList{} << hex("020131300A00030B");
        QTest::newRow("19200 RESERVED JAPAN_CODE CD5220")
            << QStringList{"optBaud1=19200", "OptLg=RESERVED", "OptCode=JAPAN_CODE", "OptCMD=CD5220"}
            << hex("0201303D0106030A");
        QTest::newRow("DENMARK II") << QStringList{"OptLg=DENMARK II"} << hex("0201313A0A000301");
        QTest::newRow("600 baud display, EURO_CODE, UTC/S")
            << QStringList{"optBaud1=600", "OptCode=EURO_CODE", "OptCMD=UTC/S"} << hex("0201353008050308");
        QTest::newRow("line speed leaves the packet alone")
            << QStringList{"OptBaud=19200"} << hex("020131300A00030B");
    }

    void packetOnTheLine()
    {
        QFETCH(QStringList, choices);
        QFETCH(QByteArray, packet);
        Bench b;
        for (const QString &choice : choices) {
            const QString group = choice.section(QLatin1Char('='), 0, 0);
            const QString caption = choice.section(QLatin1Char('='), 1);
            for (const OptionGroup *g : {&OptionGroups::baudRate(), &OptionGroups::displayBaud(), &OptionGroups::language(),
                                         &OptionGroups::codeTable(), &OptionGroups::emulation()}) {
                if (QLatin1String(g->name) == group)
                    (b.settings.*(g->click))(*g->indexOf(caption));
            }
        }
        QVERIFY(!b.sendParams());
        QVERIFY(b.sim.waitForMessages(1));
        QCOMPARE(b.sim.received(), packet);
        QVERIFY(b.op.messages.isEmpty());
        QVERIFY(b.link.isOpen());  // the packet leaves the port open
        // The display decoded it and found the check byte right.
        const SimLogEntry entry = b.sim.log().constFirst();
        QCOMPARE(entry.kind, MessageKind::ParameterPacket);
        QCOMPARE(entry.note, QString());
        const DisplayParameters expected{quint8(packet[2]), quint8(packet[3]), quint8(packet[4]), quint8(packet[5])};
        QCOMPARE(b.sim.parameters(), std::optional(expected));
        // Check byte is always the XOR of bytes 2..5.
        QCOMPARE(quint8(packet[7]), quint8(packet[2] ^ packet[3] ^ packet[4] ^ packet[5]));
    }

    void twoSendsPutTheSameBytesTwice()
    {
        Bench b;
        QVERIFY(!b.sendParams());
        QVERIFY(b.sim.waitForMessages(1));
        QVERIFY(!b.sendParams());
        QVERIFY(b.sim.waitForMessages(2));
        QCOMPARE(b.sim.received(), hex("020131300A00030B020131300A00030B"));
        QCOMPARE(b.sim.log().size(), 2);
    }

    void queryClosesThePort_data()
    {
        QTest::addColumn<bool>("packetFirst");
        QTest::newRow("alone") << false;
        QTest::newRow("after a packet left the port open") << true;
    }

    void queryClosesThePort()
    {
        QFETCH(bool, packetFirst);
        Bench b;
        b.settings.clickOptLg(12);  // whatever the groups hold
        QByteArray expected;
        if (packetFirst) {
            QVERIFY(!b.sendParams());
            QVERIFY(b.link.isOpen());
            expected = hex("0201313C0A000307");
        }
        QVERIFY(!b.sendVersion());
        QTRY_VERIFY(!b.link.isOpen());
        expected += hex("02800381");
        QVERIFY(b.sim.waitForMessages(packetFirst ? 2 : 1));
        QCOMPARE(b.sim.received(), expected);
        QCOMPARE(b.sim.log().constLast().kind, MessageKind::VersionQuery);
    }

    void unavailablePortSendsNothing_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<bool>("holdCom1");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing Com 2") << 2 << "9600,N,8,1" << false << "custdisp|COM 2: not available.";
        QTest::newRow("Com 1 held by another link") << 1 << "9600,N,8,1" << true << "custdisp|COM 1: not available.";
        QTest::newRow("malformed settings") << 1 << "9600-N-8-1" << false << "custdisp|COM 1: not available.";
        QTest::newRow("port 7") << 7 << "9600,N,8,1" << false << "custdisp|COM 7: not available.";
        QTest::newRow("port 0") << 0 << "9600,N,8,1" << false << "custdisp|COM 0: not available.";
    }

    void unavailablePortSendsNothing()
    {
        QFETCH(int, port);
        QFETCH(QString, settings);
        QFETCH(bool, holdCom1);
        QFETCH(QString, message);
        Bench b;
        SerialLink holder;
        if (holdCom1)
            QVERIFY(!holder.open(targetAt(b.sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        b.settings.CommPortNumber = qint16(port);
        b.settings.PortSettings = settings;

        QVERIFY(b.sendParams());
        QVERIFY(b.sendVersion());
        QCOMPARE(b.op.messages, QStringList({message, message}));
        QVERIFY(!b.link.isOpen());
        // The packet was still completed, as the operator would see on a retry.
        QCOMPARE(b.settings.ParamPacket[7], quint8(0x0B));
        b.sim.hearOutstanding();
        QCOMPARE(b.sim.received(), QByteArray());
    }

    void everyMessageComesWithThePlainLineSettings_data()
    {
        QTest::addColumn<int>("baud");
        for (int baud : {600, 1200, 2400, 4800, 9600, 19200})
            QTest::addRow("%d", baud) << baud;
    }

    void everyMessageComesWithThePlainLineSettings()
    {
        // The speed picked in the window's line-speed group, 1 stop bit, no
        // RTS/CTS, no XON/XOFF, as the display reads them for every message
        // (a pty cannot show data bits and parity: it forces 8 and none).
        QFETCH(int, baud);
        Bench b;
        b.settings.clickOptBaud(*OptionGroups::baudRate().indexOf(QString::number(baud)));
        QVERIFY(!b.sendParams());  // leaves the port open
        QVERIFY(b.sim.waitForMessages(1));
        QVERIFY(b.sim.log().constFirst().lineAsRead);
        // The query closes at once: the display often reads it only after the
        // port restored the pty's own settings, and then reports the packet's.
        QVERIFY(!b.sendVersion());
        QVERIFY(b.sim.waitForMessages(2));
        const QString wrong = wrongLineSettings(b.sim.log(), baud);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QVERIFY(b.op.messages.isEmpty());
    }

    void versionQueryReachesADisplayThatReadsLate()
    {
        // The query is the last message before the port closes. With the
        // line full and the display not reading for a while, it waits in the
        // port's own buffer; the close must drain it, not throw it away.
        Bench b;
        b.sim.pauseReading(400ms);
        LineFiller filler(b.sim.devicePath(), b.link);
        QVERIFY(filler.isValid());
        qint64 heardWhenQueued = -1;
        QObject scope;
        QObject::connect(&b.link, &SerialLink::traffic, &scope, [&](bool outgoing, const QByteArray &) {
            if (outgoing)
                heardWhenQueued = b.sim.counters().bytesReceived;
        });
        QVERIFY(!b.sendVersion());
        QVERIFY(filler.filled() > 0);
        QCOMPARE(heardWhenQueued, 0);  // the line was full when the query was pushed
        // The link delivers it from the event loop, as it goes on.
        QTRY_VERIFY_WITH_TIMEOUT(b.sim.counters().bytesReceived >= filler.filled() + 4, 5000);
        QTRY_VERIFY(!b.link.isOpen());
        QTRY_COMPARE(b.sim.counters().of(MessageKind::VersionQuery), 1);
        QCOMPARE(b.sim.received().right(4), hex("02800381"));
        QCOMPARE(b.sim.counters().garbageBytes, filler.filled());
        QVERIFY(b.sim.log().constLast().note.isEmpty());
        QVERIFY(b.op.messages.isEmpty());
    }

    void aFailedOpenClosesAPortLeftOpen()
    {
        Bench b;
        QVERIFY(!b.sendParams());
        QVERIFY(b.link.isOpen());
        b.settings.clickOptPort(1);
        QVERIFY(b.sendVersion());
        QVERIFY(!b.link.isOpen());
        // Com 1 is free again for a later command.
        b.settings.clickOptPort(0);
        QVERIFY(!b.sendVersion());
    }
};

QTEST_GUILESS_MAIN(TestDisplayCommands)
#include "tst_displaycommands.moc"
