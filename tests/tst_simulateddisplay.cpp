#include "link/seriallink.h"
#include "sim/displayprotocol.h"
#include "sim/faultplan.h"
#include "sim/simulateddisplay.h"
#include "simsupport.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace std::chrono_literals;

static QByteArray handFrame(int start, char fill, int endOverride = -1)
{
    return Hand::dataFrame(start, fill, endOverride);
}

class TestSimulatedDisplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parser_data()
    {
        // clang-format off
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
                                                << QStringList{"garbage!", "version query"};
        QTest::newRow("a start byte that starts nothing") << hex("02FF0002800381") << 7
                                                          << QStringList{"garbage!", "version query"};
        QTest::newRow("garbage between packets")
            << hex("020131300A00030B") + QByteArray(500, char(0xEE)) + hex("020131300A00030B") << 1000
            << QStringList{"parameters", "garbage!", "parameters"};
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
        // clang-format on
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

    void aRunOfGarbageIsOneMessage()
    {
        DisplayProtocol p;
        const QList<ParsedMessage> m = p.feed(QByteArray(100000, char(0xFF)) + hex("02800381"));
        QCOMPARE(m.size(), 2);
        QCOMPARE(m[0].kind, MessageKind::Garbage);
        QCOMPARE(m[0].size, 100000);
        QCOMPARE(m[0].bytes, QByteArray(DisplayProtocol::kGarbageKept, char(0xFF)));  // only the first few kept
        QVERIFY(!m[0].ok());
        QCOMPARE(m[1].kind, MessageKind::VersionQuery);
        QCOMPARE(m[1].size, 4);
        QCOMPARE(p.pending(), 0);  // nothing it could not parse stays behind
    }

    void anUnfinishedMessageIsReportedWhenTheLineCloses()
    {
        DisplayProtocol p;
        QVERIFY(p.feed(hex("020131")).isEmpty());
        QCOMPARE(p.pending(), 3);
        const std::optional<ParsedMessage> rest = p.lineClosed();
        QVERIFY(rest);
        QCOMPARE(rest->kind, MessageKind::Garbage);
        QCOMPARE(rest->bytes, hex("020131"));
        QCOMPARE(p.pending(), 0);
        QCOMPARE(p.lineClosed(), std::nullopt);
        // In firmware mode too, and the parser starts afresh.
        p.feed(hex("0401848417") + QByteArray(100, '\0'));
        const std::optional<ParsedMessage> frame = p.lineClosed();
        QVERIFY(frame);
        QCOMPARE(frame->size, 100);
        QVERIFY2(frame->problem.contains(QLatin1String("100 of a 192-byte frame")), qPrintable(frame->problem));
        QCOMPARE(p.feed(hex("02800381")).constFirst().kind, MessageKind::VersionQuery);
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
        QTest::addColumn<bool>("hangUpAfter");
        QTest::addColumn<QString>("why");  // part of the refusal
        QTest::newRow("access wrong version") << "access=0x1B" << true << int(MessageKind::AccessCommand) << -1 << -1
                                              << int(FaultAction::Type::Answer) << 0x1B << 0 << false << "";
        QTest::newRow("silent data frame 3 first attempt") << "data#3@1=silent" << true << int(MessageKind::DataFrame)
                                                           << 3 << 1 << int(FaultAction::Type::Silence) << 0 << 0 << false << "";
        QTest::newRow("late erase answer") << "ERASE=0xaa+700ms" << true << int(MessageKind::EraseFrame) << -1 << -1
                                           << int(FaultAction::Type::Answer) << 0xAA << 700 << false << "";
        QTest::newRow("hang up at frame 2") << "data#2=hangup" << true << int(MessageKind::DataFrame) << 2 << -1
                                            << int(FaultAction::Type::HangUp) << 0 << 0 << false << "";
        QTest::newRow("answer, then hang up") << "data#2=0xAA+hangup" << true << int(MessageKind::DataFrame) << 2 << -1
                                              << int(FaultAction::Type::Answer) << 0xAA << 0 << true << "";
        QTest::newRow("late answer, then hang up") << "erase@2=0x15+250ms+HANGUP" << true << int(MessageKind::EraseFrame)
                                                   << -1 << 2 << int(FaultAction::Type::Answer) << 0x15 << 250 << true << "";
        QTest::newRow("end hangs up") << "end=hangup" << true << int(MessageKind::EndFrame) << -1 << -1
                                      << int(FaultAction::Type::HangUp) << 0 << 0 << false << "";
        QTest::newRow("end answers") << "end@1=0x5A" << true << int(MessageKind::EndFrame) << -1 << 1
                                     << int(FaultAction::Type::Answer) << 0x5A << 0 << false << "";
        QTest::newRow("the last frame there can be") << "data#355=silent" << true << int(MessageKind::DataFrame) << 355
                                                     << -1 << int(FaultAction::Type::Silence) << 0 << 0 << false << "";
        QTest::newRow("a delay of one minute") << "access=0x07+60000ms" << true << int(MessageKind::AccessCommand) << -1
                                               << -1 << int(FaultAction::Type::Answer) << 0x07 << 60000 << false << "";
        QTest::newRow("unknown kind") << "flash=silent" << false << 0 << 0 << 0 << 0 << 0 << 0 << false << "not a fault rule";
        QTest::newRow("byte too long") << "access=0x123" << false << 0 << 0 << 0 << 0 << 0 << 0 << false << "not a fault rule";
        QTest::newRow("no action") << "access=" << false << 0 << 0 << 0 << 0 << 0 << 0 << false << "not a fault rule";
        QTest::newRow("frame past the last") << "data#356=silent" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                             << "the last is 355";
        QTest::newRow("frame number overflows") << "data#99999999999=silent" << false << 0 << 0 << 0 << 0 << 0 << 0
                                                << false << "data frame 99999999999 would never match";
        QTest::newRow("frame number overflows 64 bits") << "data#99999999999999999999999=0x15" << false << 0 << 0 << 0
                                                        << 0 << 0 << 0 << false << "would never match";
        QTest::newRow("attempt 0") << "data#1@0=0x15" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                   << "attempts count from 1";
        QTest::newRow("attempt overflows") << "access@99999999999=silent" << false << 0 << 0 << 0 << 0 << 0 << 0
                                           << false << "not heard that often in a row";
        QTest::newRow("attempt just past the largest") << "data@2147483648=silent" << false << 0 << 0 << 0 << 0 << 0 << 0
                                                       << false << "attempt 2147483648 would never match: a message is "
                                                                   "not heard that often in a row (at most 2147483647)";
        QTest::newRow("delay over a minute") << "data=0xAA+60001ms" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                             << "over the limit";
        QTest::newRow("delay overflows") << "data=0xAA+99999999999999999999ms" << false << 0 << 0 << 0 << 0 << 0 << 0
                                         << false << "over the limit";
        QTest::newRow("numbered access") << "access#0=0x07" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                         << "only data frames have numbers";
        QTest::newRow("numbered erase") << "erase#1=silent" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                        << "only data frames have numbers";
        QTest::newRow("numbered end") << "end#3=hangup" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                      << "only data frames have numbers";
        QTest::newRow("silent, then hang up") << "data=silent+hangup" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                              << "not a fault rule";
        QTest::newRow("hang up twice") << "data=0xAA+hangup+hangup" << false << 0 << 0 << 0 << 0 << 0 << 0 << false
                                       << "not a fault rule";
        QTest::newRow("more said, then hang up") << "data=0xAA+then:0xAA@10ms+hangup" << false << 0 << 0 << 0 << 0 << 0 << 0
                                                 << false << "+then would never be said";
        QTest::newRow("more said after over a minute") << "data=0xAA+then:0x55@60001ms" << false << 0 << 0 << 0 << 0 << 0
                                                       << 0 << false << "over the limit";
        QTest::newRow("hang up before the delay") << "data=0xAA+hangup+10ms" << false << 0 << 0 << 0 << 0 << 0 << 0
                                                  << false << "not a fault rule";
    }

    void faultRules()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QString error;
        const std::optional<FaultRule> rule = FaultPlan::parseRule(text, &error);
        QFETCH(QString, why);
        QCOMPARE(rule.has_value(), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (!rule) {
            QVERIFY2(error.contains(why), qPrintable(error));
            return;
        }
        QFETCH(int, kind);
        QFETCH(int, frame);
        QFETCH(int, attempt);
        QFETCH(int, type);
        QFETCH(int, byte);
        QFETCH(int, delay);
        QFETCH(bool, hangUpAfter);
        QCOMPARE(int(rule->kind), kind);
        QCOMPARE(rule->frame, frame);
        QCOMPARE(rule->attempt, attempt);
        QCOMPARE(int(rule->action.type), type);
        QCOMPARE(int(rule->action.byte), byte);
        QCOMPARE(int(rule->action.delay.count()), delay);
        QCOMPARE(rule->action.hangUpAfter, hangUpAfter);
    }

    // formatRule writes what parseRule reads: the same rule back, in one spelling.
    void faultRuleRoundTrip_data()
    {
        // clang-format off
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("formatted");
        QTest::newRow("silent, numbered, first attempt") << "data#3@1=silent" << "data#3@1=silent";
        QTest::newRow("late answer, then hang up") << "ERASE@2=0x5+250ms+HANGUP" << "erase@2=0x05+250ms+hangup";
        QTest::newRow("more bytes, said later") << "data#007=0xaa,0x55+10ms+then:0x1,0xFF@60000ms"
                                                << "data#7=0xAA,0x55+10ms+then:0x01,0xFF@60000ms";
        QTest::newRow("no delay is no delay") << "end=0x5A+0ms+then:0x00@0ms" << "end=0x5A+then:0x00@0ms";
        // Case-insensitive matching lets a long s stand for s; it is still the same word.
        QTest::newRow("long s in the kind") << QString::fromUtf8("era\xC5\xBF" "e=hangup") << "erase=hangup";
        QTest::newRow("long s in the action") << QString::fromUtf8("data=\xC5\xBF" "ilent") << "data=silent";
        // clang-format on
    }

    void faultRuleRoundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QString, formatted);
        QString error;
        const std::optional<FaultRule> rule = FaultPlan::parseRule(text, &error);
        QVERIFY2(rule, qPrintable(error));
        QCOMPARE(FaultPlan::formatRule(*rule), formatted);
        const std::optional<FaultRule> again = FaultPlan::parseRule(formatted, &error);
        QVERIFY2(again, qPrintable(error));
        QVERIFY(*again == *rule);
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
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
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
            QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
            QVERIFY(link.write(hex("020131300A00030B")));
            link.close();
            sim.hearOutstanding();  // heard at once, whether it listens or looks for the next visit
            QCOMPARE(sim.counters().messages, i + 1);
            if (i % 2)
                QTest::qWait(40);  // let it notice the hang-up before the next visit
        }
        QCOMPARE(sim.received(), hex("020131300A00030B").repeated(5));
    }

    void garbageKeepsTheDisplayBounded()
    {
        // A million bytes of noise: one log entry per run (a few at most, as a
        // run is cut every kGarbageRunLimit), only the first bytes kept, the
        // totals counted, received() capped, and the display still listens.
        SimulatedDisplay sim;
        const int fd = openToolSide(sim.devicePath());
        QVERIFY(fd >= 0);
        constexpr qint64 kNoise = 1'000'000;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(writeNoise(fd, kNoise));
        QVERIFY(sim.waitForBytes(kNoise, 30000));
        const qint64 noiseMs = clock.elapsed();
        const QByteArray packet = hex("020131300A00030B");
        QCOMPARE(::write(fd, packet.constData(), size_t(packet.size())), ssize_t(packet.size()));
        QTRY_COMPARE_WITH_TIMEOUT(sim.counters().of(MessageKind::ParameterPacket), 1, 5000);
        ::close(fd);

        const SimCounters counters = sim.counters();
        QCOMPARE(counters.bytesReceived, kNoise + packet.size());
        QCOMPARE(counters.garbageBytes, kNoise);
        const qint64 runs = counters.of(MessageKind::Garbage);
        QVERIFY2(runs >= 1 && runs <= 2 + noiseMs / SimulatedDisplay::kGarbageRunLimit.count(),
                 qPrintable(QStringLiteral("%1 garbage entries in %2 ms").arg(runs).arg(noiseMs)));
        QCOMPARE(counters.messages, runs + 1);

        const QList<SimLogEntry> log = sim.log();
        QCOMPARE(log.size(), counters.messages);
        qint64 logged = 0;
        for (const SimLogEntry &e : log) {
            if (e.kind != MessageKind::Garbage)
                continue;
            QVERIFY(e.bytes.size() <= DisplayProtocol::kGarbageKept);
            QVERIFY(e.bytes.startsWith(char(0xFF)));
            logged += e.byteCount;
        }
        QCOMPARE(logged, kNoise);
        QCOMPARE(log.constLast().kind, MessageKind::ParameterPacket);
        QVERIFY(log.constLast().note.isEmpty());

        const QByteArray received = sim.received();
        QCOMPARE(received.size(), SimulatedDisplay::kReceivedCapacity);
        QCOMPARE(received, QByteArray(SimulatedDisplay::kReceivedCapacity - packet.size(), char(0xFF)) + packet);
    }

    void theLogKeepsItsLastEntriesAndCountsThemAll()
    {
        SimulatedDisplay sim;
        const int fd = openToolSide(sim.devicePath());
        QVERIFY(fd >= 0);
        constexpr int kPackets = SimulatedDisplay::kLogCapacity + 500;
        const auto packet = [](int i) { return Hand::parameterPacket(0x31, quint8(i % 256), quint8(i / 256), 0x00); };
        QByteArray all;
        for (int i = 0; i < kPackets; ++i)
            all += packet(i);
        for (qsizetype sent = 0; sent < all.size();) {
            const ssize_t n = ::write(fd, all.constData() + sent, size_t(all.size() - sent));
            QVERIFY(n > 0);
            sent += n;
        }
        QVERIFY(sim.waitForMessages(kPackets, 10000));
        ::close(fd);

        const QList<SimLogEntry> log = sim.log();
        QCOMPARE(log.size(), SimulatedDisplay::kLogCapacity);
        QCOMPARE(log.constFirst().bytes, packet(kPackets - SimulatedDisplay::kLogCapacity));
        QCOMPARE(log.constLast().bytes, packet(kPackets - 1));
        const SimCounters counters = sim.counters();
        QCOMPARE(counters.messages, kPackets);
        QCOMPARE(counters.of(MessageKind::ParameterPacket), kPackets);
        QCOMPARE(counters.of(MessageKind::Garbage), 0);
        QCOMPARE(counters.bytesReceived, all.size());
        QCOMPARE(sim.received(), all);  // 12,000 bytes: under the cap, all kept
    }

    void pauseReadingHoldsTheBytesBack()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QElapsedTimer clock;
        clock.start();
        sim.pauseReading(300ms);
        QVERIFY(link.write(hex("020131300A00030B")));
        sim.hearOutstanding();  // reads nothing while paused
        QCOMPARE(sim.counters().bytesReceived, 0);
        QVERIFY(sim.waitForMessages(1, 3000));
        QVERIFY(clock.elapsed() >= 290);
        QCOMPARE(sim.log().constFirst().kind, MessageKind::ParameterPacket);
    }

    // The display answers once the message and its answer crossed the line,
    // as a real one: never sooner, and not much later.
    void answersNoSoonerThanTheLineAllows_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("access at 9600") << QStringLiteral("9600,N,8,1") << Hand::accessCommand() << hex("07");
        QTest::newRow("a frame at 19200") << QStringLiteral("19200,N,8,1") << Hand::eraseFrame() << hex("AA");
        QTest::newRow("a frame at 2400") << QStringLiteral("2400,N,8,1") << Hand::eraseFrame() << hex("AA");
    }

    void answersNoSoonerThanTheLineAllows()
    {
        QFETCH(QString, line);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, answer);
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), line)));
        if (message != Hand::accessCommand())
            QCOMPARE(ask(link, Hand::accessCommand()), hex("07"));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ask(link, message), answer);
        const double wireMs = 10.0 * 1000.0 * double(message.size() + answer.size()) / line.section(',', 0, 0).toDouble();
        QVERIFY2(double(clock.nsecsElapsed()) / 1e6 >= wireMs, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(clock.elapsed() < wireMs + 500, qPrintable(QString::number(clock.elapsed())));
    }

    void endRulesAct_data()
    {
        // clang-format off
        QTest::addColumn<QString>("rule");  // empty: a healthy display
        QTest::addColumn<QByteArray>("answer");  // all it says, however many chunks
        QTest::addColumn<bool>("hangsUp");
        QTest::newRow("healthy: no answer") << "" << QByteArray() << false;
        QTest::newRow("end=0x5A") << "end=0x5A" << hex("5A") << false;
        QTest::newRow("end=hangup") << "end=hangup" << QByteArray() << true;
        QTest::newRow("second end frame only") << "end@2=hangup" << QByteArray() << false;
        QTest::newRow("end=0x5A, more said later") << "end=0x5A+then:0x33,0x44@50ms" << hex("5A3344") << false;
        // clang-format on
    }

    void endRulesAct()
    {
        QFETCH(QString, rule);
        QFETCH(QByteArray, answer);
        QFETCH(bool, hangsUp);
        SimulatedDisplay sim;
        if (!rule.isEmpty()) {
            QString error;
            const std::optional<FaultRule> r = FaultPlan::parseRule(rule, &error);
            QVERIFY2(r, qPrintable(error));
            sim.setFaultPlan(FaultPlan{{*r}});
        }
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QCOMPARE(ask(link, Hand::accessCommand()), hex("07"));
        QCOMPARE(ask(link, Hand::eraseFrame()), hex("AA"));
        QCOMPARE(ask(link, handFrame(0, 'e')), hex("AA"));
        QSignalSpy lost(&link, &SerialLink::lineLost);
        QVERIFY(link.write(Hand::endFrame()));
        QVERIFY(sim.waitForMessages(4));
        // An answer comes once the end frame and the answer crossed the line
        // (about 200 ms at 9600); silence is silence for longer than that.
        if (answer.isEmpty())
            QTest::qWait(400);
        else
            QTRY_VERIFY_WITH_TIMEOUT(link.bytesAvailable() >= answer.size(), 2000);
        QCOMPARE(link.takeInput(), answer);
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), hangsUp ? 1 : 0, 2000);
        QCOMPARE(link.isOpen(), !hangsUp);
        const SimLogEntry end = sim.log().constLast();
        QCOMPARE(end.kind, MessageKind::EndFrame);
        QCOMPARE(end.attempt, 1);
        QCOMPARE(end.note.contains(QLatin1String("hung up")), hangsUp);
        QCOMPARE(sim.endFrames(), 1);
    }

    void answerThenHangUp()
    {
        // The display takes frame 1 and answers it; then the cable is pulled:
        // the tool gets the answer, the display hears nothing more.
        SimulatedDisplay sim;
        QString error;
        sim.setFaultPlan(FaultPlan{{*FaultPlan::parseRule(QStringLiteral("data#1=0xAA+hangup"), &error)}});
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QSignalSpy lost(&link, &SerialLink::lineLost);
        QCOMPARE(ask(link, Hand::accessCommand()), hex("07"));
        QCOMPARE(ask(link, Hand::eraseFrame()), hex("AA"));
        QCOMPARE(ask(link, handFrame(0, 'a')), hex("AA"));
        QCOMPARE(ask(link, handFrame(184, 'b')), hex("AA"));
        QVERIFY(link.write(Hand::endFrame()));  // before the line dies: nobody hears it
        QVERIFY(lost.wait(2000));
        QVERIFY(!link.isOpen());
        sim.hearOutstanding();
        QCOMPARE(sim.endFrames(), 0);
        QCOMPARE(sim.counters().of(MessageKind::EndFrame), 0);
        QCOMPARE(sim.image(), QByteArray(184, 'a') + QByteArray(184, 'b'));  // both frames accepted
        const SimLogEntry last = sim.log().constLast();
        QCOMPARE(last.kind, MessageKind::DataFrame);
        QCOMPARE(last.frame, 1);
        QCOMPARE(last.answer, std::optional<quint8>(0xAA));
        QVERIFY2(last.note.contains(QLatin1String("hangs up after the answer")), qPrintable(last.note));
    }

    void lineSettingsAreReadFromTheLine()
    {
        SimulatedDisplay sim;
        const int fd = openToolSide(sim.devicePath());
        QVERIFY(fd >= 0);
        termios t{};
        QCOMPARE(::tcgetattr(fd, &t), 0);
        ::cfsetspeed(&t, B4800);
        t.c_cflag |= CSTOPB | CRTSCTS;
        t.c_iflag |= IXON | IXOFF;
        QCOMPARE(::tcsetattr(fd, TCSANOW, &t), 0);
        const QByteArray packet = hex("020131300A00030B");
        QCOMPARE(::write(fd, packet.constData(), size_t(packet.size())), ssize_t(packet.size()));
        QVERIFY(sim.waitForMessages(1));
        const SimLogEntry e = sim.log().constFirst();
        const SimLineSettings expected{4800, 8, 'N', 2, true, true, true};
        QCOMPARE(e.line, expected);
        QVERIFY(e.lineAsRead);
        QCOMPARE(e.line.toString(), QStringLiteral("4800,N,8,2 rts/cts ixon ixoff"));
        QCOMPARE(sim.line(), expected);
        QCOMPARE(sim.lineSpeed(), 4800);
        QVERIFY(!wrongLineSettings(sim.log(), 4800).isEmpty());
        ::close(fd);
    }

    void settingsSeenWhileOpenOutliveTheClose()
    {
        // The tool's port restores the pty's own settings when it closes,
        // often before the display has read the last message: that message
        // carries the settings last seen while the tool had the line open.
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("2400,N,8,1"))));
        QVERIFY(link.write(hex("020131300A00030B")));
        QVERIFY(sim.waitForMessages(1));
        QVERIFY(sim.log().constFirst().lineAsRead);
        for (int i = 0; i < 20; ++i) {
            QVERIFY(link.write(hex("02800381")));
            link.close();
            QVERIFY(sim.waitForMessages(2 + i));
            QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("2400,N,8,1"))));
        }
        link.close();
        const QString wrong = wrongLineSettings(sim.log(), 2400);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        sim.hearOutstanding();  // and notices the close
        QCOMPARE(sim.lineSpeed(), 2400);
    }

private:
    // Writes a message and returns the first chunk of the answer (empty after 2 s).
    static QByteArray ask(SerialLink &link, const QByteArray &message)
    {
        link.dropInput();
        if (!link.write(message))
            return {};
        [[maybe_unused]] const bool arrived = QTest::qWaitFor([&] { return link.bytesAvailable() > 0 || !link.isOpen(); }, 2000);
        return link.takeInput();
    }
};

QTEST_GUILESS_MAIN(TestSimulatedDisplay)
#include "tst_simulateddisplay.moc"
