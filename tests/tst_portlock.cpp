// The tool's own hold on a device: on Windows one holder per device, in any
// spelling of its name, until it lets go or ends; on Linux the lock file
// beside the device is the rule and the hold never refuses. And the names of
// Windows' ports the hold goes by, which are pure and checked everywhere.
#include "link/portlock.h"
#include "link/portname.h"

#include <QTest>


class TestPortLock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowsSpellings_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("port");  // empty: names no port
        QTest::newRow("COM5") << "COM5" << "COM5";
        QTest::newRow("lower case") << "com5" << "COM5";
        QTest::newRow("mixed case") << "cOm12" << "COM12";
        QTest::newRow("device namespace") << "\\\\.\\COM5" << "COM5";
        QTest::newRow("path namespace") << "\\\\?\\com5" << "COM5";
        QTest::newRow("forward slashes") << "//./COM5" << "COM5";
        QTest::newRow("mode's colon") << "COM5:" << "COM5";
        QTest::newRow("prefix and colon") << "\\\\.\\COM10:" << "COM10";
        QTest::newRow("three digits") << "COM256" << "COM256";
        QTest::newRow("two colons") << "COM5::" << "";
        QTest::newRow("no number") << "COM" << "";
        QTest::newRow("no number, colon") << "COM:" << "";
        QTest::newRow("COM0") << "COM0" << "";
        QTest::newRow("leading zero") << "COM05" << "";
        QTest::newRow("a letter after") << "COM5a" << "";
        QTest::newRow("a space") << "COM 5" << "";
        QTest::newRow("another device") << "LPT1" << "";
        QTest::newRow("a drive path") << "Z:\\dev\\pts\\8" << "";
        QTest::newRow("a Linux path") << "/dev/ttyS4" << "";
        QTest::newRow("prefix alone") << "\\\\.\\" << "";
        QTest::newRow("empty") << "" << "";
    }

    void windowsSpellings()
    {
        QFETCH(QString, given);
        QFETCH(QString, port);
        const std::optional<QString> canonical = WindowsPortName::canonical(given);
        QCOMPARE(canonical.value_or(QString()), port);
    }

    void windowsMapWarnings_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("warning");  // empty: nothing to say
        QTest::newRow("present") << "COM5" << "";
        QTest::newRow("present, another spelling") << "\\\\.\\com5:" << "";
        QTest::newRow("forgotten") << "" << "";
        QTest::newRow("absent") << "COM99" << "COM99 is not present; serial ports here: COM1, COM5; saved all the same";
        QTest::newRow("not a port") << "/dev/ttyUSB0"
                                    << "/dev/ttyUSB0 is not a serial port name here (COM1, COM2, ...); "
                                       "serial ports here: COM1, COM5; saved all the same";
    }

    void windowsMapWarnings()
    {
        QFETCH(QString, device);
        QFETCH(QString, warning);
        QCOMPARE(WindowsPortName::mapWarning(device, {QStringLiteral("COM1"), QStringLiteral("COM5")}), warning);
    }

    void oneHolderPerDevice()
    {
        // Names no other test or program uses.
        const QString device = QStringLiteral("COM%1").arg(QCoreApplication::applicationPid() % 1000 + 300);
        const QString other = device + QLatin1Char('0');
        PortHold first;
        PortHold second;
        QVERIFY(first.take(device));
#ifdef Q_OS_WIN
        for (const QString &spelling : {device, device.toLower(), QStringLiteral("\\\\.\\") + device,
                                        QStringLiteral("\\\\?\\") + device, device + QLatin1Char(':')})
            QVERIFY2(!second.take(spelling), qPrintable(spelling));
        QVERIFY(second.take(other));  // another device is free
        // A refused take leaves nothing held: the first one let go of its
        // device before it tried the other.
        QVERIFY(!first.take(other));
        QVERIFY(second.take(device));
        // And second, taking that, let go of the other.
        {
            PortHold scoped;
            QVERIFY(scoped.take(other));
        }
        PortHold third;
        QVERIFY(third.take(other));  // the scoped one let go as it ended
        second.release();
        QVERIFY(first.take(device));
#else
        QVERIFY(second.take(device));
#endif
    }
};

QTEST_GUILESS_MAIN(TestPortLock)
#include "tst_portlock.moc"
