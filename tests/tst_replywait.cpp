#include "link/replywait.h"
#include "link/seriallink.h"
#include "sim/simulateddisplay.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

class TestReplyWait : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void classify_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<bool>("accessPhase");
        QTest::addColumn<int>("code");
        QTest::newRow("access 07") << hex("07") << true << 1;
        QTest::newRow("access 1B") << hex("1B") << true << 7;
        QTest::newRow("access AA is a refusal") << hex("AA") << true << 2;
        QTest::newRow("access 00") << hex("00") << true << 2;
        QTest::newRow("frame AA") << hex("AA") << false << 1;
        QTest::newRow("frame 07 is a failure") << hex("07") << false << 2;
        QTest::newRow("frame 1B") << hex("1B") << false << 2;
        QTest::newRow("only the first byte counts") << hex("AA07") << false << 1;
        QTest::newRow("first byte wrong, second right") << hex("15AA") << false << 2;
        QTest::newRow("empty, access") << QByteArray() << true << 0;
        QTest::newRow("empty, frame") << QByteArray() << false << 0;
    }

    void classify()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(bool, accessPhase);
        QFETCH(int, code);
        QCOMPARE(int(Reply::classify(chunk, accessPhase)), code);
    }

    // The raw master side of a pty, so the test decides every answer byte.
    void waitOutcomes_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("answerAfterMs");  // -1: never
        QTest::addColumn<bool>("accessPhase");
        QTest::addColumn<int>("code");
        QTest::newRow("accepted at once") << hex("AA") << 0 << false << 1;
        QTest::newRow("accepted late") << hex("AA") << 80 << false << 1;
        QTest::newRow("refused") << hex("15") << 10 << false << 2;
        QTest::newRow("wrong version") << hex("1B") << 10 << true << 7;
        QTest::newRow("several bytes, first counts") << hex("07AA1B") << 10 << true << 1;
        QTest::newRow("silence") << QByteArray() << -1 << false << 0;
        QTest::newRow("too late") << hex("AA") << 400 << false << 0;
    }

    void waitOutcomes()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, answerAfterMs);
        QFETCH(bool, accessPhase);
        QFETCH(int, code);

        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master >= 0);
        const auto closeMaster = qScopeGuard([master] { ::close(master); });
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QString slave = QString::fromLocal8Bit(::ptsname(master));
        SerialLink link;
        QVERIFY(!link.open(slave, QStringLiteral("9600,N,8,1")));
        ReplyWait wait(link);
        wait.AccessPhase = accessPhase;

        // The answer belongs to this row: its timer dies with `row` (declared
        // last, so gone before the descriptor and the buffer it uses), even
        // when it is due after the row's time limit.
        QObject row;
        if (answerAfterMs >= 0) {
            QTimer::singleShot(answerAfterMs, &row, [&] {
                QCOMPARE(::write(master, answer.constData(), size_t(answer.size())), ssize_t(answer.size()));
            });
        }
        const auto limit = 200ms;
        QElapsedTimer t;
        t.start();
        QCOMPARE(int(wait.wait(limit, {std::chrono::steady_clock::now(), {}})), code);
        QVERIFY(wait.waitDone());
        if (code == 0)
            QVERIFY2(t.elapsed() >= limit.count(), "a time limit never ends early");
        link.close();
    }

    void bufferedAnswerIsNotLost()
    {
        // An answer that is already waiting when the wait starts counts.
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        QVERIFY(link.write(hex("0401848417")));
        QTest::qWait(100);  // the display answers 07 meanwhile
        ReplyWait wait(link);
        wait.AccessPhase = true;
        QCOMPARE(wait.wait(1000ms, {std::chrono::steady_clock::now(), {}}), ReplyCode::Accepted);
    }

    void lostLineEndsTheWaitAtOnce()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        ReplyWait wait(link);
        QObject scope;  // the timer must not outlive the display it hangs up
        QTimer::singleShot(50, &scope, [&] { sim.hangUp(); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(wait.wait(5000ms, {std::chrono::steady_clock::now(), {}}), ReplyCode::NoAnswer);
        QVERIFY2(t.elapsed() < 4000, "the wait must not sit out its limit on a dead line");
        QVERIFY(!link.isOpen());
        // Later waits on the closed link return at once.
        QCOMPARE(wait.wait(5000ms, {std::chrono::steady_clock::now(), {}}), ReplyCode::NoAnswer);
    }

    void abortEndsTheWait()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(sim.devicePath(), QStringLiteral("9600,N,8,1")));
        ReplyWait wait(link);
        QObject scope;  // the timer must not outlive the wait it aborts
        QTimer::singleShot(20, &scope, [&] { wait.abort(); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(wait.wait(5000ms, {std::chrono::steady_clock::now(), {}}), ReplyCode::NoAnswer);
        QVERIFY(t.elapsed() < 4000);
    }
};

QTEST_GUILESS_MAIN(TestReplyWait)
#include "tst_replywait.moc"
