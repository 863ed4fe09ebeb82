// Which device a name reaches, and what the operator is told when it cannot
// be opened.
#include "link/devicefacts.h"
#include "link/openfailure.h"
#include "settings/portmap.h"
#include "link/seriallink.h"
#include "sim/simulateddisplay.h"
#include "testsupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestPortAccess : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void causeLines_data()
    {
        // clang-format off
        QTest::addColumn<int>("cause");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("mode");
        QTest::addColumn<qint64>("lockPid");  // 0: no lock file found; below 0: a running process's
        QTest::addColumn<QString>("line");
        const int denied = int(OpenFailureCause::PermissionDenied);
        const int busy = int(OpenFailureCause::Busy);
        QTest::newRow("missing") << int(OpenFailureCause::Missing) << "" << "" << 0 << qint64(0)
                                 << "cause: /dev/ttyUSB0 does not exist; serial ports here: /dev/ttyS0";
        QTest::newRow("missing, by another name")
            << int(OpenFailureCause::Missing) << "/dev/serial/by-id/usb-x" << "" << 0 << qint64(0)
            << "cause: /dev/serial/by-id/usb-x (/dev/ttyUSB0) does not exist";
        QTest::newRow("not a serial port") << int(OpenFailureCause::NotASerialPort) << "" << "" << 0 << qint64(0)
                                           << "cause: /dev/ttyUSB0 is not a serial port; serial ports here: /dev/ttyS0";
        QTest::newRow("group may read and write")
            << denied << "" << "dialout" << 0660 << qint64(0)
            << "cause: permission denied on /dev/ttyUSB0; it belongs to group 'dialout': join it with 'sudo usermod -aG dialout $USER'";
        QTest::newRow("group may only read")
            << denied << "" << "dialout" << 0640 << qint64(0)
            << "(owner root, group dialout, mode 0640 (rw-r-----)); joining a group would not help: grant access with a udev rule";
        QTest::newRow("group may only write") << denied << "" << "dialout" << 0620 << qint64(0) << "mode 0620 (rw--w----)";
        QTest::newRow("root's group") << denied << "" << "root" << 0660 << qint64(0)
                                      << "group root, mode 0660 (rw-rw----)); joining a group would not help";
        QTest::newRow("udev rule names the device") << denied << "" << "root" << 0600 << qint64(0) << "KERNEL==\"ttyUSB0\"";
        QTest::newRow("busy") << busy << "" << "" << 0 << qint64(0) << "cause: /dev/ttyUSB0 is in use by another program";
        QTest::newRow("busy, by another name") << busy << "/tmp/display" << "" << 0 << qint64(0)
                                               << "cause: /tmp/display (/dev/ttyUSB0) is in use by another program";
        QTest::newRow("another program's lock") << busy << "" << "" << 0 << qint64(-4242)
                                                << "cause: /dev/ttyUSB0 is in use by another program (process 4242, "
                                                   "lock file /var/lock/LCK..ttyUSB0)";
        QTest::newRow("stale lock") << busy << "" << "" << 0 << qint64(4242)
                                    << "cause: /dev/ttyUSB0 is locked by /var/lock/LCK..ttyUSB0 of process 4242, "
                                       "which no longer runs (left by a crash); remove that file: sudo rm /var/lock/LCK..ttyUSB0";
        // clang-format on
    }

    void causeLines()
    {
        QFETCH(int, cause);
        QFETCH(QString, given);
        QFETCH(QString, group);
        QFETCH(int, mode);
        QFETCH(qint64, lockPid);
        QFETCH(QString, line);
        OpenFailure f(OpenFailureCause(cause), QStringLiteral("/dev/ttyUSB0"));
        f.given = given;
        if (!group.isEmpty())
            f.access = DeviceAccess{QStringLiteral("root"), group, uint(mode)};
        if (lockPid != 0)
            f.lock = PortLock{QStringLiteral("/var/lock/LCK..ttyUSB0"), qAbs(lockPid), lockPid < 0};
        const QString text = f.causeLine(QStringLiteral("/dev/ttyS0"));
        QVERIFY2(text.contains(line), qPrintable(text));
        // Group advice only where joining the group would grant access.
        QCOMPARE(text.contains(QLatin1String("usermod")), group == QLatin1String("dialout") && mode == 0660);
    }

    void realDevices_data()
    {
        // clang-format off
        QTest::addColumn<QString>("name");  // DIR: a scratch folder; SIM: the display's device
        QTest::addColumn<QString>("real");
        QTest::newRow("real name") << "SIM" << "SIM";
        QTest::newRow("link") << "DIR/display" << "SIM";
        QTest::newRow("link to a link") << "DIR/again" << "SIM";
        QTest::newRow("relative link") << "./display" << "SIM";
        QTest::newRow("dot segments") << "DIR/../DIRNAME/display" << "SIM";
        QTest::newRow("bare name is under /dev") << "null" << "/dev/null";
        QTest::newRow("missing stays absolute") << "DIR/nothing" << "DIR/nothing";
        // clang-format on
    }

    void realDevices()
    {
        QFETCH(QString, name);
        QFETCH(QString, real);
        SimulatedDisplay sim;
        QTemporaryDir dir;
        QVERIFY(QFile::link(sim.devicePath(), dir.filePath(QStringLiteral("display"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("display")), dir.filePath(QStringLiteral("again"))));
        const QString canonicalDir = QDir(dir.path()).canonicalPath();
        const auto fill = [&](QString s) {
            return s.replace(QLatin1String("DIRNAME"), QDir(dir.path()).dirName())
                .replace(QLatin1String("DIR"), canonicalDir)
                .replace(QLatin1String("SIM"), sim.devicePath());
        };
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString resolved = DeviceFacts::realDevicePath(fill(name));
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(resolved, fill(real));
    }

    // One lock per device: a second link is refused whichever name either uses.
    void oneDeviceOneUser_data()
    {
        QTest::addColumn<bool>("firstByLink");
        QTest::addColumn<bool>("secondByLink");
        QTest::newRow("real, then link") << false << true;
        QTest::newRow("link, then real") << true << false;
        QTest::newRow("link, then link") << true << true;
    }

    void oneDeviceOneUser()
    {
        QFETCH(bool, firstByLink);
        QFETCH(bool, secondByLink);
        SimulatedDisplay sim;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("display"));
        QVERIFY(QFile::link(sim.devicePath(), link));
        SerialLink first;
        QSignalSpy opened(&first, &SerialLink::opened);
        QVERIFY(!first.open(targetAt(firstByLink ? link : sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.at(0).at(1).toString(), sim.devicePath());

        SerialLink second;
        const std::optional<OpenFailure> failure = second.open(targetAt(secondByLink ? link : sim.devicePath(), QStringLiteral("9600,N,8,1")));
        QVERIFY(failure);
        QCOMPARE(failure->cause, OpenFailureCause::Busy);
        QCOMPARE(failure->device, sim.devicePath());
        QCOMPARE(failure->given, secondByLink ? link : QString());
    }

    // After a lost line nothing counts as written, and the loss is remembered
    // until the port is opened again.
    void aLostLineIsRemembered()
    {
        SimulatedDisplay sim;
        SerialLink link;
        QVERIFY(!link.open(targetAt(sim.devicePath(), QStringLiteral("9600,N,8,1"))));
        QSignalSpy drained(&link, &LineLink::drained);
        QVERIFY(link.write(hex("02800381")));
        link.startDrain();
        QTRY_COMPARE(drained.size(), 1);
        QCOMPARE(drained.takeFirst().at(0).toBool(), true);
        QVERIFY(!link.lineWasLost());
        sim.hangUp();
        QVERIFY(!link.write(hex("02800381")));
        QVERIFY(link.lineWasLost());
        link.startDrain();
        QTRY_COMPARE(drained.size(), 1);
        QCOMPARE(drained.takeFirst().at(0).toBool(), false);
        QVERIFY(!link.isOpen());

        SimulatedDisplay other;
        QVERIFY(!link.open(targetAt(other.devicePath(), QStringLiteral("9600,N,8,1"))));
        QVERIFY(!link.lineWasLost());
    }

    void unavailableTexts_data()
    {
        QTest::addColumn<bool>("direct");
        QTest::addColumn<QString>("text");
        QTest::newRow("a numbered port") << false << "COM 3: not available.";
        QTest::newRow("a device named directly") << true << "/dev/ttyUSB9: not available.";
    }

    void unavailableTexts()
    {
        QFETCH(bool, direct);
        QFETCH(QString, text);
        PortMap map;
        QVERIFY(direct ? map.setDirect(3, QStringLiteral("/dev/ttyUSB9")) : map.setOverride(3, QStringLiteral("/dev/ttyUSB9")));
        QCOMPARE(map.unavailableText(3), text);
        QCOMPARE(map.unavailableText(2), QStringLiteral("COM 2: not available."));
        // A later plain override takes the direct name back.
        QVERIFY(map.setOverride(3, QStringLiteral("/dev/ttyUSB1")));
        QCOMPARE(map.unavailableText(3), QStringLiteral("COM 3: not available."));
    }
};

QTEST_GUILESS_MAIN(TestPortAccess)
#include "tst_portaccess.moc"
