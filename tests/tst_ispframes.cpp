#include "isp/ispframes.h"
#include "testsupport.h"

#include <QTest>

class TestIspFrames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fixedMessages()
    {
        QCOMPARE(Isp::accessCommand(), hex("0401848417"));
        QCOMPARE(Isp::eraseFrame(), QByteArray(192, '\0'));
        QCOMPARE(Isp::endFrame(), hex("05") + QByteArray(191, '\0'));
    }

    void dataFrames_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("checksum");
        QTest::newRow("first, all zero") << 0 << QByteArray(184, '\0') << hex("010000B700") << 0xB7;
        QTest::newRow("second, all zero") << 184 << QByteArray(184, '\0') << hex("0100B86F01") << 0xD6;
        QTest::newRow("last that fits") << 65320 << QByteArray(184, '\0') << hex("01FF28DFFF") << (0xFF ^ 0x28 ^ 0xDF ^ 0xFF);
        QTest::newRow("abc at 0") << 0 << QByteArray("abc") << hex("010000B700") << 0xD7;
        QTest::newRow("short block padded") << 368 << QByteArray(1, char(0x5A)) << hex("0101702702")
                                            << (0x01 ^ 0x70 ^ 0x27 ^ 0x02 ^ 0x5A);
    }

    void dataFrames()
    {
        QFETCH(int, start);
        QFETCH(QByteArray, block);
        QFETCH(QByteArray, header);
        QFETCH(int, checksum);
        const QByteArray f = Isp::dataFrame(quint16(start), block);
        QCOMPARE(f.size(), 192);
        QCOMPARE(f.first(5), header);
        QCOMPARE(f.mid(5, block.size()), block);
        QCOMPARE(f.mid(5 + block.size(), 184 - block.size()), QByteArray(184 - block.size(), '\0'));
        QCOMPARE(int(quint8(f[189])), checksum);
        QCOMPARE(f.right(2), hex("55AA"));
    }

    void frameCount_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("frames");
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("183") << 183 << 1;
        QTest::newRow("184") << 184 << 2;
        QTest::newRow("367") << 367 << 2;
        QTest::newRow("368") << 368 << 3;
        QTest::newRow("largest") << int(Isp::kMaxImageSize) << Isp::kMaxDataFrames;
    }

    void frameCount()
    {
        QFETCH(int, size);
        QFETCH(int, frames);
        QCOMPARE(Isp::dataFrameCount(size), frames);
    }

    void lastFrameOfTheLargestImageFits()
    {
        // The start address of the last frame must not wrap past 16 bits.
        const int lastStart = (Isp::dataFrameCount(Isp::kMaxImageSize) - 1) * int(Isp::kBlockSize);
        QCOMPARE(lastStart, 65320);
        QVERIFY(lastStart + Isp::kBlockSize - 1 <= 0xFFFF);
        QVERIFY(Isp::dataFrameCount(Isp::kMaxImageSize + 1) * Isp::kBlockSize - 1 > 0xFFFF);
    }
};

QTEST_GUILESS_MAIN(TestIspFrames)
#include "tst_ispframes.moc"
