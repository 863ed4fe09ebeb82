// The real custdisp-sim binary, driven through its pseudo-terminal.
#include "link/seriallink.h"
#include "programsupport.h"
#include "simsupport.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

Run runToTheEnd(const QStringList &args)
{
    return runProgram(QStringLiteral(CUSTDISP_SIM), args, 5000);
}

// Writes a message and returns the first chunk of the answer (empty after 2 s).
QByteArray ask(SerialLink &link, const QByteArray &message)
{
    link.dropInput();
    if (!link.write(message))
        return {};
    [[maybe_unused]] const bool arrived =
        QTest::qWaitFor([&] { return link.bytesAvailable() > 0 || !link.isOpen(); }, 2000);
    return link.takeInput();
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

}  // namespace

class TestSimProgram : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    // Access, erase and the data frames of `image`, each answered as a healthy
    // display answers; false at the first other answer.
    static bool sendFrames(SerialLink &link, const QByteArray &image)
    {
        if (ask(link, Hand::accessCommand()) != hex("07") || ask(link, Hand::eraseFrame()) != hex("AA"))
            return false;
        for (qsizetype start = 0; start < image.size(); start += 184) {
            if (ask(link, Hand::dataFrame(int(start), image.mid(start, 184))) != hex("AA"))
                return false;
        }
        return true;
    }

private Q_SLOTS:
    void usageErrorsExitWithTwo_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("why");  // part of what it says on stderr
        const QString dir = m_dir.path();
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "Unknown option 'bogus'";
        QTest::newRow("missing value") << QStringList{"--fault"} << "Missing value after '--fault'";
        QTest::newRow("an argument") << QStringList{"extra"} << "unexpected argument 'extra'";
        QTest::newRow("arguments after options") << QStringList{"--pace", "a", "b"} << "unexpected argument 'a'";
        QTest::newRow("not a rule") << QStringList{"--fault", "flash=silent"} << "not a fault rule";
        QTest::newRow("frame number overflows") << QStringList{"--fault", "data#99999999999=silent"}
                                                << "data frame 99999999999 would never match";
        QTest::newRow("frame past the last") << QStringList{"--fault", "data#356=0x15"} << "the last is 355";
        QTest::newRow("attempt 0") << QStringList{"--fault", "data@0=silent"} << "attempts count from 1";
        QTest::newRow("delay over a minute") << QStringList{"--fault", "access=0x07+60001ms"} << "over the limit";
        QTest::newRow("numbered end") << QStringList{"--fault", "end#1=hangup"} << "only data frames have numbers";
        QTest::newRow("one bad rule among good ones")
            << QStringList{"--fault", "access=0x1B", "--fault", "erase#2=silent"} << "erase would never match";
        QTest::newRow("image into a missing directory")
            << QStringList{"--save-image", dir + "/missing/fw.bin"} << "directory " + dir + "/missing does not exist";
        QTest::newRow("image onto a directory") << QStringList{"--save-image", dir} << dir + " is a directory";
        QTest::newRow("image without a name") << QStringList{"--save-image="} << "needs a file name";
        QTest::newRow("image onto a device") << QStringList{"--save-image", "/dev/null"} << "/dev/null is not a regular file";
    }

    void usageErrorsExitWithTwo()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, why);
        const Run e = runToTheEnd(args);
        QCOMPARE(e.exitCode, 2);
        QVERIFY2(e.err.contains(why), qPrintable(e.err));
        QCOMPARE(e.out, QString());  // it never got as far as opening a line
    }

    void helpAndVersion_data()
    {
        // clang-format off
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("says");
        QTest::newRow("help") << "--help" << "+hangup";
        QTest::newRow("version") << "--version" << CUSTDISP_VERSION;
        // clang-format on
    }

    void helpAndVersion()
    {
        QFETCH(QString, option);
        QFETCH(QString, says);
        const Run e = runToTheEnd({option});
        QCOMPARE(e.exitCode, 0);
        QVERIFY2(e.out.contains(says), qPrintable(e.out));
    }

    void theImageLineSaysWhatItHashes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("zerosAtEnd");  // of the image itself
        QTest::addColumn<int>("received");    // whole blocks
        QTest::newRow("1000 bytes") << 1000 << 0 << 1104;
        QTest::newRow("one whole block") << 184 << 0 << 184;
        QTest::newRow("an image ending in zeros") << 1000 << 10 << 1104;
    }

    void theImageLineSaysWhatItHashes()
    {
        QFETCH(int, size);
        QFETCH(int, zerosAtEnd);
        QFETCH(int, received);
        QByteArray image = randomImage(size - zerosAtEnd);
        image[image.size() - 1] = char(0x5A);  // the image's own last non-zero byte
        image += QByteArray(zerosAtEnd, '\0');
        const QString saved = m_dir.filePath(QStringLiteral("rebuilt-%1.bin").arg(QTest::currentDataTag()));
        Sim sim({"--save-image", saved});
        QVERIFY(!sim.device.isEmpty());
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.device, QStringLiteral("9600,N,8,1"))));
        QVERIFY(sendFrames(link, image));
        QVERIFY(link.write(Hand::endFrame()));
        link.close();

        QVERIFY2(sim.waitFor(QStringLiteral("\nimage:")), qPrintable(sim.output()));
        QVERIFY(sim.waitFor(QStringLiteral("\n"), 1000));
        const QByteArray padded = image + QByteArray(received - size, '\0');
        const QByteArray trimmed = image.left(size - zerosAtEnd);
        const QString line = QStringLiteral("image: %1 bytes received (padded to whole blocks), sha256 %2; "
                                            "without trailing zeros: %3 bytes, sha256 %4\n")
                                 .arg(received)
                                 .arg(sha256(padded))
                                 .arg(trimmed.size())
                                 .arg(sha256(trimmed));
        QVERIFY2(sim.waitFor(line), qPrintable(sim.output()));
        QCOMPARE(sim.output().count(QLatin1String("line: ")), 1);  // shown when it changes, not before every message
        QVERIFY(sim.output().contains(QLatin1String("line: 9600,N,8,1\n")));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), padded);  // as received
    }

    // The image's file is opened anew at each end frame: whatever took its
    // place meanwhile is refused with a line, and never blocks the display.
    void aFifoInPlaceOfTheImageIsRefused()
    {
        const QString saved = m_dir.filePath(QStringLiteral("turned-fifo.bin"));
        Sim sim({"--save-image", saved});
        QVERIFY(!sim.device.isEmpty());
        QVERIFY(::mkfifo(QFile::encodeName(saved).constData(), 0600) == 0);
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.device, QStringLiteral("9600,N,8,1"))));
        QVERIFY(sendFrames(link, randomImage(100)));
        QVERIFY(link.write(Hand::endFrame()));
        QVERIFY(sim.waitFor(QStringLiteral("\nimage:")));
        QVERIFY(link.write(hex("02800381")));  // it still listens
        QVERIFY2(sim.waitFor(QStringLiteral("version query")), qPrintable(sim.output()));
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT((err += QString::fromLocal8Bit(sim.process.readAllStandardError())).contains('\n'), 5000);
        QCOMPARE(err, "custdisp-sim: cannot write " + saved + ": not a regular file\n");
    }

    void answerThenHangUpKillsTheLineBeforeTheEndFrame()
    {
        Sim sim({"--fault", "data#1=0xAA+hangup"});
        QVERIFY(!sim.device.isEmpty());
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.device, QStringLiteral("9600,N,8,1"))));
        QSignalSpy lost(&link, &SerialLink::lineLost);
        QVERIFY(sendFrames(link, randomImage(368)));  // frame 1 is the last: its answer arrives
        QVERIFY(link.write(Hand::endFrame()));
        QVERIFY(lost.wait(2000));
        QVERIFY(sim.finish());
        QVERIFY(sim.output().contains(QStringLiteral("hangs up after the answer) -> 0xAA")));
        QVERIFY(!sim.output().contains(QStringLiteral(" end")));  // the display never heard the end frame
        QVERIFY(!sim.output().contains(QLatin1String("image:")));
    }

    void endRulesAct_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("hangsUp");
        QTest::newRow("end=0x5A") << "end=0x5A" << hex("5A") << false;
        QTest::newRow("end=hangup") << "end=hangup" << QByteArray() << true;
    }

    void endRulesAct()
    {
        QFETCH(QString, rule);
        QFETCH(QByteArray, answer);
        QFETCH(bool, hangsUp);
        Sim sim({"--fault", rule});
        QVERIFY(!sim.device.isEmpty());
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.device, QStringLiteral("9600,N,8,1"))));
        QSignalSpy lost(&link, &SerialLink::lineLost);
        QVERIFY(sendFrames(link, randomImage(100)));
        QVERIFY(link.write(Hand::endFrame()));
        QVERIFY(sim.waitFor(QStringLiteral("image:")));
        if (hangsUp)
            QVERIFY(lost.wait(2000));
        else
            QTRY_COMPARE(link.bytesAvailable(), qint64(answer.size()));
        QCOMPARE(link.takeInput(), answer);
        QCOMPARE(lost.count(), hangsUp ? 1 : 0);
        QCOMPARE(sim.output().contains(QLatin1String("(image of 184 bytes; hung up)")), hangsUp);
    }

    void noiseMakesAFewLinesOnly()
    {
        // A million bytes of noise: a line per run of it (a run is cut every
        // second at most), each saying how many bytes it stands for.
        Sim sim;
        QVERIFY(!sim.device.isEmpty());
        const int fd = openToolSide(sim.device);
        QVERIFY(fd >= 0);
        constexpr qint64 kNoise = 1'000'000;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(writeNoise(fd, kNoise));
        const QByteArray query = hex("02800381");
        QCOMPARE(::write(fd, query.constData(), size_t(query.size())), ssize_t(query.size()));
        const bool heard = sim.waitFor(QStringLiteral("version query"), 30000);
        ::close(fd);
        QVERIFY2(heard, qPrintable(sim.output().right(2000)));

        static const QRegularExpression run(QStringLiteral(R"(garbage: (ff(?: ff)*)(?: \.\.\. \((\d+) bytes in all\))?)"));
        qint64 bytes = 0;
        int lines = 0;
        for (const QString &line : sim.output().split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = run.match(line);
            if (!m.hasMatch())
                continue;
            ++lines;
            bytes += m.hasCaptured(2) ? m.captured(2).toLongLong() : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
        }
        QCOMPARE(bytes, kNoise);
        QVERIFY2(lines >= 1 && lines <= 2 + clock.elapsed() / 1000, qPrintable(QString::number(lines)));
        QVERIFY2(sim.output().size() < 4000, qPrintable(sim.output().left(4000)));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
