#include "link/seriallink.h"
#include "sim/displayprotocol.h"
#include "sim/faultplan.h"
#include "sim/simulateddisplay.h"
#include "testsupport.h"

#include <QTest>

// A data frame built here by hand, apart from the tool's builder.
static QByteArray handFrame(int start, char fill, int endOverride = -1)
{
    QByteArray f(192, '\0');
    const int end = endOverride >= 0 ? endOverride : start + 183;
    f[0] = 1;
    f[1] = char(start >> 8);
    f[2] = char(start);
    f[3] = char(end);
    f[4] = char(end >> 8);
    for (int i = 5; i < 189; ++i)
        f[i] = fill;
    quint8 x = 0;
    for (int i = 1; i < 189; ++i)
        x ^= quint8(f[i]);
    f[189] = char(x);
    f[190] = char(0x55);
    f[191] = char(0xAA);
    return f;
}

class TestSimulatedDisplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parser_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("chunk");  // bytes fed at a time
        QTest::addColumn<QStringList>("messages");  // "kind" or "kind!" when a problem was found

        QTest::newRow("packet whole") << hex("020131300A00030B") << 8 << QStringList{"parameters"};
        QTest::newRow("packet byte by byte") << hex("020131300A00030B") << 1 << QStringList{"parameters"};
        QTest::newRow("packet bad check byte") << hex("020131300A00030C") << 8 << QStringList{"parameters!"};
        QTest::newRow("packet no end byte") << hex("020131300A00040C") << 8 << QStringList{"parameters!"};
        QTest::newRow("query then packet") << hex("02800381020131300A00030B") << 3
                                           << QStringList{"version query", "parameters"};
        QTest::newRow("garbage before a query") << hex("FF0002800381") << 6
                                                << QStringList{"garbage!", "garbage!", "version query"};
        QTest::newRow("access, erase, data, end")
            << hex("0401848417") + QByteArray(192, '\0') + handFrame(0, 'x') + hex("05") + QByteArray(191, '\0')
            << 50 << QStringList{"access", "erase", "data", "end"};
        QTest::newRow("bad checksum") << hex("0401848417") + [] { QByteArray f = handFrame(0, 1); f[189] = char(f[189] ^ 1); return f; }()
                                      << 192 << QStringList{"access", "data!"};
        QTest::newRow("bad end address") << hex("0401848417") + handFrame(184, 0, 184 + 184) << 192
                                         << QStringList{"access", "data!"};
        QTest::newRow("bad trailer") << hex("0401848417") + [] { QByteArray f = handFrame(0, 1); f[191] = 0; return f; }()
                                     << 192 << QStringList{"access", "data!"};
        QTest::newRow("end frame with a stray byte") << hex("0401848417") + hex("05") + QByteArray(190, '\0') + hex("01")
                                                     << 64 << QStringList{"access", "end!"};
        QTest::newRow("after the end frame packets parse again")
            << hex("0401848417") + hex("05") + QByteArray(191, '\0') + hex("02800381") << 192
            << QStringList{"access", "end", "version query"};
    }

    void parser()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, chunk);
        QFETCH(QStringList, messages);
        DisplayProtocol p;
        QStringList got;
        for (qsizetype i = 0; i < stream.size(); i += chunk) {
            for (const ParsedMessage &m : p.feed(QByteArrayView(stream).sliced(i, qMin<qsizetype>(chunk, stream.size() - i))))
                got.append(messageKindName(m.kind) + (m.ok() ? QString() : QStringLiteral("!")));
        }
        QCOMPARE(got, messages);
        QCOMPARE(p.pending(), 0);
    }

    void dataFrameFieldsAreDecoded()
    {
        DisplayProtocol p;
        p.feed(hex("0401848417"));
        const QList<ParsedMessage> m = p.feed(handFrame(65320, 'z'));
        QCOMPARE(m.size(), 1);
        QCOMPARE(m[0].start, 65320);
        QCOMPARE(m[0].end, 65503);
        QCOMPARE(m[0].data, QByteArray(184, 'z'));
        QVERIFY(m[0].ok());
    }

    void faultRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("frame");
        QTest::addColumn<int>("attempt");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("delay");
        QTest::newRow("access wrong version") << "access=0x1B" << true << int(MessageKind::AccessCommand) << -1 << -1
                                              << int(FaultAction::Type::Answer) << 0x1B << 0;
        QTest::newRow("silent data frame 3 first attempt") << "data#3@1=silent" << true << int(MessageKind::DataFrame)
                                                           << 3 << 1 << int(FaultAction::Type::Silence) << 0 << 0;
        QTest::newRow("late erase answer") << "ERASE=0xaa+700ms" << true << int(MessageKind::EraseFrame) << -1 << -1
                                           << int(FaultAction::Type::Answer) << 0xAA << 700;
        QTest::newRow("hang up at frame 2") << "data#2=hangup" << true << int(MessageKind::DataFrame) << 2 << -1
                                            << int(FaultAction::Type::HangUp) << 0 << 0;
        QTest::newRow("unknown kind") << "flash=silent" << false << 0 << 0 << 0 << 0 << 0 << 0;
        QTest::newRow("byte too long") << "access=0x123" << false << 0 << 0 << 0 << 0 << 0 << 0;
        QTest::newRow("no action") << "access=" << false << 0 << 0 << 0 << 0 << 0 << 0;
    }

    void faultRules()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QString error;
        const std::optional<FaultRule> rule = FaultPlan::parseRule(text, &error);
        QCOMPARE(rule.has_value(), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (!rule)
            return;
        QFETCH(int, kind);
        QFETCH(int, frame);
        QFETCH(int, attempt);
        QFETCH(int, type);
        QFETCH(int, byte);
        QFETCH(int, delay);
        QCOMPARE(int(rule->kind), kind);
        QCOMPARE(rule->frame, frame);
        QCOMPARE(rule->attempt, attempt);
        QCOMPARE(int(rule->action.type), type);
        QCOMPARE(int(rule->action.byte), byte);
        QCOMPARE(int(rule->action.delay.count()), delay);
    }

    void firstMatchingRuleWins()
    {
        FaultPlan plan;
        plan.rules = {{MessageKind::DataFrame, 1, 2, FaultAction::answer(0xAA)},
                      {MessageKind::DataFrame, 1, -1, FaultAction::silence()}};
        QCOMPARE(plan.actionFor(MessageKind::DataFrame, 1, 2), std::optional(FaultAction::answer(0xAA)));
        QCOMPARE(plan.actionFor(MessageKind::DataFrame, 1, 3), std::optional(FaultAction::silence()));
        QCOMPARE(plan.actionFor(MessageKind::DataFrame, 0, 1), std::nullopt);
    }

    void answersAQueryOnlyWhileTheLineIsOpen()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        QVERIFY(link.write(hex("02800381")));
        QTRY_COMPARE_WITH_TIMEOUT(link.bytesAvailable(), qint64(SimulatedDisplay::kVersionText.size()), 2000);
        QCOMPARE(link.takeInput(), SimulatedDisplay::kVersionText);
        QCOMPARE(sim.received(), hex("02800381"));  // nothing echoed back
    }

    void keepsListeningAcrossVisits()
    {
        // The tool opens and closes the line for every command; the display
        // must hear each visit without spinning on the hang-ups between them.
        SimulatedDisplay sim;
        SerialLink link;
        for (int i = 0; i < 5; ++i) {
            QVERIFY(!link.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
            QVERIFY(link.write(hex("020131300A00030B")));
            link.close();
            QVERIFY(sim.waitForMessages(i + 1));
            if (i % 2)
                QTest::qWait(40);  // let it notice the hang-up before the next visit
        }
        QCOMPARE(sim.received(), hex("020131300A00030B").repeated(5));
    }
};

QTEST_GUILESS_MAIN(TestSimulatedDisplay)
#include "tst_simulateddisplay.moc"
