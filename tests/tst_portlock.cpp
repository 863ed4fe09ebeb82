// The tool's own hold on a device: on Windows one holder per device, in any
// spelling of its name, until it lets go or ends; on Linux the lock file
// beside the device is the rule and the hold never refuses.
#include "link/portlock.h"

#include <QTest>


class TestPortLock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneHolderPerDevice()
    {
        // Names no other test or program uses.
        const QString device = QStringLiteral("COM%1").arg(QCoreApplication::applicationPid() % 1000 + 300);
        const QString other = device + QLatin1Char('0');
        PortHold first;
        PortHold second;
        QVERIFY(first.take(device));
#ifdef Q_OS_WIN
        QVERIFY(!second.take(device));
        QVERIFY(!second.take(device.toLower()));
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
