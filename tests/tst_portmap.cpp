// Which device each "Com N" names, and how the user's choice is kept.
#include "link/devicefacts.h"
#include "record/displayrecord.h"
#include "settings/portmap.h"
#include "settings/portstore.h"
#include "sim/simulateddisplay.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

DisplayEntry recordEntry(const DisplayKey &key, DisplayEntry::State state)
{
    DisplayEntry e;
    e.key = key;
    e.state = state;
    e.image = QStringLiteral("fw.bin");
    e.sha256 = QString(64, u'a');
    e.size = 900;
    e.frames = 5;
    e.when = QDateTime::currentDateTimeUtc();
    e.program = QStringLiteral("custdisp-cli");
    return e;
}

}  // namespace

class TestPortMap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // This run's name beats the saved one, which beats the platform's.
    void precedence_data()
    {
        // clang-format off
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("thisRun");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("source");
        QTest::newRow("nothing named") << "" << "" << "/dev/ttyS2" << int(PortMap::Source::Default);
        QTest::newRow("saved") << "/dev/ttyUSB0" << "" << "/dev/ttyUSB0" << int(PortMap::Source::Saved);
        QTest::newRow("this run") << "" << "/dev/ttyACM0" << "/dev/ttyACM0" << int(PortMap::Source::ThisRun);
        QTest::newRow("this run over saved") << "/dev/ttyUSB0" << "/dev/ttyACM0" << "/dev/ttyACM0"
                                             << int(PortMap::Source::ThisRun);
        QTest::newRow("saved blank is the default") << "  " << "" << "/dev/ttyS2" << int(PortMap::Source::Default);
        // clang-format on
    }

    void precedence()
    {
        QFETCH(QString, saved);
        QFETCH(QString, thisRun);
        QFETCH(QString, device);
        QFETCH(int, source);
        PortMap map;
        QVERIFY(map.setSaved(3, saved));
        if (!thisRun.isEmpty())
            QVERIFY(map.setOverride(3, thisRun));
        QCOMPARE(map.deviceFor(3), device);
        QCOMPARE(int(map.sourceOf(3)), source);
        // The other ports are untouched.
        QCOMPARE(map.deviceFor(2), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(map.sourceOf(2), PortMap::Source::Default);
        // Dropping this run's name brings the saved one back.
        map.clearOverride(3);
        QCOMPARE(map.deviceFor(3), saved.trimmed().isEmpty() ? QStringLiteral("/dev/ttyS2") : saved);
        QVERIFY(!map.setSaved(5, QStringLiteral("/dev/ttyUSB0")));
        QVERIFY(!map.setSaved(0, QStringLiteral("/dev/ttyUSB0")));
    }

    void theUsersFolder()
    {
        QTemporaryDir home;
        const QByteArray before = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        const QString path = PortStore::defaultPath();
        qputenv("XDG_CONFIG_HOME", before);
        QCOMPARE(path, home.path() + QStringLiteral("/custdisp/ports.ini"));
    }

    void savedChoicesComeBack()
    {
        QTemporaryDir dir;
        const PortStore store(dir.filePath(QStringLiteral("custdisp/ports.ini")));
        QVERIFY(store.load().devices.isEmpty());  // no file yet: nothing saved
        QCOMPARE(store.save(1, QStringLiteral("/dev/serial/by-id/usb-FTDI_A1-if00-port0")), QString());
        QCOMPARE(store.save(3, QStringLiteral("/dev/ttyACM0")), QString());
        QCOMPARE(store.save(4, QStringLiteral("COM7")), QString());
        QCOMPARE(store.save(4, QString()), QString());  // back to the default
        const PortStore::Contents c = PortStore(store.path()).load();
        QCOMPARE(c.warning, QString());
        QCOMPARE(c.devices, (QMap<int, QString>{{1, "/dev/serial/by-id/usb-FTDI_A1-if00-port0"}, {3, "/dev/ttyACM0"}}));
        QCOMPARE(store.save(5, QStringLiteral("/dev/ttyUSB0")), QStringLiteral("there is no Com 5"));
    }

    // What makes no sense is ignored entry by entry, with one warning; the
    // rest still counts, and saving keeps it.
    void aMalformedFile_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("com2");
        QTest::newRow("port 7") << QByteArray("[ports]\ncom7=/dev/x\ncom2=/dev/ttyUSB0\n") << "ports/com7 (not Com 1 to Com 4)"
                                << "/dev/ttyUSB0";
        QTest::newRow("no device") << QByteArray("[ports]\ncom1=\ncom2=/dev/ttyUSB0\n") << "ports/com1 (no device)" << "/dev/ttyUSB0";
        QTest::newRow("unknown key") << QByteArray("[ports]\nspeed=9600\ncom2=/dev/ttyUSB0\n") << "ports/speed (unknown)"
                                     << "/dev/ttyUSB0";
        QTest::newRow("outside the group") << QByteArray("com2=/dev/ttyACM0\n[ports]\ncom2=/dev/ttyUSB0\n") << "com2 (unknown)"
                                           << "/dev/ttyUSB0";
        QTest::newRow("binary junk") << QByteArray("\x01\xff\xfe[[[\n=\n[ports]\ncom2=/dev/ttyUSB0\n") << "" << "/dev/ttyUSB0";
        QTest::newRow("port zero") << QByteArray("[ports]\ncom0=/dev/x\n") << "ports/com0 (not Com 1 to Com 4)" << "";
        // clang-format on
    }

    void aMalformedFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, warning);
        QFETCH(QString, com2);
        QTemporaryDir dir;
        const PortStore store(dir.filePath(QStringLiteral("ports.ini")));
        QVERIFY(writeText(store.path(), text));
        const PortStore::Contents c = store.load();
        QVERIFY2(c.warning.contains(warning), qPrintable(c.warning));
        QCOMPARE(c.warning.count(QLatin1Char('\n')), 0);
        QCOMPARE(c.devices.value(2), com2);
        QVERIFY(!c.devices.contains(7) && !c.devices.contains(0));
        // Saving another entry keeps this one.
        QCOMPARE(store.save(3, QStringLiteral("/dev/ttyACM1")), QString());
        QCOMPARE(store.load().devices.value(2), com2);
        QCOMPARE(store.load().devices.value(3), QStringLiteral("/dev/ttyACM1"));
    }

    // A map that is no regular file is never read (a FIFO would block every
    // start) and never silently taken for an empty one.
    void aMapThatIsNotAFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("folder") << "folder";
        QTest::newRow("link to a device") << "/dev/zero";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("noise") << "noise";
    }

    void aMapThatIsNotAFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ports.ini"));
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ports.ini")));
        else if (kind == QLatin1String("dangling"))
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), path));
        else if (kind == QLatin1String("noise"))
            QVERIFY(writeText(path, QByteArray("\x01\x02 no such thing \xff\n\x7f")));
        else
            QVERIFY(QFile::link(kind, path));
        const PortStore::Contents c = PortStore(path).load();  // returns: nothing blocks
        QVERIFY(c.devices.isEmpty());
        QVERIFY2(c.warning.contains(QStringLiteral("the saved port map is ignored")), qPrintable(c.warning));
        if (kind != QLatin1String("noise") && kind != QLatin1String("dangling"))
            QVERIFY(!PortStore(path).save(1, QStringLiteral("/dev/ttyUSB0")).isEmpty());
    }

    void devicesAreKeptAsNamesThatLast_data()
    {
        // clang-format off
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("kept");  // CWD: the current folder
        QTest::newRow("absolute") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
        QTest::newRow("bare name") << "ttyUSB0" << "ttyUSB0";
        QTest::newRow("relative path") << "adapters/usb0" << "CWD/adapters/usb0";
        QTest::newRow("windows name") << "COM5" << "COM5";
        // clang-format on
    }

    void devicesAreKeptAsNamesThatLast()
    {
        QFETCH(QString, device);
        QFETCH(QString, kept);
        QTemporaryDir byId;
        QCOMPARE(DeviceFacts::stableName(device, byId.path()), kept.replace(QLatin1String("CWD"), QDir::currentPath()));
    }

    void controlCharactersAreRefused()
    {
        QTemporaryDir dir;
        const PortStore store(dir.filePath(QStringLiteral("ports.ini")));
        QVERIFY(!store.save(1, QStringLiteral("/dev/a\nb")).isEmpty());
        QVERIFY(store.load().devices.isEmpty());
    }

    void aFolderThatCannotBeWritten()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QTemporaryDir dir;
        const PortStore store(dir.filePath(QStringLiteral("ports.ini")));
        QCOMPARE(store.save(1, QStringLiteral("/dev/ttyUSB0")), QString());
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        const QString why = store.save(2, QStringLiteral("/dev/ttyUSB1"));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(why.contains(QStringLiteral("cannot write")));
        // The old file is untouched.
        QCOMPARE(store.load().devices, (QMap<int, QString>{{1, "/dev/ttyUSB0"}}));
    }

    void aFileThatCannotBeReplaced()
    {
        // Root ignores permissions; a folder in the file's place stops it too.
        QTemporaryDir dir;
        const PortStore store(dir.filePath(QStringLiteral("ports.ini")));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ports.ini")));
        QVERIFY(!store.save(1, QStringLiteral("/dev/ttyUSB0")).isEmpty());
    }

    // An adapter is kept by the name that finds it in any USB socket.
    void stableNames()
    {
        SimulatedDisplay sim;
        QTemporaryDir byId;
        const QString link = byId.filePath(QStringLiteral("usb-FTDI_FT232R_A12345-if00-port0"));
        QVERIFY(QFile::link(sim.devicePath(), link));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), byId.filePath(QStringLiteral("another"))));
        QCOMPARE(DeviceFacts::stableName(sim.devicePath(), byId.path()), link);
        QCOMPARE(DeviceFacts::stableName(link, byId.path()), link);
        // No stable name: the device as it was given.
        SimulatedDisplay other;
        QCOMPARE(DeviceFacts::stableName(other.devicePath(), byId.path()), other.devicePath());
        QCOMPARE(DeviceFacts::stableName(QStringLiteral("/dev/ttyUSB0"), byId.filePath(QStringLiteral("none"))),
                 QStringLiteral("/dev/ttyUSB0"));
    }

    // Which display record entry a port's key finds: an adapter's by-id name
    // decides alone, wherever the adapter is plugged in; the device node
    // only where neither side has one.
    void recordKeys_data()
    {
        QTest::addColumn<QString>("kept");   // "device|by-id" of the entry on disk
        QTest::addColumn<QString>("asked");  // the key a download looks up
        QTest::addColumn<bool>("found");
        const QString a = QStringLiteral("/dev/serial/by-id/usb-FTDI_A1-if00-port0");
        const QString b = QStringLiteral("/dev/serial/by-id/usb-FTDI_B2-if00-port0");
        QTest::newRow("one adapter, plugged into another socket") << "/dev/ttyUSB0|" + a << "/dev/ttyUSB3|" + a << true;
        QTest::newRow("another adapter on the same node") << "/dev/ttyUSB0|" + a << "/dev/ttyUSB0|" + b << false;
        QTest::newRow("no by-id name on either side, same node") << "/dev/ttyS0|" << "/dev/ttyS0|" << true;
        QTest::newRow("no by-id name on either side, other node") << "/dev/ttyS0|" << "/dev/ttyS1|" << false;
        QTest::newRow("an adapter where a plain port was kept") << "/dev/ttyUSB0|" << "/dev/ttyUSB0|" + a << false;
        QTest::newRow("a plain port where an adapter was kept") << "/dev/ttyUSB0|" + a << "/dev/ttyUSB0|" << false;
    }

    void recordKeys()
    {
        QFETCH(QString, kept);
        QFETCH(QString, asked);
        QFETCH(bool, found);
        const auto keyOf = [](const QString &text) { return DisplayKey{text.section(u'|', 0, 0), text.section(u'|', 1)}; };
        QTemporaryDir dir;
        const DisplayRecord record(dir.filePath(QStringLiteral("displays.json")));
        DisplayEntry entry = recordEntry(keyOf(kept), DisplayEntry::State::Holds);
        QCOMPARE(record.put(entry.key, entry), QString());
        QCOMPARE(record.load().find(keyOf(asked)).has_value(), found);
        // Forgetting the asked display's entry takes this one only if it is the same display.
        QCOMPARE(record.put(keyOf(asked), std::nullopt), QString());
        QCOMPARE(record.load().entries.size(), found ? 0 : 1);
    }

    // Two entries of one display, as a hand-edited file may hold them: the
    // one that claims less is believed, in either order.
    void recordBelievesTheLesserClaim_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("believed");
        using S = DisplayEntry::State;
        QTest::newRow("holds, then under way") << int(S::Holds) << int(S::UnderWay) << int(S::UnderWay);
        QTest::newRow("under way, then holds") << int(S::UnderWay) << int(S::Holds) << int(S::UnderWay);
        QTest::newRow("holds, then did not complete") << int(S::Holds) << int(S::DidNotComplete) << int(S::DidNotComplete);
    }

    void recordBelievesTheLesserClaim()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, believed);
        QTemporaryDir dir;
        const DisplayRecord record(dir.filePath(QStringLiteral("displays.json")));
        const DisplayKey key{QStringLiteral("/dev/ttyS0"), {}};
        const QJsonArray both{recordEntry(key, DisplayEntry::State(first)).toJson(), recordEntry(key, DisplayEntry::State(second)).toJson()};
        QVERIFY(writeText(record.path(), QJsonDocument(QJsonObject{{"displays", both}}).toJson()));
        QCOMPARE(int(record.load().find(key)->state), believed);
    }

    // A record grown over its size cap loses its oldest entries on the next
    // save, never the other displays' valid ones.
    void recordOverItsCapKeepsTheNewest()
    {
        QTemporaryDir dir;
        const DisplayRecord record(dir.filePath(QStringLiteral("displays.json")));
        QJsonArray many;
        const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-30);
        for (int i = 0; many.size() < 2 * DisplayRecord::kMaxEntries; ++i) {
            DisplayEntry e = recordEntry({QStringLiteral("/dev/ttyX%1").arg(i), {}}, DisplayEntry::State::Holds);
            e.image = QString(1800, u'f');  // about 2 kB an entry: 2 MB in all
            e.when = start.addSecs(i);
            many.append(e.toJson());
        }
        QVERIFY(writeText(record.path(), QJsonDocument(QJsonObject{{"displays", many}}).toJson()));
        QVERIFY(QFileInfo(record.path()).size() > DisplayRecord::kMaxFileSize);
        const DisplayKey key{QStringLiteral("/dev/ttyNEW"), {}};
        QCOMPARE(record.put(key, recordEntry(key, DisplayEntry::State::Holds)), QString());
        QVERIFY(QFileInfo(record.path()).size() <= DisplayRecord::kMaxFileSize);
        const DisplayRecord::Contents kept = record.load();
        QCOMPARE(kept.warning, QString());
        QVERIFY2(kept.entries.size() > DisplayRecord::kMaxEntries / 4, qPrintable(QString::number(kept.entries.size())));
        QVERIFY(kept.find(key));
        const int newest = 2 * DisplayRecord::kMaxEntries - 1;
        QVERIFY(kept.find({QStringLiteral("/dev/ttyX%1").arg(newest), {}}));
        QVERIFY(!kept.find({QStringLiteral("/dev/ttyX0"), {}}));
        // The oldest went, and only they: the entries kept are the newest ones.
        QVERIFY(kept.find({QStringLiteral("/dev/ttyX%1").arg(newest - int(kept.entries.size()) + 2), {}}));
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
