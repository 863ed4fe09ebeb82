// The download's protocol core, played against a display in virtual time:
// exact times, no sleeps, no line. The display is the simulator's own model,
// which knows the messages, its answers and its pace from its side of the
// line, per the same fault rules as custdisp-sim --fault.
#include "isp/ispsession.h"
#include "sim/displaymodel.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <functional>
#include <map>

using namespace std::chrono;
using namespace std::chrono_literals;
using Time = IspSession::Time;

namespace {

// What the table knows of an image's frames: 184 of its bytes in each, and
// always one frame more than whole blocks.
constexpr int kBlock = 184;
int framesOf(int size)
{
    return size / kBlock + 1;
}

struct Transcript {
    QStringList lines;  // "access", "data#1", "stale aa", "progress 2", ...
    QString outcome;
    QByteArray rebuilt;  // the image as the display accepted it
    Time end{0};
    int retries = 0;
    QString cause;
};

struct Player {
    IspSession session;
    DisplayModel display;
    LinePace port;  // how long a write takes to leave the tool's side
    Transcript t;
    Time now{0};
    std::optional<Time> timer;
    std::multimap<Time, std::function<IspActions()>> line;  // what the tool hears, and when

    Player(const QByteArray &image, qint32 baud) : session(image, baud) { port.setBaud(baud); }

    void say(Time at, const QByteArray &bytes)
    {
        line.emplace(at, [this, bytes] { return session.bytesReceived(bytes, now); });
    }

    // The display hears each message as it is written; what it says, and a
    // hang-up, reach the tool at the times it gives.
    void hear(const QByteArray &m)
    {
        for (const DisplayReply &r : display.heard(m, now)) {
            const HeardMessage &h = r.heard;
            t.lines << (h.kind == MessageKind::DataFrame ? QStringLiteral("data#%1").arg(h.frame) : messageKindName(h.kind));
            for (const DisplayReply::Saying &s : r.says)
                say(s.at, s.bytes);
            if (r.hangsUpAt)
                line.emplace(*r.hangsUpAt, [this] { return session.lineLost(now); });
        }
    }

    void apply(const IspActions &actions)
    {
        for (const IspAction &a : actions) {
            switch (a.kind) {
            case IspAction::Kind::Write:
                hear(a.bytes);
                apply(session.written(now));
                break;
            case IspAction::Kind::Drain: apply(session.drained(true, now + port.wireTime(a.bytes.size()))); return;
            case IspAction::Kind::Timer: timer = a.at; break;
            case IspAction::Kind::Progress: t.lines << QStringLiteral("progress %1").arg(a.value); break;
            case IspAction::Kind::Stale: t.lines << QStringLiteral("stale ") + QString::fromLatin1(a.bytes.toHex(' ')); break;
            case IspAction::Kind::Finish:
                t.outcome = outcomeWord(a.outcome);
                t.end = now;
                return;
            }
        }
    }

    Transcript play(std::optional<Time> stopAt)
    {
        apply(session.start(now));
        while (!session.finished()) {
            const Time next = std::min({timer.value_or(Time::max()), line.empty() ? Time::max() : line.begin()->first,
                                        stopAt.value_or(Time::max())});
            if (next == Time::max())
                break;  // nothing will ever happen: the session hangs
            now = next;
            if (stopAt == now) {
                stopAt.reset();
                apply(session.stop(now));
            } else if (timer == now) {
                timer.reset();
                apply(session.timerEnded(now));
            } else {
                const auto event = line.begin()->second;
                line.erase(line.begin());
                apply(event());
            }
        }
        t.retries = session.retries();
        t.cause = QString::fromLatin1(session.mixedAnswer().toHex(' '));
        t.rebuilt = display.image();
        return t;
    }
};

Transcript play(const QByteArray &image, qint32 baud, const QStringList &rules, std::optional<Time> stopAt = {})
{
    Player p(image, baud);
    FaultPlan plan;
    int clockPct = 100;
    // Two things no fault rule says: the display's clock ("clock=95%"), and
    // a line that chatters by itself ("noise=0x15/10ms@890ms+5000ms").
    static const QRegularExpression clock(QStringLiteral("^clock=(\\d+)%$"));
    static const QRegularExpression noise(QStringLiteral("^noise=0x([0-9a-f]{2})/(\\d+)ms@(\\d+)ms\\+(\\d+)ms$"));
    for (const QString &r : rules) {
        if (const auto m = clock.match(r); m.hasMatch()) {
            clockPct = m.captured(1).toInt();
            continue;
        }
        if (const auto m = noise.match(r); m.hasMatch()) {
            const QByteArray byte = QByteArray::fromHex(m.captured(1).toLatin1());
            const milliseconds every(m.captured(2).toInt()), from(m.captured(3).toInt()), length(m.captured(4).toInt());
            for (milliseconds t = from; t < from + length; t += every)
                p.say(t, byte);
            continue;
        }
        QString error;
        const auto rule = FaultPlan::parseRule(r, &error);
        if (!rule)
            qFatal("%s", qPrintable(error));
        plan.rules.append(*rule);
    }
    p.display.setFaultPlan(plan);
    // A display whose clock runs fast runs its line that much faster too: it
    // hears a message end sooner, and its answer takes less time.
    p.display.setLineSpeed(baud * 100 / clockPct);
    return p.play(stopAt);
}

}  // namespace

class TestIspSession : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every way a download ends, what went out, and when it ended.
    void transcripts_data()
    {
        // clang-format off
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<int>("stopAtMs");  // -1: no stop
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("written");  // the messages the display heard
        QTest::addColumn<int>("stale");        // stale chunks dropped
        QTest::addColumn<int>("endMs");        // -1: not checked
        QTest::addColumn<QString>("cause");    // the bytes a failure names, in hex
        const QString whole = QStringLiteral("access erase data#0 data#1 data#2 end");
        QTest::newRow("healthy") << 500 << 9600 << QStringList{} << -1 << "completed" << whole << 0 << -1 << QString();
        QTest::newRow("the largest image: 356 frames") << 65503 << 19200 << QStringList{} << -1
                                                       << "completed" << QString() << 0 << -1 << QString();
        QTest::newRow("empty image: one frame") << 0 << 9600 << QStringList{} << -1 << "completed"
                                                << "access erase data#0 end" << 0 << -1 << QString();
        QTest::newRow("access silent: 5 s after its 5.2 ms wire time")
            << 500 << 9600 << QStringList{"access=silent"} << -1 << "access-timeout" << "access" << 0 << 5028 << QString();
        QTest::newRow("access silent at 600 baud") << 500 << 600 << QStringList{"access=silent"} << -1
                                                   << "access-timeout" << "access" << 0 << 5153 << QString();
        QTest::newRow("access answered after 4.9 s") << 500 << 9600 << QStringList{"access=0x07+4900ms"} << -1 << "completed"
                                                     << whole << 0 << -1 << QString();
        QTest::newRow("erase answered after 4.9 s") << 500 << 9600 << QStringList{"erase=0xAA+4900ms"} << -1 << "completed"
                                                    << whole << 0 << -1 << QString();
        QTest::newRow("access 1B") << 500 << 9600 << QStringList{"access=0x1B"} << -1 << "wrong-version" << "access" << 0 << -1 << QString();
        QTest::newRow("access AA") << 500 << 9600 << QStringList{"access=0xAA"} << -1 << "access-refused" << "access" << 0 << -1 << QString();
        // An answer is every byte of the read that brought it.
        QTest::newRow("access: 07 15 in one read") << 500 << 9600 << QStringList{"access=0x07,0x15"} << -1
                                                   << "access-refused" << "access" << 0 << -1 << "07 15";
        QTest::newRow("access: 15 07 in one read") << 500 << 9600 << QStringList{"access=0x15,0x07"} << -1
                                                   << "access-refused" << "access" << 0 << -1 << "15 07";
        QTest::newRow("access: 07 07 in one read") << 500 << 9600 << QStringList{"access=0x07,0x07"} << -1 << "completed"
                                                   << whole << 0 << -1 << QString();
        QTest::newRow("access: 1B 1B in one read") << 500 << 9600 << QStringList{"access=0x1B,0x1B"} << -1
                                                   << "wrong-version" << "access" << 0 << -1 << QString();
        QTest::newRow("erase: aa 15 in one read") << 500 << 9600 << QStringList{"erase=0xAA,0x15"} << -1 << "erase-failed"
                                                  << "access erase" << 0 << -1 << "aa 15";
        QTest::newRow("data: aa 15 in one read, sent again")
            << 500 << 9600 << QStringList{"data#1@1=0xAA,0x15"} << -1 << "completed"
            << "access erase data#0 data#1 data#1 data#2 end" << 0 << -1 << QString();
        QTest::newRow("data: 15 aa in one read, every time")
            << 500 << 9600 << QStringList{"data#1=0x15,0xAA"} << -1 << "data-frame-failed"
            << "access erase data#0 data#1 data#1 data#1" << 0 << -1 << "15 aa";
        QTest::newRow("data: aa aa in one read") << 500 << 9600 << QStringList{"data#1=0xAA,0xAA"} << -1 << "completed"
                                                 << whole << 0 << -1 << QString();
        // An acceptance stands only while the line keeps quiet.
        QTest::newRow("a byte in the pause after a frame: sent again")
            << 500 << 9600 << QStringList{"data#1@1=0xAA+then:0x15@150ms"} << -1 << "completed"
            << "access erase data#0 data#1 data#1 data#2 end" << 0 << -1 << QString();
        QTest::newRow("a second aa in the pause: an echo") << 500 << 9600 << QStringList{"data#1=0xAA+then:0xAA@150ms"}
                                                           << -1 << "completed" << whole << 1 << -1 << QString();
        QTest::newRow("a byte before the end frame: the last frame again")
            << 500 << 9600 << QStringList{"data#2@1=0xAA+then:0x15@205ms"} << -1 << "completed"
            << "access erase data#0 data#1 data#2 data#2 end" << 0 << -1 << QString();
        QTest::newRow("a byte in the quiet after the access") << 500 << 9600 << QStringList{"access=0x07+then:0x15@15ms"}
                                                              << -1 << "access-refused" << "access" << 0 << -1 << "07 15";
        QTest::newRow("a byte in the quiet after the erase") << 500 << 9600 << QStringList{"erase=0xAA+then:0x15@15ms"}
                                                             << -1 << "erase-failed" << "access erase" << 0 << -1 << "aa 15";
        QTest::newRow("doubt on the third attempt: no fourth")
            << 500 << 9600 << QStringList{"data#1@1=0x15", "data#1@2=0x15", "data#1@3=0xAA+then:0x15@50ms"} << -1
            << "data-frame-failed" << "access erase data#0 data#1 data#1 data#1" << 0 << -1 << "aa 15";
        // A late duplicate of frame 1's answer at 91% of frame 2's wire time
        // passes the gate; the display's own refusal then puts it in doubt.
        QTest::newRow("late duplicate at 91%, then the refusal")
            << 400 << 19200 << QStringList{"data#1=0xAA+then:0xAA@291ms", "data#2@1=0x15"} << -1 << "completed"
            << "access erase data#0 data#1 data#2 data#2 end" << 0 << -1 << QString();
        // At 600 baud a tenth of a frame's wire time is 320 ms, longer than
        // the pause: the acceptance is held until the display's own answer
        // would have come.
        QTest::newRow("600 baud: a stray aa at 95% of the erase, then its refusal")
            << 400 << 600 << QStringList{"access=0x07+then:0xAA@3118ms", "erase=0x15"} << -1 << "erase-failed"
            << "access erase" << 0 << -1 << "aa 15";
        QTest::newRow("600 baud: a duplicate at 91% of the last frame, then its refusal")
            << 400 << 600 << QStringList{"data#1=0xAA+then:0xAA@3302ms", "data#2@1=0x15"} << -1 << "completed"
            << "access erase data#0 data#1 data#2 data#2 end" << 0 << -1 << QString();
        // The display still answers something else (the version query's
        // text) as the download starts: the access command waits for quiet.
        QTest::newRow("the line still busy at the start") << 500 << 9600 << QStringList{"noise=0x53/2ms@0ms+40ms"} << -1
                                                           << "completed" << whole << 20 << -1 << QString();
        QTest::newRow("a display 5% fast is no stray") << 500 << 9600 << QStringList{"clock=95%"} << -1 << "completed"
                                                       << whole << 0 << -1 << QString();
        // ... or says it for good: the access command is never said.
        QTest::newRow("the line never quiet at the start") << 500 << 9600 << QStringList{"noise=0x53/2ms@0ms+5000ms"} << -1
                                                           << "access-refused" << "(nothing)" << 1500 << 3000 << QString();
        // Refused; the line then never falls quiet: the purge
        // gives up after its 3 s.
        QTest::newRow("a chattering line during the purge")
            << 500 << 9600 << QStringList{"data#1=0x15", "noise=0x15/10ms@890ms+5000ms"} << -1 << "data-frame-failed"
            << "access erase data#0 data#1" << 300 << 3890 << QString();
        QTest::newRow("erase 07") << 500 << 9600 << QStringList{"erase=0x07"} << -1 << "erase-failed" << "access erase" << 0 << -1 << QString();
        QTest::newRow("erase silent") << 500 << 9600 << QStringList{"erase=silent"} << -1 << "erase-failed"
                                      << "access erase" << 0 << -1 << QString();
        QTest::newRow("line lost at the access") << 500 << 9600 << QStringList{"access=hangup"} << -1
                                                 << "access-timeout" << "access" << 0 << -1 << QString();
        QTest::newRow("data refused three times") << 500 << 9600 << QStringList{"data#1=0x15"} << -1 << "data-frame-failed"
                                                  << "access erase data#0 data#1 data#1 data#1" << 0 << -1 << QString();
        QTest::newRow("accepted at the third attempt")
            << 500 << 9600 << QStringList{"data#1@1=0x15", "data#1@2=silent"} << -1 << "completed"
            << "access erase data#0 data#1 data#1 data#1 data#2 end" << 0 << -1 << QString();
        QTest::newRow("line lost at a frame: no more attempts") << 500 << 9600 << QStringList{"data#1=hangup"} << -1
                                                                << "data-frame-failed" << "access erase data#0 data#1" << 0 << -1 << QString();
        QTest::newRow("line lost after the last answer") << 500 << 9600 << QStringList{"data#2=0xAA+hangup"} << -1
                                                         << "data-frame-failed" << "access erase data#0 data#1 data#2" << 0 << -1 << QString();
        // The limit counts from the end of the frame's 200 ms wire time.
        QTest::newRow("answered within the limit") << 500 << 9600 << QStringList{"data#0=0xAA+2990ms"} << -1 << "completed"
                                                   << whole << 0 << -1 << QString();
        QTest::newRow("answered past the limit") << 500 << 9600 << QStringList{"data#0@1=0xAA+3001ms"} << -1 << "completed"
                                                 << "access erase data#0 data#0 data#1 data#2 end" << 1 << -1 << QString();
        // A stray byte lands inside the retry's wire time: never its answer.
        for (int ms : {0, 1, 5}) {
            for (int frame : {1, 2}) {
                QString written = QStringLiteral("access erase data#0");
                for (int f = 1; f < frame; ++f)
                    written += QStringLiteral(" data#%1").arg(f);
                written += QStringLiteral(" data#%1").arg(frame).repeated(3);
                QTest::addRow("stray byte %d ms after a refusal of frame %d", ms, frame)
                    << 500 << 19200
                    << QStringList{QStringLiteral("data#%1@1=0x15+then:0xAA@%2ms").arg(frame).arg(ms),
                                   QStringLiteral("data#%1=0x15+20ms").arg(frame)}
                    << -1 << "data-frame-failed" << written << 1 << -1 << QString();
            }
        }
        QTest::newRow("late echo just after the next frame's write")
            << 500 << 9600 << QStringList{"data#0=0xAA+then:0xAA@210ms", "data#1=silent"} << -1 << "data-frame-failed"
            << "access erase data#0 data#1 data#1 data#1" << 1 << -1 << QString();
        QTest::newRow("frame 1 answered twice, frame 2 not at all")
            << 500 << 19200 << QStringList{"data#1=0xAA+then:0xAA@20ms", "data#2=silent"} << -1 << "data-frame-failed"
            << "access erase data#0 data#1 data#2 data#2 data#2" << 1 << -1 << QString();
        QTest::newRow("access answered twice") << 500 << 19200 << QStringList{"access=0x07+then:0x07@10ms"} << -1
                                               << "completed" << whole << 1 << -1 << QString();
        QTest::newRow("600 baud: every frame 3.2 s on the wire") << 500 << 600 << QStringList{} << -1 << "completed"
                                                                 << whole << 0 << -1 << QString();
        QTest::newRow("a stop in a wait") << 500 << 9600 << QStringList{} << 300 << "cancelled" << "access erase data#0" << 0 << 300 << QString();
        QTest::newRow("a stop in a pause") << 500 << 9600 << QStringList{"data#0=0xAA+100ms"} << 530 << "cancelled"
                                           << "access erase data#0" << 0 << 530 << QString();
        // clang-format on
    }

    void transcripts()
    {
        QFETCH(int, size);
        QFETCH(int, baud);
        QFETCH(QStringList, rules);
        QFETCH(int, stopAtMs);
        QFETCH(QString, outcome);
        QFETCH(QString, written);
        QFETCH(int, stale);
        QFETCH(int, endMs);
        QFETCH(QString, cause);
        const QByteArray image = randomImage(size);
        const Transcript t = play(image, baud, rules, stopAtMs < 0 ? std::nullopt : std::optional<Time>(milliseconds(stopAtMs)));
        const QString all = t.lines.join(QLatin1Char(' '));
        QCOMPARE(t.outcome, outcome);
        QStringList heard;
        for (const QString &l : t.lines)
            if (!l.startsWith(QLatin1String("progress")) && !l.startsWith(QLatin1String("stale")))
                heard << l;
        if (!written.isEmpty())
            QCOMPARE(heard.isEmpty() ? QStringLiteral("(nothing)") : heard.join(QLatin1Char(' ')), written);
        else
            QCOMPARE(heard.size(), framesOf(size) + 3);
        QCOMPARE(int(t.lines.filter(QStringLiteral("stale")).size()), stale);
        QCOMPARE(t.cause, cause);
        if (endMs >= 0)
            QCOMPARE(duration_cast<milliseconds>(t.end).count(), endMs);
        const int frames = framesOf(size);
        if (outcome == QLatin1String("completed")) {
            // The display holds the image, and the bar went 1, 2, ... up to
            // full, a step back where an acceptance was withdrawn.
            QCOMPARE(t.rebuilt, image + QByteArray(frames * kBlock - size, '\0'));
            int bar = 0;
            for (const QString &p : t.lines.filter(QStringLiteral("progress"))) {
                const int v = p.section(QLatin1Char(' '), 1).toInt();
                QVERIFY2(v == bar + 1 || v == bar - 1 || (v == bar && v == frames), qPrintable(all));
                bar = v;
            }
            QCOMPARE(bar, frames);
            QVERIFY(all.endsWith(QStringLiteral("end progress %1").arg(frames)));
        } else {
            QVERIFY2(!all.contains(QLatin1String("end")), qPrintable(all));
        }
    }

    // Events as a driver gives them, one by one: "start", "written@T",
    // "bytes:HEX@T", "timer@T", "writefail@T", "drained:1@T", "lost@T",
    // "stop@T" (T in ms). What each event asked for is checked on the way:
    // "=write", "=timer@T", "=finish:WORD", "=none".
    void drivenEvents_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("refused");
        QTest::addColumn<int>("framesWritten");
        // 1 byte at 9600: the access command 5.2 ms on the wire, a frame 200 ms.
        // The line is quiet for 23 ms before the access command.
        const QString toFrame = QStringLiteral("start =timer@23 timer@24 =write written@24 =timer@5029 bytes:07@31 =timer@54 "
                                               "timer@55 =write written@55 =timer@5255 bytes:aa@264 =timer@299 timer@300 =write");
        QTest::newRow("a write the line did not take counts for nothing")
            << 1 << toFrame + " writefail@301 =finish:data-frame-failed" << 0 << 0;
        QTest::newRow("an end frame that does not drain whole")
            << 1 << toFrame + " written@300 =timer@3500 bytes:aa@504 =progress=timer@714 timer@714 =write timer@715 =none drained:0@720 =finish:data-frame-failed"
            << 0 << 1;
        QTest::newRow("a stop while the end frame drains changes nothing")
            << 1 << toFrame + " written@300 bytes:aa@504 timer@714 =write stop@716 =none drained:1@720 =progress=finish:completed" << 0 << 1;
        QTest::newRow("a timer that wakes early stands") << 1 << "start timer@24 =write written@24 timer@4000 =timer@5029 timer@5030 =finish:access-timeout"
                                                         << 0 << 0;
        QTest::newRow("the line lost while draining") << 1 << toFrame + " written@300 bytes:aa@504 timer@714 lost@716 =finish:data-frame-failed"
                                                      << 0 << 1;
        QTest::newRow("start twice") << 1 << "start =timer@23 start =none" << 1 << 0;
        QTest::newRow("events after the end")
            << 1 << "start stop@1 =finish:cancelled bytes:aa@2 =none timer@3 =none stop@4 =none lost@5 =none writefail@6 =none drained:1@7 =none"
            << 6 << 0;
        QTest::newRow("a byte before the write was handed over is no answer")
            << 1 << "start timer@24 =write bytes:07@24 written@24 =timer@5029 timer@5030 =finish:access-timeout" << 0 << 0;
        QTest::newRow("an empty read is no byte") << 1 << "start bytes:@1 =none timer@24 =write" << 0 << 0;
        QTest::newRow("the line lost while it settles") << 1 << "start lost@5 =finish:access-timeout" << 0 << 0;
        QTest::newRow("the line lost after the access answer")
            << 1 << "start timer@24 =write written@24 bytes:07@31 =timer@54 lost@40 =finish:erase-failed" << 0 << 0;
        QTest::newRow("the line lost awaiting the erase answer")
            << 1 << "start timer@24 =write written@24 bytes:07@31 timer@55 =write written@55 lost@100 =finish:erase-failed" << 0 << 0;
        QTest::newRow("written with nothing to write") << 1 << "start written@0 =none" << 1 << 0;
        QTest::newRow("drained with no drain asked") << 1 << "start drained:1@2 =none" << 1 << 0;
        QTest::newRow("events before the start") << 1 << "timer@1 =none lost@2 =none writefail@3 =none" << 3 << 0;
        QTest::newRow("a timer before the write was handed over") << 1 << "start timer@24 =write timer@25 =none" << 1 << 0;
    }

    void drivenEvents()
    {
        QFETCH(int, size);
        QFETCH(QString, script);
        QFETCH(int, refused);
        QFETCH(int, framesWritten);
        IspSession session(randomImage(size), 9600);
        IspActions last;
        for (const QString &step : script.split(QLatin1Char(' '))) {
            const QString word = step.section(QLatin1Char('@'), 0, 0);
            const Time at = milliseconds(step.section(QLatin1Char('@'), 1).toInt());
            if (step.startsWith(QLatin1Char('='))) {
                QString got = last.empty() ? QStringLiteral("=none") : QString();
                for (const IspAction &a : last) {
                    switch (a.kind) {
                    case IspAction::Kind::Write: got += QStringLiteral("=write"); break;
                    case IspAction::Kind::Timer:
                        got += QStringLiteral("=timer@%1").arg(duration_cast<milliseconds>(a.at).count());
                        break;
                    case IspAction::Kind::Finish: got += QStringLiteral("=finish:") + outcomeWord(a.outcome); break;
                    case IspAction::Kind::Progress: got += QStringLiteral("=progress"); break;
                    default: break;
                    }
                }
                QVERIFY2(got == step, qPrintable(step + QStringLiteral(" but got ") + got));
                continue;
            }
            if (word == QLatin1String("start"))
                last = session.start(at);
            else if (word == QLatin1String("written"))
                last = session.written(at);
            else if (word.startsWith(QLatin1String("bytes:")))
                last = session.bytesReceived(QByteArray::fromHex(word.mid(6).toLatin1()), at);
            else if (word == QLatin1String("timer"))
                last = session.timerEnded(at);
            else if (word == QLatin1String("writefail"))
                last = session.writeFailed(at);
            else if (word.startsWith(QLatin1String("drained:")))
                last = session.drained(word.endsWith(QLatin1Char('1')), at);
            else if (word == QLatin1String("lost"))
                last = session.lineLost(at);
            else if (word == QLatin1String("stop"))
                last = session.stop(at);
            else
                QFAIL(qPrintable(QStringLiteral("no such event: ") + step));
        }
        QCOMPARE(session.refusedEvents(), refused);
        QCOMPARE(session.framesWritten(), framesWritten);
    }

    // A frame that fails all its attempts counts once, its repeats as retries.
    void countsFollowTheWrites()
    {
        QCOMPARE(play(randomImage(500), 9600, {"data#1=0x15"}).retries, 2);
        QCOMPARE(play(randomImage(500), 9600, {"data#0@1=0x15"}).retries, 1);
        QCOMPARE(play(randomImage(500), 9600, {}).retries, 0);
    }
};

QTEST_GUILESS_MAIN(TestIspSession)
#include "tst_ispsession.moc"
