#include "settings/settings.h"
#include "commands/displaycommands.h"

#include <QTest>

// Which field a group writes, read back from a Settings value.
static QString fieldSnapshot(const Settings &s)
{
    // clang-format off
    return QStringLiteral("%1 %2 %3").arg(s.CommPortNumber).arg(s.PortSettings,
        QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(s.ParamPacket.data()), 8).toHex(' ')));
    // clang-format on
}

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startValues()
    {
        const Settings s;
        QCOMPARE(s.CommPortNumber, qint16(1));
        QCOMPARE(s.PortSettings, QStringLiteral("9600,N,8,1"));
        const std::array<quint8, 8> expected{0x02, 0x01, 0x31, 0x30, 0x0A, 0x00, 0x03, 0x00};
        QCOMPARE(s.ParamPacket, expected);
    }

    void startSelectionsMatchStartValues()
    {
        // Clicking every group's start member must change nothing.
        Settings s;
        const QString before = fieldSnapshot(s);
        for (const OptionGroup *g : {&OptionGroups::port(), &OptionGroups::baudRate(), &OptionGroups::displayBaud(),
                                     &OptionGroups::language(), &OptionGroups::codeTable(), &OptionGroups::emulation()})
            (s.*(g->click))(g->startIndex);
        QCOMPARE(fieldSnapshot(s), before);
    }

    void clickRules_data()
    {
        // clang-format off
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("portSettings");
        QTest::addColumn<QByteArray>("bytes2to5");

        const QByteArray start = QByteArray::fromHex("31300A00");
        QTest::newRow("Com 1") << "OptPort" << "Com 1" << 1 << "9600,N,8,1" << start;
        QTest::newRow("Com 4") << "OptPort" << "Com 4" << 4 << "9600,N,8,1" << start;
        QTest::newRow("line 600") << "OptBaud" << "600" << 1 << "600,N,8,1" << start;
        QTest::newRow("line 2400") << "OptBaud" << "2400" << 1 << "2400,N,8,1" << start;
        QTest::newRow("line 19200") << "OptBaud" << "19200" << 1 << "19200,N,8,1" << start;
        QTest::newRow("display 600") << "optBaud1" << "600" << 1 << "9600,N,8,1" << QByteArray::fromHex("35300A00");
        QTest::newRow("display 4800") << "optBaud1" << "4800" << 1 << "9600,N,8,1" << QByteArray::fromHex("32300A00");
        QTest::newRow("display 19200") << "optBaud1" << "19200" << 1 << "9600,N,8,1" << QByteArray::fromHex("30300A00");
        QTest::newRow("FRANCE") << "OptLg" << "FRANCE" << 1 << "9600,N,8,1" << QByteArray::fromHex("31310A00");
        QTest::newRow("NORWAY") << "OptLg" << "NORWAY" << 1 << "9600,N,8,1" << QByteArray::fromHex("31390A00");
        QTest::newRow("DENMARK II") << "OptLg" << "DENMARK II" << 1 << "9600,N,8,1" << QByteArray::fromHex("313A0A00");
        QTest::newRow("RESERVED") << "OptLg" << "RESERVED" << 1 << "9600,N,8,1" << QByteArray::fromHex("313D0A00");
        QTest::newRow("JAPAN_CODE") << "OptCode" << "JAPAN_CODE" << 1 << "9600,N,8,1" << QByteArray::fromHex("31300100");
        QTest::newRow("WPC1252_CODE") << "OptCode" << "WPC1252_CODE" << 1 << "9600,N,8,1" << QByteArray::fromHex("31300900");
        QTest::newRow("ESC/POS") << "OptCMD" << "ESC/POS" << 1 << "9600,N,8,1" << QByteArray::fromHex("31300A01");
        QTest::newRow("CD5220") << "OptCMD" << "CD5220" << 1 << "9600,N,8,1" << QByteArray::fromHex("31300A06");
        // clang-format on
    }

    void clickRules()
    {
        QFETCH(QString, group);
        QFETCH(QString, caption);
        QFETCH(int, port);
        QFETCH(QString, portSettings);
        QFETCH(QByteArray, bytes2to5);

        const OptionGroup *g = nullptr;
        for (const OptionGroup *candidate : {&OptionGroups::port(), &OptionGroups::baudRate(), &OptionGroups::displayBaud(),
                                             &OptionGroups::language(), &OptionGroups::codeTable(), &OptionGroups::emulation()}) {
            if (QLatin1String(candidate->name) == group)
                g = candidate;
        }
        QVERIFY(g);
        const std::optional<int> index = g->indexOf(caption.toLower());  // names match without regard to case
        QVERIFY(index);
        Settings s;
        (s.*(g->click))(*index);
        QCOMPARE(int(s.CommPortNumber), port);
        QCOMPARE(s.PortSettings, portSettings);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(s.ParamPacket.data()) + 2, 4), bytes2to5);
        QCOMPARE(s.ParamPacket[0], quint8(2));
        QCOMPARE(s.ParamPacket[7], quint8(0));
    }

    void everyMemberStaysInRange()
    {
        Settings s;
        for (int i = 0; i <= 5; ++i) {
            s.clickOptBaud1(i);
            QVERIFY(s.ParamPacket[2] >= 48 && s.ParamPacket[2] <= 53);
        }
        for (int i = 0; i <= 13; ++i) {
            s.clickOptLg(i);
            QCOMPARE(int(s.ParamPacket[3]), 48 + i);  // a character code, never two digits
        }
    }

    void indicesOutsideAGroupChangeNothing_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("0") << 0;
        QTest::newRow("7") << 7;
        QTest::newRow("-1") << -1;
        QTest::newRow("99") << 99;
    }

    void indicesOutsideAGroupChangeNothing()
    {
        QFETCH(int, index);
        Settings s;
        const QString before = fieldSnapshot(s);
        s.clickOptBaud(index);
        s.clickOptPort(index < 0 ? index : index + 4);
        s.clickOptCMD(index < 0 ? index : index + 7);
        s.clickOptCode(index < 0 ? index : index + 10);
        QCOMPARE(fieldSnapshot(s), before);
    }

    void baudGroupsAreIndependent()
    {
        Settings s;
        s.clickOptBaud(6);
        QCOMPARE(s.ParamPacket[2], quint8(0x31));
        s.clickOptBaud1(5);
        QCOMPARE(s.PortSettings, QStringLiteral("19200,N,8,1"));
    }

    void packetCheckByte_data()
    {
        QTest::addColumn<QByteArray>("bytes2to5");
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("defaults") << hexOf("31300A00") << hexOf("020131300A00030B");
        QTest::newRow("19200 RESERVED JAPAN CD5220") << hexOf("303D0106") << hexOf("0201303D0106030A");
        QTest::newRow("check byte zero") << hexOf("35300500") << hexOf("0201353005000300");
    }

    void packetCheckByte()
    {
        QFETCH(QByteArray, bytes2to5);
        QFETCH(QByteArray, packet);
        std::array<quint8, 8> p{};
        p[7] = 0xEE;  // a stale check byte must not leak into the new one
        for (int i = 0; i < 4; ++i)
            p[std::size_t(2 + i)] = quint8(bytes2to5[i]);
        QCOMPARE(DisplayPacket::bytes(DisplayPacket::parameterPacket(p)), packet);
    }

private:
    static QByteArray hexOf(const char *h) { return QByteArray::fromHex(h); }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
