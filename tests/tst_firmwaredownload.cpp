#include "settings/settings.h"
#include "app/ispcommand.h"
#include "cli/portjob.h"
#include "isp/downloadrecord.h"
#include "isp/firmwaredownload.h"
#include "isp/firmwareimage.h"
#include "record/recordkeeper.h"
#include "isp/ispframes.h"
#include "settings/portmap.h"
#include "sim/displaymodel.h"
#include "sim/simulateddisplay.h"
#include "simsupport.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

DownloadTimings quick()
{
    DownloadTimings t;
    t.accessTimeout = 300ms;
    t.eraseTimeout = 300ms;
    t.dataTimeout = 200ms;
    t.pauseAfterAccess = 1ms;
    t.pauseAfterFrame = 1ms;
    t.pauseBeforeEnd = 1ms;
    return t;
}


FaultPlan planOf(const QStringList &rules)
{
    FaultPlan plan;
    for (const QString &r : rules) {
        QString error;
        plan.rules.append(*FaultPlan::parseRule(r, &error));
    }
    return plan;
}

// A display behind Com 1, nothing behind Com 2, and an operator who picks
// the file the test wrote.
struct Bench {
    QTemporaryDir dir;
    SimulatedDisplay sim;
    PortMap ports;
    Settings settings;
    SerialLink link;
    RecordingOperator op{&link};
    RecordKeeper records;
    IspCommand download;
    DownloadResult result;  // of the last run

    qint64 written = 0;  // bytes the link handed to the line

    explicit Bench(DownloadTimings timings = quick()) : download(link, op, records, timings)
    {
        QObject::connect(&link, &LineLink::traffic, &link, [this](bool outgoing, const QByteArray &bytes) {
            if (outgoing)
                written += bytes.size();
        });
        [[maybe_unused]] const bool a = ports.setOverride(1, sim.devicePath());
        [[maybe_unused]] const bool b = ports.setOverride(2, QStringLiteral("/dev/custdisp-nothing-here"));
    }

    QString writeImage(const QByteArray &image)
    {
        op.file = writeFile(dir.filePath(QStringLiteral("firmware.bin")), image);
        return *op.file;
    }

    void plan(const QStringList &rules) { sim.setFaultPlan(planOf(rules)); }

    // The whole command, from the dialog to the last clean-up, as the window runs it.
    DownloadOutcome run()
    {
        std::optional<DownloadOutcome> outcome;
        QObject scope;
        QObject::connect(&download, &IspCommand::finished, &scope, [&](const DownloadResult &r) {
            result = r;
            outcome = r.outcome;
        });
        download.run(ports.target(settings.CommPortNumber, settings.PortSettings));
        [[maybe_unused]] const bool ended = QTest::qWaitFor([&] { return outcome.has_value(); }, 60000);
        return outcome.value_or(DownloadOutcome::Cancelled);
    }

    // What the display heard, one word a message: "access", "erase", "data#0", ...
    // Once the display has read every byte the link wrote.
    QStringList heard() const
    {
        [[maybe_unused]] const bool all = QTest::qWaitFor([this] { return sim.counters().bytesReceived >= written; }, 5000);
        QStringList kinds;
        for (const SimLogEntry &e : sim.log())
            kinds.append(e.kind == MessageKind::DataFrame ? QStringLiteral("data#%1").arg(e.frame) : messageKindName(e.kind));
        return kinds;
    }
};

const QString kOk = QStringLiteral("ISP Message|ISP Transmit OK!");

// The line played in this process by the display's model: what a message
// makes the display say arrives when the model says so; and, on demand, what
// only a real port does: a write it refuses, a line lost inside a write, an
// end frame that does not leave whole.
class PlayedLine : public LineLink {
public:
    DisplayModel display;
    int refuseWrite = 0;  // the n-th write (1: the access command)
    int loseInWrite = 0;
    bool drainsWhole = true;
    int writes = 0;
    // The line says it read each byte this long before it hands it over (a
    // loop held up between the read and its handling).
    std::chrono::milliseconds readEarlier{0};

    explicit PlayedLine(qint32 baud) : m_baud(baud)
    {
        display.setLineSpeed(baud);
        m_clock.start();
    }
    bool isOpen() const override { return !m_lost; }
    bool lineWasLost() const override { return m_lost; }
    qint32 baudRate() const override { return m_baud; }
    bool write(const QByteArray &message) override
    {
        if (++writes == loseInWrite)
            lose();
        if (m_lost || writes == refuseWrite)
            return false;
        for (const DisplayReply &reply : display.heard(message, now())) {
            for (const DisplayReply::Saying &s : reply.says)
                after(s.at, [this, bytes = s.bytes] { arrive(bytes); });
            if (reply.hangsUpAt)
                after(*reply.hangsUpAt, [this] { lose(); });
        }
        return true;
    }
    void startDrain() override
    {
        QTimer::singleShot(1, this, [this] { Q_EMIT drained(drainsWhole && !m_lost); });
    }
    void dropInput() override { m_input.clear(); }
    QByteArray takeInput() override { return std::exchange(m_input, {}); }
    std::chrono::steady_clock::time_point readAt() const override { return m_readAt; }
    void close() override {}

    void arrive(const QByteArray &bytes)
    {
        if (m_lost)
            return;
        if (m_input.isEmpty())
            m_readAt = std::chrono::steady_clock::now() - readEarlier;
        m_input += bytes;
        Q_EMIT bytesArrived();
    }
    void lose()
    {
        m_lost = true;
        Q_EMIT lineLost(QStringLiteral("the line went away"));
    }

private:
    LinePace::Time now() const { return LinePace::Time(m_clock.nsecsElapsed() / 1000); }
    template<typename F>
    void after(LinePace::Time at, F f)
    {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(at - now());
        QTimer::singleShot(std::max(wait, std::chrono::milliseconds(0)), Qt::PreciseTimer, this, f);
    }

    qint32 m_baud;
    QElapsedTimer m_clock;
    bool m_lost = false;
    QByteArray m_input;
    std::chrono::steady_clock::time_point m_readAt = std::chrono::steady_clock::now();
};

}  // namespace

class TestFirmwareDownload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void imagesArriveWhole_data()
    {
        QTest::addColumn<int>("size");
        // The largest image, 356 frames, is a transcript: a minute on a line.
        for (int size : {1, 183, 184, 185, 367, 368})
            QTest::addRow("%d bytes", size) << size;
    }

    void imagesArriveWhole()
    {
        QFETCH(int, size);
        Bench b;
        const QByteArray image = randomImage(size);
        b.writeImage(image);
        QCOMPARE(b.run(), DownloadOutcome::Completed);
        QCOMPARE(b.op.messages, QStringList{kOk});

        const int frames = Isp::dataFrameCount(size);
        QCOMPARE(b.op.progressMaximum, frames);
        QVERIFY(b.sim.waitForMessages(frames + 3));
        QCOMPARE(b.sim.endFrames(), 1);
        const QList<SimLogEntry> log = b.sim.log();
        QCOMPARE(log.size(), frames + 3);  // access, erase, data frames, end
        for (const SimLogEntry &e : log) {
            QVERIFY2(e.note.isEmpty() || e.kind == MessageKind::EndFrame, qPrintable(e.note));
            QVERIFY(e.attempt <= 1);  // no answer was lost, nothing was sent twice
        }
        // The display rebuilt exactly the image, then zero padding.
        QCOMPARE(b.sim.image(), image + QByteArray(frames * Isp::kBlockSize - size, '\0'));
        // The last data frame: the remaining bytes at 5, then zeros up to 188.
        const QByteArray last = log.at(frames + 1).bytes;
        const int rest = size % int(Isp::kBlockSize);
        QCOMPARE(last.mid(5, rest), image.right(rest));
        QCOMPARE(last.mid(5 + rest, 184 - rest), QByteArray(184 - rest, '\0'));
        QCOMPARE(log.at(frames + 1).frame, frames - 1);

        // The bar: 0, one step per accepted frame, full while the message
        // shows, empty afterwards.
        QStringList values;
        for (const QString &e : b.op.events) {
            if (e.startsWith(QLatin1String("value")))
                values.append(e.section(QLatin1Char('|'), 0, 0).mid(6));
        }
        QCOMPARE(values.size(), frames + 3);
        QCOMPARE(values.first(), QStringLiteral("0"));
        QCOMPARE(values.at(frames), QString::number(frames));
        QCOMPARE(values.last(), QStringLiteral("0"));
        QCOMPARE(b.op.steps(), QStringList({"dialog|port closed", "disable|port open",
                                            "message " + kOk + "|port open", "enable|port closed"}));
        QVERIFY(b.op.events.indexOf(QStringLiteral("value %1|port open").arg(frames)) < b.op.events.indexOf("message " + kOk + "|port open"));
    }

    void everyWayOut_data()
    {
        QTest::addColumn<QString>("file");  // "image", "cancel", "missing", "too large"
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("plan");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");  // "" for none
        QTest::addColumn<QStringList>("heard");
        QTest::addColumn<int>("barValue");
        QTest::addColumn<int>("barMax");

        const QStringList all{"access", "erase", "data#0", "data#1", "data#2", "end"};
        QTest::newRow("dialog cancelled") << "cancel" << 1 << QStringList{} << int(DownloadOutcome::DialogCancelled)
                                          << "" << QStringList{} << 0 << 100;
        QTest::newRow("file cannot be opened") << "missing" << 1 << QStringList{} << int(DownloadOutcome::FileUnreadable)
                                               << "ISP Message|Cann't Open File '/nonexistent/custdisp/x.bin'!"
                                               << QStringList{} << 0 << 100;
        QTest::newRow("image too large") << "too large" << 1 << QStringList{} << int(DownloadOutcome::ImageTooLarge)
                                         << "ISP Message|File 'FILE' has 65504 bytes; at most 65503 bytes fit the display."
                                         << QStringList{} << 0 << 100;
        QTest::newRow("port unavailable") << "image" << 2 << QStringList{} << int(DownloadOutcome::PortUnavailable)
                                          << "custdisp|COM 2: not available." << QStringList{} << 0 << 3;
        QTest::newRow("access silent") << "image" << 1 << QStringList{"access=silent"} << int(DownloadOutcome::AccessTimeout)
                                       << "ISP Message|Time Out Error!" << QStringList{"access"} << 0 << 3;
        QTest::newRow("access 1B") << "image" << 1 << QStringList{"access=0x1B"} << int(DownloadOutcome::WrongVersion)
                                   << "ISP Message|A Incorrect Version No!" << QStringList{"access"} << 0 << 3;
        QTest::newRow("access AA") << "image" << 1 << QStringList{"access=0xAA"} << int(DownloadOutcome::AccessRefused)
                                   << "ISP Message|Access ISP Command Failed!" << QStringList{"access"} << 0 << 3;
        QTest::newRow("erase 07") << "image" << 1 << QStringList{"erase=0x07"} << int(DownloadOutcome::EraseFailed)
                                  << "ISP Message|Erase Command Failed!" << QStringList{"access", "erase"} << 0 << 3;
        QTest::newRow("erase silent") << "image" << 1 << QStringList{"erase=silent"} << int(DownloadOutcome::EraseFailed)
                                      << "ISP Message|Erase Command Failed!" << QStringList{"access", "erase"} << 0 << 3;
        QTest::newRow("frame refused twice, then accepted")
            << "image" << 1 << QStringList{"data#1@1=0x15", "data#1@2=0x00"} << int(DownloadOutcome::Completed) << kOk
            << QStringList{"access", "erase", "data#0", "data#1", "data#1", "data#1", "data#2", "end"} << 0 << 3;
        QTest::newRow("frame refused three times")
            << "image" << 1 << QStringList{"data#1=0x15"} << int(DownloadOutcome::DataFrameFailed)
            << "ISP Message|Transmit Data Failled!" << QStringList{"access", "erase", "data#0", "data#1", "data#1", "data#1"}
            << 0 << 3;
        QTest::newRow("frame silent three times")
            << "image" << 1 << QStringList{"data#2=silent"} << int(DownloadOutcome::DataFrameFailed)
            << "ISP Message|Transmit Data Failled!"
            << QStringList{"access", "erase", "data#0", "data#1", "data#2", "data#2", "data#2"} << 0 << 3;
        QTest::newRow("complete") << "image" << 1 << QStringList{} << int(DownloadOutcome::Completed) << kOk << all << 0 << 3;
    }

    void everyWayOut()
    {
        QFETCH(QString, file);
        QFETCH(int, port);
        QFETCH(QStringList, plan);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        QFETCH(QStringList, heard);
        QFETCH(int, barValue);
        QFETCH(int, barMax);

        Bench b;
        b.plan(plan);
        b.settings.clickOptPort(port - 1);
        if (file == QLatin1String("image"))
            b.writeImage(randomImage(400));
        else if (file == QLatin1String("missing"))
            b.op.file = QStringLiteral("/nonexistent/custdisp/x.bin");
        else if (file == QLatin1String("too large"))
            message.replace(QLatin1String("FILE"), b.writeImage(QByteArray(65504, 'x')));

        QCOMPARE(int(b.run()), outcome);
        QCOMPARE(b.op.messages, message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(b.heard(), heard);
        QVERIFY(!b.link.isOpen());
        QVERIFY(b.op.commandsEnabled);
        QCOMPARE(b.op.progressValue, barValue);
        QCOMPARE(b.op.progressMaximum, barMax);
        QCOMPARE(b.op.dialogs, 1);

        // Once the buttons went grey, every way out is: message while the
        // port is still open, then the port closes, then the buttons return.
        QStringList expected{"dialog|port closed"};
        if (b.op.steps().contains(QStringLiteral("disable|port open"))) {
            expected << "disable|port open";
            if (!message.isEmpty())
                expected << "message " + message + "|port open";
            expected << "enable|port closed";
        } else if (!message.isEmpty()) {
            expected << "message " + message + "|port closed";
        }
        QCOMPARE(b.op.steps(), expected);
        // The buttons are taken away only once the port is open.
        QCOMPARE(expected.contains(QStringLiteral("disable|port open")), !heard.isEmpty());
    }

    void retriesSendTheSameBytes()
    {
        Bench b;
        b.plan({"data#0@1=0x15", "data#0@2=silent"});
        b.writeImage(QByteArray("abc"));
        QCOMPARE(b.run(), DownloadOutcome::Completed);
        QList<QByteArray> frames;
        for (const SimLogEntry &e : b.sim.log()) {
            if (e.kind == MessageKind::DataFrame)
                frames.append(e.bytes);
        }
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames.at(1), frames.at(0));
        QCOMPARE(frames.at(2), frames.at(0));
        QCOMPARE(quint8(frames.at(0).at(189)), quint8(0xD7));
        QCOMPARE(b.result.framesSent + b.result.retries, 3);
    }

    void aHungUpLineEndsTheDownloadPromptly()
    {
        DownloadTimings t = quick();
        t.dataTimeout = 3000ms;
        Bench b(t);
        b.plan({"data#1=hangup"});
        b.writeImage(randomImage(1000));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(b.run(), DownloadOutcome::DataFrameFailed);
        QVERIFY2(clock.elapsed() < 2500, "a dead line must not sit out three time limits");
        QCOMPARE(b.op.messages, QStringList{"ISP Message|Transmit Data Failled!"});
        QVERIFY(!b.link.isOpen());
        QVERIFY(b.op.commandsEnabled);
        QCOMPARE(b.op.progressValue, 0);
    }

    void aLateRefusalIsNotTakenForTheNextAnswer()
    {
        // Frame 0's first answer comes after its time limit, while the tool
        // pauses after frame 1. Dropped before frame 2 goes out, it must not
        // count as frame 2's answer.
        DownloadTimings t = quick();
        t.pauseAfterFrame = 250ms;
        Bench b(t);
        b.plan({"data#0@1=0x15+300ms"});
        b.writeImage(randomImage(500));
        QCOMPARE(b.run(), DownloadOutcome::Completed);
        QCOMPARE(b.heard(), QStringList({"access", "erase", "data#0", "data#0", "data#1", "data#2", "end"}));
    }

    // A display that says more than it was asked is judged on all it said
    // (the transcript table holds the timing cases; this one needs a line).
    void nothingStaleAnswersALaterFrame_data()
    {
        QTest::addColumn<QStringList>("plan");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("heard");
        const int failed = int(DownloadOutcome::DataFrameFailed);
        const QString fast = QStringLiteral("19200,N,8,1");
        const QStringList start{"access", "erase", "data#0", "data#1"};
        // A stray byte and the refusal in one read: the read is the answer.
        // The line itself is the subject here (two bytes written together
        // arrive together); every other case of this kind is a transcript.
        QTest::newRow("a stray byte and a refusal written together")
            << QStringList{"access=0x07,0x07", "data#1=0xAA,0x15"} << fast << failed
            << start + QStringList{"data#1", "data#1"};
    }

    void nothingStaleAnswersALaterFrame()
    {
        QFETCH(QStringList, plan);
        QFETCH(QString, line);
        QFETCH(int, outcome);
        QFETCH(QStringList, heard);
        // Pauses long enough (15 times the 20 ms) for the late bytes to land in them.
        DownloadTimings t = quick();
        t.pauseAfterAccess = 300ms;
        t.pauseAfterFrame = 300ms;
        Bench b(t);
        b.settings.PortSettings = line;
        b.plan(plan);
        // Three frames, or one where every frame takes seconds.
        b.writeImage(randomImage(line == QLatin1String("600,N,8,1") ? 100 : 500));
        QCOMPARE(int(b.run()), outcome);
        const bool completes = outcome == int(DownloadOutcome::Completed);
        QTRY_COMPARE_WITH_TIMEOUT(b.sim.endFrames(), completes ? 1 : 0, 5000);
        QCOMPARE(b.heard(), heard);
        // A stale refusal would have a frame sent again, which the display
        // may never hear (a write drops what it has not read yet).
        QCOMPARE(b.result.retries, completes ? 0 : 2);
    }

    void theImageIsOneSnapshot()
    {
        Bench b;
        const QByteArray image = randomImage(600);
        const QString name = b.writeImage(image);
        b.op.onEvent = [&](const QString &e) {
            if (e.startsWith(QLatin1String("disable")))
                QVERIFY(!writeFile(name, QByteArray(100, 'X')).isEmpty());
        };
        QCOMPARE(b.run(), DownloadOutcome::Completed);
        QVERIFY(b.sim.image().startsWith(image));
    }

    // A stop is seen wherever the download is, and nothing goes out after
    // it: "now" stops from inside the procedure's own call, "queued" as a
    // signal or another thread does (delivered by the next event loop), a
    // time as a timer after the moment.
    void cancelStopsAtTheNextStep_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("delivery");  // "now", "queued" or milliseconds after the moment
        QTest::addColumn<QString>("pauses");    // after access / after each frame / before the end, ms
        QTest::addColumn<QStringList>("plan");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("heard");
        const int cancelled = int(DownloadOutcome::Cancelled);
        const QStringList frames{"access", "erase", "data#0", "data#1", "data#2", "data#3", "data#4", "data#5"};
        QTest::newRow("before the access command") << "disable" << "now" << "1/1/1" << QStringList{} << cancelled << QStringList{};
        QTest::newRow("after the first frame") << "value 1" << "now" << "1/1/1" << QStringList{} << cancelled
                                               << frames.mid(0, 3);
        QTest::newRow("inside a wait") << "wait data#0" << "100" << "1/1/1" << QStringList{"data#0=silent"} << cancelled
                                       << frames.mid(0, 3);
        QTest::newRow("inside the last frame's wait") << "wait data#5" << "100" << "1/1/1" << QStringList{"data#5=silent"}
                                                      << cancelled << frames;
        QTest::newRow("in the pause after the access command") << "answer 07" << "100" << "2000/1/1" << QStringList{}
                                                               << cancelled << frames.mid(0, 1);
        QTest::newRow("in the pause after a frame") << "value 1" << "100" << "1/2000/1" << QStringList{} << cancelled
                                                    << frames.mid(0, 3);
        QTest::newRow("in the pause before the end frame") << "value 6" << "100" << "1/1/2000" << QStringList{}
                                                           << cancelled << frames;
        QTest::newRow("between two attempts") << "answer 15" << "queued" << "1/1/1" << QStringList{"data#1@1=0x15"}
                                              << cancelled << frames.mid(0, 4);
        QTest::newRow("just before the end frame") << "value 6" << "queued" << "0/0/0" << QStringList{} << cancelled
                                                   << frames;
        QTest::newRow("after the end frame went out") << "end written" << "queued" << "0/0/0" << QStringList{}
                                                      << int(DownloadOutcome::Completed) << frames + QStringList{"end"};
    }

    void cancelStopsAtTheNextStep()
    {
        QFETCH(QString, when);
        QFETCH(QString, delivery);
        QFETCH(QString, pauses);
        QFETCH(QStringList, plan);
        QFETCH(int, outcome);
        QFETCH(QStringList, heard);
        DownloadTimings t = quick();
        t.dataTimeout = 5000ms;
        const QStringList ms = pauses.split(QLatin1Char('/'));
        t.pauseAfterAccess = std::chrono::milliseconds(ms.at(0).toInt());
        t.pauseAfterFrame = std::chrono::milliseconds(ms.at(1).toInt());
        t.pauseBeforeEnd = std::chrono::milliseconds(ms.at(2).toInt());
        Bench b(t);
        b.plan(plan);
        b.writeImage(randomImage(1000));
        QObject context;  // timers and queued calls die with the test
        const auto stop = [&] {
            if (delivery == QLatin1String("now"))
                b.download.stop();
            else if (delivery == QLatin1String("queued"))
                QMetaObject::invokeMethod(&context, [&] { b.download.stop(); }, Qt::QueuedConnection);
            else
                QTimer::singleShot(delivery.toInt(), &context, [&] { b.download.stop(); });
        };
        if (when.startsWith(QLatin1String("wait "))) {
            b.sim.setObserver([&](const SimLogEntry &e) {
                if (e.kind == MessageKind::DataFrame && QStringLiteral("wait data#%1").arg(e.frame) == when)
                    QMetaObject::invokeMethod(&context, stop, Qt::QueuedConnection);  // on the test's thread
            });
        } else if (when.startsWith(QLatin1String("answer ")) || when == QLatin1String("end written")) {
            QObject::connect(&b.link, &SerialLink::traffic, &context, [&](bool outgoing, const QByteArray &bytes) {
                const bool endFrame = outgoing && bytes.size() == Isp::kFrameSize && bytes.at(0) == char(Isp::kTypeEnd);
                if (endFrame ? when == QLatin1String("end written") : (!outgoing && "answer " + bytes.toHex() == when))
                    stop();
            });
        } else {
            b.op.onEvent = [&](const QString &e) {
                if (e.startsWith(when + QLatin1Char('|')))
                    stop();
            };
        }
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(int(b.run()), outcome);
        QVERIFY(clock.elapsed() < 3000);  // well under any pause a stop did not cut short
        const bool completed = outcome == int(DownloadOutcome::Completed);
        QCOMPARE(b.op.messages, completed ? QStringList{kOk} : QStringList{});  // never a success after a stop
        QCOMPARE(b.heard(), heard);
        QCOMPARE(b.sim.endFrames(), completed ? 1 : 0);
        QVERIFY(!b.link.isOpen());
        QVERIFY(b.op.commandsEnabled);
        QCOMPARE(b.op.progressValue, 0);
        QVERIFY(!b.download.isRunning());
    }

    // Only a regular file with something in it, and no more than the display
    // holds, ever reaches the port; nothing else may block or brick it.
    void imageKinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");  // NAME stands for the file's name
        const QString unreadable = QStringLiteral("ISP Message|Cann't Open File 'NAME'!");
        QTest::newRow("fifo") << "fifo" << int(DownloadOutcome::FileUnreadable) << unreadable;
        QTest::newRow("link to a fifo") << "link to fifo" << int(DownloadOutcome::FileUnreadable) << unreadable;
        QTest::newRow("char device") << "/dev/zero" << int(DownloadOutcome::FileUnreadable) << unreadable;
        QTest::newRow("terminal") << "pty" << int(DownloadOutcome::FileUnreadable) << unreadable;
        QTest::newRow("directory") << "directory" << int(DownloadOutcome::FileUnreadable) << unreadable;
        QTest::newRow("socket") << "socket" << int(DownloadOutcome::FileUnreadable) << unreadable;
        QTest::newRow("empty") << "0" << int(DownloadOutcome::ImageEmpty)
                               << "ISP Message|File 'NAME' is empty; there is nothing to send.";
        QTest::newRow("1 byte") << "1" << int(DownloadOutcome::Completed) << kOk;
        QTest::newRow("65504 bytes") << "65504" << int(DownloadOutcome::ImageTooLarge)
                                     << "ISP Message|File 'NAME' has 65504 bytes; at most 65503 bytes fit the display.";
        QTest::newRow("link to an image") << "link to 1" << int(DownloadOutcome::Completed) << kOk;
    }

    void imageKinds()
    {
        QFETCH(QString, kind);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        Bench b;
        QString name = b.dir.filePath(QStringLiteral("image"));
        QByteArray image;
        const QString target = kind.startsWith(QLatin1String("link to ")) ? kind.mid(8) : kind;
        if (target == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
        } else if (target == QLatin1String("directory")) {
            QVERIFY(QDir(b.dir.path()).mkdir(QStringLiteral("image")));
        } else if (target == QLatin1String("socket")) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(name).constData(), sizeof address.sun_path);
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
            ::close(fd);  // the socket file stays
        } else if (target == QLatin1String("pty")) {
            name = b.sim.devicePath();  // the display's own line, of all things
        } else if (target.startsWith(QLatin1Char('/'))) {
            name = target;
        } else {
            image = randomImage(target.toInt());
            QVERIFY(!writeFile(name, image).isEmpty());
        }
        if (kind.startsWith(QLatin1String("link to "))) {
            const QString link = b.dir.filePath(QStringLiteral("link.bin"));
            QVERIFY(QFile::link(name, link));
            name = link;
        }
        b.op.file = name;

        QCOMPARE(int(b.run()), outcome);
        QCOMPARE(b.op.messages, QStringList{QString(message).replace(QLatin1String("NAME"), name)});
        QVERIFY(!b.link.isOpen());
        QVERIFY(b.op.commandsEnabled);
        if (outcome != int(DownloadOutcome::Completed)) {
            // Refused before the port was touched.
            b.sim.hearOutstanding();
            QCOMPARE(b.sim.received(), QByteArray());
            QVERIFY(!b.op.steps().contains(QStringLiteral("disable|port open")));
        } else {
            QVERIFY(b.sim.waitForMessages(4));
            QCOMPARE(b.sim.endFrames(), 1);
            QVERIFY(b.sim.image().startsWith(image));
        }
    }

    void aNameThatIsNotUtf8()
    {
        Bench b;
        const QByteArray native = QFile::encodeName(b.dir.path()) + "/\xff\xfe.bin";
        const QByteArray image = randomImage(300);
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, image.constData(), size_t(image.size())), ssize_t(image.size()));
        ::close(fd);

        RecordingOperator op(&b.link);
        const ImagePath path = ImagePath::fromArgument(native, QString::fromLocal8Bit(native));
        QVERIFY(path.shown.contains(QChar::ReplacementCharacter));
        QCOMPARE(FirmwareImage::read(path).verdict, FirmwareImage::Verdict::Ready);
        QCOMPARE(FirmwareImage::read(path).bytes, image);
        // Qt's own reading of the name leads nowhere.
        QCOMPARE(FirmwareImage::read(ImagePath::fromName(path.shown)).verdict, FirmwareImage::Verdict::Unreadable);
    }

    // Success only when the end frame left for a line that was still there.
    void aLostLineAfterTheLastFrameIsNoSuccess_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("in the pause after the last frame") << "pause";
        QTest::newRow("as the end frame is written") << "write";
        QTest::newRow("while the end frame drains") << "drain";
    }

    void aLostLineAfterTheLastFrameIsNoSuccess()
    {
        QFETCH(QString, when);
        DownloadTimings t = quick();
        t.pauseAfterFrame = 100ms;
        Bench b(t);
        b.writeImage(randomImage(400));
        const int frames = Isp::dataFrameCount(400);
        // For the drain: a second opening of the line, to fill it.
        const int filler = when == QLatin1String("drain") ? openToolSide(b.sim.devicePath(), O_WRONLY | O_NONBLOCK, false) : -1;
        const auto closeFiller = qScopeGuard([filler] {
            if (filler >= 0)
                ::close(filler);
        });
        std::thread hangUpLater;
        QObject context;
        if (when == QLatin1String("pause")) {
            b.op.onEvent = [&](const QString &e) {
                if (e.startsWith(QStringLiteral("value %1|").arg(frames)))
                    b.sim.hangUp();
            };
        } else {
            QObject::connect(&b.link, &SerialLink::traffic, &context, [&](bool outgoing, const QByteArray &bytes) {
                if (!outgoing || bytes.size() != Isp::kFrameSize || bytes.at(0) != char(Isp::kTypeEnd))
                    return;
                if (when == QLatin1String("write")) {
                    b.sim.hangUp();
                    return;
                }
                // The display stops reading and its line fills up, so the end
                // frame waits in the port's buffer; the line dies meanwhile.
                b.sim.pauseReading(10s);
                // Big pieces first, then byte by byte: the kernel takes a small
                // write where a big one no longer fits. It also moves bytes on
                // towards the display a moment later and makes room again, so
                // fill until a second look finds none.
                for (const qsizetype piece : {qsizetype(4096), qsizetype(1)}) {
                    const QByteArray chunk(piece, char(0xFF));
                    for (int quiet = 0; quiet < 2;) {
                        if (::write(filler, chunk.constData(), size_t(chunk.size())) > 0) {
                            quiet = 0;
                            continue;
                        }
                        ++quiet;
                        std::this_thread::sleep_for(20ms);
                    }
                }
                hangUpLater = std::thread([&b] {
                    std::this_thread::sleep_for(100ms);
                    b.sim.hangUp();
                });
            });
        }
        const DownloadOutcome outcome = b.run();
        if (hangUpLater.joinable())
            hangUpLater.join();
        QCOMPARE(outcome, DownloadOutcome::DataFrameFailed);
        QCOMPARE(b.op.messages, QStringList{"ISP Message|Transmit Data Failled!"});
        QCOMPARE(b.op.progressValue, 0);
        QVERIFY(!b.link.isOpen());
        QVERIFY(b.op.commandsEnabled);
    }

    // The limits and pauses a real display is given, not the shortened ones
    // the other tests use: a slow display must still be waited for. Every
    // limit is a transcript row; this is the driver's timer on a real line.
    void defaultTimingsWaitForASlowDisplay_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::newRow("data answered after 2.7 s") << "data#1=0xAA+2700ms";
    }

    void defaultTimingsWaitForASlowDisplay()
    {
        QFETCH(QString, rule);
        Bench b{DownloadTimings{}};
        b.plan({rule});
        b.writeImage(randomImage(200));
        QCOMPARE(b.run(), DownloadOutcome::Completed);
        QCOMPARE(b.heard(), QStringList({"access", "erase", "data#0", "data#1", "end"}));
    }

    // Measured where the pauses are made, by the tool's own clock: from the
    // answer taken to the next message written. At the display the gaps
    // shrink whenever it reads late (a loaded machine).
    void defaultPausesBetweenFrames()
    {
        Bench b{DownloadTimings{}};
        b.writeImage(randomImage(184 * 3));
        QElapsedTimer clock;
        clock.start();
        QList<qint64> answerAt;
        QList<qint64> writtenAt;
        QObject context;
        QObject::connect(&b.link, &SerialLink::traffic, &context, [&](bool outgoing, const QByteArray &) {
            (outgoing ? writtenAt : answerAt).append(clock.elapsed());
        });
        QCOMPARE(b.run(), DownloadOutcome::Completed);
        // access, erase, four data frames, end; an answer to all but the end.
        QCOMPARE(writtenAt.size(), 7);
        QCOMPARE(answerAt.size(), 6);
        // 200 ms after each accepted frame, 10 more before the end frame.
        for (qsizetype i = 3; i < 6; ++i)
            QVERIFY2(writtenAt.at(i) - answerAt.at(i - 1) >= 200, qPrintable(QString::number(writtenAt.at(i) - answerAt.at(i - 1))));
        QVERIFY2(writtenAt.at(6) - answerAt.at(5) >= 210, qPrintable(QString::number(writtenAt.at(6) - answerAt.at(5))));
    }

    // The driver alone, on a line played in this process: each row ends once,
    // with nothing written after its end, whatever the line does then.
    void playedLine_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("refuseWrite");
        QTest::addColumn<int>("loseInWrite");
        QTest::addColumn<bool>("drainsWhole");
        QTest::addColumn<int>("readEarlierMs");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("framesWritten");
        QTest::addColumn<QString>("cause");
        // Two data frames: writes 1 access, 2 erase, 3 and 4 data, 5 end.
        QTest::newRow("completed") << QStringList{} << 0 << 0 << true << 0 << "completed" << 2 << "";
        QTest::newRow("a frame the line refuses") << QStringList{} << 4 << 0 << true << 0 << "data-frame-failed" << 1 << "";
        QTest::newRow("the line lost inside a frame") << QStringList{} << 0 << 4 << true << 0 << "data-frame-failed" << 1
                                                      << "cause: the line was lost: the line went away";
        QTest::newRow("the line lost inside the access") << QStringList{} << 0 << 1 << true << 0 << "access-timeout" << 0
                                                         << "cause: the line was lost: the line went away";
        QTest::newRow("an end frame that does not leave whole") << QStringList{} << 0 << 0 << false << 0 << "data-frame-failed" << 2 << "";
        // Its three attempts, each answered with two words.
        QTest::newRow("a frame answered twice over") << QStringList{"data#1=0xAA,0x15"} << 0 << 0 << true << 0 << "data-frame-failed"
                                                     << 4 << "cause: the display answered aa 15";
        // Every answer was read before its message was written, however late
        // it is handled: none is an answer, and the access times out.
        QTest::newRow("bytes judged by when they were read, not handled") << QStringList{} << 0 << 0 << true << 100
                                                                          << "access-timeout" << 0 << "";
    }

    void playedLine()
    {
        QFETCH(QStringList, faults);
        QFETCH(int, refuseWrite);
        QFETCH(int, loseInWrite);
        QFETCH(bool, drainsWhole);
        QFETCH(int, readEarlierMs);
        QFETCH(QString, outcome);
        QFETCH(int, framesWritten);
        QFETCH(QString, cause);
        PlayedLine line(19200);
        line.display.setFaultPlan(planOf(faults));
        line.refuseWrite = refuseWrite;
        line.loseInWrite = loseInWrite;
        line.drainsWhole = drainsWhole;
        line.readEarlier = std::chrono::milliseconds(readEarlierMs);
        FirmwareDownload download(line, quick());
        // Asked before it ever ran (a port that did not open): nothing, and no session to read.
        QCOMPARE(download.cause(), QString());
        QCOMPARE(download.framesWritten() + download.framesSent() + download.retries(), 0);
        QList<DownloadOutcome> ends;
        connect(&download, &FirmwareDownload::finished, this, [&](DownloadOutcome o) { ends << o; });
        const QByteArray image = randomImage(200);
        download.start(image);
        QVERIFY(QTest::qWaitFor([&] { return !ends.isEmpty(); }, 10000));
        QCOMPARE(outcomeWord(ends.constFirst()), outcome);
        QCOMPARE(download.framesWritten(), framesWritten);
        QCOMPARE(download.cause(), cause);
        if (outcome == QLatin1String("completed"))
            QCOMPARE(line.display.image(), image + QByteArray(2 * 184 - image.size(), '\0'));
        // After the end: whatever the line says, and a stop, change nothing.
        const int writes = line.writes;
        line.arrive(QByteArray(1, char(0xAA)));
        Q_EMIT line.drained(true);
        download.stop();
        line.lose();
        QTest::qWait(20);
        QCOMPARE(ends.size(), 1);
        QCOMPARE(line.writes, writes);
        QVERIFY(!download.isRunning());
    }

    // One table, both front ends: the window's command (through its
    // operator) and the command line's port job (through its PortResult)
    // end a download alike, leave the same record entry and let the port go.
    void bothFrontEndsEndAlike_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("setup");   // the port, the record
        QTest::addColumn<QString>("stopAt");  // when the operator stops it
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("record");  // the entry's state afterwards
        QTest::newRow("completed") << QStringList{} << "" << "" << "completed" << "holds";
        QTest::newRow("access time-out") << QStringList{"access=silent"} << "" << "" << "access-timeout" << "";
        QTest::newRow("wrong version") << QStringList{"access=0x1B"} << "" << "" << "wrong-version" << "";
        QTest::newRow("access refused") << QStringList{"access=0xAA"} << "" << "" << "access-refused" << "";
        QTest::newRow("erase failed") << QStringList{"erase=0x07"} << "" << "" << "erase-failed" << "did-not-complete";
        QTest::newRow("data frame failed") << QStringList{"data#1=0x15"} << "" << "" << "data-frame-failed" << "did-not-complete";
        QTest::newRow("line lost") << QStringList{"data#1=hangup"} << "" << "" << "data-frame-failed" << "did-not-complete";
        QTest::newRow("port unavailable") << QStringList{} << "missing port" << "" << "port-unavailable" << "";
        QTest::newRow("record unwritable") << QStringList{} << "unwritable record" << "" << "record-unwritable" << "";
        QTest::newRow("held image skipped") << QStringList{} << "held" << "" << "up-to-date" << "holds";
        QTest::newRow("a stop while the record is written") << QStringList{} << "slow record" << "start" << "cancelled" << "";
        QTest::newRow("a stop in the access wait") << QStringList{"access=silent"} << "" << "100 ms" << "cancelled"
                                                   << "did-not-complete";
        QTest::newRow("a stop mid-data") << QStringList{} << "" << "frame 1" << "cancelled" << "did-not-complete";
    }

    void bothFrontEndsEndAlike()
    {
        QFETCH(QStringList, faults);
        QFETCH(QString, setup);
        QFETCH(QString, stopAt);
        QFETCH(QString, outcome);
        QFETCH(QString, record);
        for (const bool window : {true, false}) {
            const QString frontEnd = window ? QStringLiteral("window: ") : QStringLiteral("command line: ");
            QTemporaryDir dir;
            SimulatedDisplay sim;
            sim.setFaultPlan(planOf(faults));
            QString recordPath = dir.filePath(QStringLiteral("displays.json"));
            if (setup == QLatin1String("unwritable record")) {  // a file where its folder would be
                QVERIFY(!writeFile(dir.filePath(QStringLiteral("file")), "x").isEmpty());
                recordPath = dir.filePath(QStringLiteral("file/displays.json"));
            }
            DisplayRecord onDisk(recordPath);
            const bool slow = setup == QLatin1String("slow record");
            if (slow)
                onDisk.slowEachSaveBy(600ms);
            RecordKeeper records(onDisk);
            const QString device = setup == QLatin1String("missing port") ? QStringLiteral("/dev/custdisp-nothing-here") : sim.devicePath();
            const Target target = targetAt(device, QStringLiteral("19200,N,8,1"));
            const QString file = writeFile(dir.filePath(QStringLiteral("fw.bin")), randomImage(400));
            const auto image = std::make_shared<const FirmwareImage>(FirmwareImage::read(ImagePath::fromName(file)));
            const DisplayKey key = DownloadRecord::keyOf(device);
            if (setup == QLatin1String("held")) {
                DisplayEntry held = DownloadRecord::underWay(key, *image, QStringLiteral("custdisp"));
                held.state = DisplayEntry::State::Holds;
                QCOMPARE(records.record().put(key, held), QString());
            }
            const RecordUse use{true, setup == QLatin1String("held")};
            std::optional<DownloadOutcome> ended;
            QTimer stopTimer;
            stopTimer.setSingleShot(true);
            SerialLink link;
            RecordingOperator op(&link);
            op.file = file;
            IspCommand isp(link, op, records, quick());
            PortJob job(CliCommand::Isp, target, {}, image, false, false, records, use, quick());
            const auto stop = [&] { window ? isp.stop() : job.cancel(); };
            connect(&stopTimer, &QTimer::timeout, &stopTimer, stop);
            const auto progressed = [&](int value) {
                if (stopAt == QLatin1String("frame 1") && value == 1) {
                    stop();
                    stop();  // a second stop changes nothing
                }
            };
            connect(&isp, &IspCommand::finished, &isp, [&](const DownloadResult &r) { ended = r.outcome; });
            connect(&job, &PortJob::finished, &job, [&](const PortResult &r) { ended = r.outcome; });
            op.onEvent = [&](const QString &e) { progressed(e.section(u' ', 1, 1).section(u'|', 0, 0).toInt() * e.startsWith(QLatin1String("value"))); };
            connect(&job, &PortJob::progress, &job, progressed);
            // The loop goes on while the record is saved: no save waits on it.
            QElapsedTimer sinceTick;
            qint64 longestGap = 0;
            QTimer ticks;
            connect(&ticks, &QTimer::timeout, &ticks, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
            ticks.start(10ms);
            sinceTick.start();
            window ? isp.run(target, use) : job.run();
            if (stopAt == QLatin1String("start"))
                stop();
            else if (stopAt == QLatin1String("100 ms"))
                stopTimer.start(100ms);
            QTRY_VERIFY2_WITH_TIMEOUT(ended.has_value(), qPrintable(frontEnd + QStringLiteral("no end")), 10000);
            QVERIFY2(outcomeWord(*ended) == outcome, qPrintable(frontEnd + outcomeWord(*ended)));
            // A stop after the end changes nothing.
            ended.reset();
            stop();
            QCoreApplication::processEvents();
            QVERIFY2(!ended, qPrintable(frontEnd + QStringLiteral("ended twice")));
            QVERIFY2(!slow || longestGap < 400, qPrintable(frontEnd + QStringLiteral("the loop stood still for %1 ms").arg(longestGap)));
            // Nothing is opened before the record says "under way", nor for a display that holds the image.
            if (slow || outcome == QLatin1String("record-unwritable") || outcome == QLatin1String("up-to-date")) {
                QVERIFY2(op.events.filter(QStringLiteral("|port open")).isEmpty(), qPrintable(frontEnd + op.events.join(u',')));
                QVERIFY2(sim.log().isEmpty(), qPrintable(frontEnd + QStringLiteral("the display heard something")));
            }
            const std::optional<DisplayEntry> entry = records.record().load().find(key);
            QVERIFY2((entry ? entry->stateWord() : QString()) == record, qPrintable(frontEnd + (entry ? entry->stateWord() : QStringLiteral("none"))));
            QVERIFY2(!link.isOpen(), qPrintable(frontEnd + QStringLiteral("port still open")));
            SerialLink after;
            // (A hung-up display's line comes back only when the display is ready again.)
            if (device == sim.devicePath() && !faults.join(u' ').contains(QLatin1String("hangup")))
                QVERIFY2(!after.open(target), qPrintable(frontEnd + QStringLiteral("port not let go")));
        }
    }

    void messagesForEveryOutcome()
    {
        QCOMPARE(downloadMessage(DownloadOutcome::Completed), QStringLiteral("ISP Transmit OK!"));
        QCOMPARE(downloadMessage(DownloadOutcome::DataFrameFailed), QStringLiteral("Transmit Data Failled!"));
        QCOMPARE(downloadMessage(DownloadOutcome::Cancelled), QString());
        QCOMPARE(downloadMessage(DownloadOutcome::DialogCancelled), QString());
    }
};

QTEST_GUILESS_MAIN(TestFirmwareDownload)
#include "tst_firmwaredownload.moc"
