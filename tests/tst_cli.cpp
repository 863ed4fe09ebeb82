// The real custdisp-cli binary against the real custdisp-sim binary.
#include "link/seriallink.h"
#include "settings/portstore.h"
#include "programsupport.h"
#include "testsupport.h"

#include <QScopeGuard>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The command line as another user, for what root is never refused.
bool canRunAsNobody()
{
    return ::geteuid() == 0 && QFile::exists(QStringLiteral("/usr/bin/setpriv"));
}

Run cliAsNobody(const QStringList &args)
{
    return runProgram(QStringLiteral("/usr/bin/setpriv"),
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", CUSTDISP_CLI} + args, 30000);
}

// The value at "ports.0.outcome" as text: strings as they are, numbers and
// booleans as JSON writes them, an array as its length ("[0]").
QString jsonAt(QJsonValue value, const QString &path)
{
    for (const QString &key : path.split(QLatin1Char('.')))
        value = value.isArray() ? value.toArray().at(key.toInt()) : value.toObject().value(key);
    if (value.isArray())
        return QStringLiteral("[%1]").arg(value.toArray().size());
    if (value.isString())
        return value.toString();
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

bool setOwnerAndMode(const QString &path, uid_t owner, gid_t group, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), owner, group) == 0 && ::chmod(name.constData(), mode) == 0;
}


using QMapIntString = QMap<int, QString>;

}  // namespace

class TestCli : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString writeImage(const QByteArray &image, const QString &name = QStringLiteral("fw.bin"))
    {
        return writeFile(m_dir.filePath(name), image);
    }

    std::unique_ptr<QTemporaryDir> m_config;

    QString recordFolder() const { return m_config->filePath(QStringLiteral("record")); }
    QString recordFile() const { return recordFolder() + QStringLiteral("/displays.json"); }
    // The display record's entries as the file holds them.
    QJsonArray recordEntries() const
    {
        QFile f(recordFile());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("displays")).toArray();
    }
    QJsonObject recordOf(const QString &device) const
    {
        for (const QJsonValue &v : recordEntries()) {
            if (v.toObject().value(QStringLiteral("device")).toString() == device)
                return v.toObject();
        }
        return {};
    }
    static QString shaOf(const QByteArray &bytes)
    {
        return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }

private Q_SLOTS:
    // Every test starts with no saved port map, and never touches the user's.
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
        qputenv("CUSTDISP_RECORD_DIR", QFile::encodeName(recordFolder()));
    }

    void params_data()
    {
        // clang-format off
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("defaults") << QStringList{} << "02 01 31 30 0a 00 03 0b"
                                  << "baud 9600, language USA, code USA_EUROPE_CODE, emulation DSP800";
        QTest::newRow("captions, any case")
            << QStringList{"--display-baud", "19200", "--language", "reserved", "--code", "Japan_Code", "--emulation", "cd5220"}
            << "02 01 30 3d 01 06 03 0a" << "baud 19200, language RESERVED, code JAPAN_CODE, emulation CD5220";
        QTest::newRow("blanks and slashes") << QStringList{"--language", "denmark ii", "--emulation", "UTC/P", "-b", "2400"}
                                            << "02 01 31 3a 0a 04 03 05"
                                            << "baud 9600, language DENMARK II, code USA_EUROPE_CODE, emulation UTC/P";
        // clang-format on
    }

    void params()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, sent);
        QFETCH(QString, decoded);
        Sim sim;
        const Run r = cli(QStringList{"params", "-p", sim.device} + args);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("sent " + sent), qPrintable(r.err));
        QVERIFY2(sim.waitFor("parameters: " + decoded), qPrintable(sim.output()));
    }

    void version_data()
    {
        QTest::addColumn<bool>("byLink");
        QTest::newRow("by its name") << false;
        QTest::newRow("by a link") << true;
    }

    void version()
    {
        QFETCH(bool, byLink);
        Sim sim;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("display"));
        QVERIFY(QFile::link(sim.device, link));
        const Run r = cli({"version", "-p", byLink ? link : sim.device, "--trace"});
        QCOMPARE(r.exitCode, 0);
        // The trace names the real device behind a link.
        const QString opened = byLink ? QStringLiteral("%1 (%2)").arg(link, sim.device) : sim.device;
        QVERIFY2(r.err.contains("] open " + opened + "\n"), qPrintable(r.err));
        QVERIFY(r.err.contains("> 02 80 03 81"));
        QVERIFY(sim.waitFor("version query"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("unknown language") << QStringList{"params", "--language", "KLINGON"}
                                          << "choose one of: USA, FRANCE, GERMANY, U.K, DENMARK I";
        QTest::newRow("unknown emulation") << QStringList{"params", "--emulation", "VT100"} << "DSP800, ESC/POS";
        QTest::newRow("unknown baud") << QStringList{"version", "-b", "115200"} << "600, 1200, 2400, 4800, 9600, 19200";
        QTest::newRow("port 7") << QStringList{"version", "-p", "7"} << "use 1 to 4";
        QTest::newRow("no command") << QStringList{} << "no command";
        QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command 'flash'";
        QTest::newRow("isp without file") << QStringList{"isp"} << "exactly one FILE";
        QTest::newRow("param option elsewhere") << QStringList{"version", "--code", "EURO_CODE"} << "belongs to params";
        QTest::newRow("unknown option") << QStringList{"version", "--frobnicate"} << "frobnicate";
        QTest::newRow("simulate and a port") << QStringList{"version", "--simulate", "-p", "2"} << "cannot be combined with -p";
        QTest::newRow("dry run of params") << QStringList{"params", "--dry-run"} << "--dry-run belongs to isp";
        QTest::newRow("dry run of version") << QStringList{"version", "--dry-run"} << "--dry-run belongs to isp";
        QTest::newRow("speed twice") << QStringList{"version", "-b", "19200", "-b", "600"} << "--baud is given 2 times";
        QTest::newRow("language twice") << QStringList{"params", "--language", "USA", "--language", "JAPAN"}
                                        << "--language is given 2 times";
        QTest::newRow("ports with a port") << QStringList{"ports", "-p", "2"} << "--port does not apply";
        QTest::newRow("ports with a trace") << QStringList{"ports", "--trace"} << "--trace does not apply";
        QTest::newRow("simulate and a device") << QStringList{"isp", "--simulate", "-p", "/dev/ttyUSB0", "x.bin"}
                                               << "cannot be combined with -p";
    }

    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        const Run r = cli(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(complaint), qPrintable(r.err));
    }

    void helpListsTheExitCodes()
    {
        const Run r = cli({"--help"});
        QCOMPARE(r.exitCode, 0);
        for (const char *line : {"3  port unavailable", "5  image size not accepted (empty, or over 65,503 bytes)",
                                 "10  data frame failed", "11  cancelled"})
            QVERIFY2(r.out.contains(QLatin1String(line)), line);
    }

    void ispRebuildsTheImage()
    {
        const QString saved = m_dir.filePath(QStringLiteral("rebuilt.bin"));
        Sim sim({"--save-image", saved});
        const QByteArray image = randomImage(1000);
        const Run r = cli({"isp", "-p", sim.device, "-b", "19200", writeImage(image)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("ISP Transmit OK!\n"));
        // Not a terminal: plain lines, no carriage returns.
        QVERIFY(!r.err.contains(QLatin1Char('\r')));
        QVERIFY2(r.err.contains("progress: 100% (6/6 frames, 1000 bytes"), qPrintable(r.err));
        QVERIFY(sim.waitFor("image: 1104 bytes received (padded to whole blocks), sha256"));
        QFile f(saved);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), image + QByteArray(104, '\0'));
    }

    // A download and its dry run judge an image alike, and a refused one
    // never reaches the port.
    void imageKinds_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("dryRun");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");  // NAME stands for the file's name
        const QString unreadable = QStringLiteral("Cann't Open File 'NAME'!");
        const QString empty = QStringLiteral("File 'NAME' is empty; there is nothing to send.");
        for (const bool dry : {false, true}) {
            const char *how = dry ? ", dry run" : "";
            QTest::addRow("missing%s", how) << "/nonexistent/x.bin" << dry << 4 << unreadable;
            QTest::addRow("fifo%s", how) << "fifo" << dry << 4 << unreadable;
            QTest::addRow("char device%s", how) << "/dev/zero" << dry << 4 << unreadable;
            QTest::addRow("random device%s", how) << "/dev/urandom" << dry << 4 << unreadable;
            QTest::addRow("directory%s", how) << "directory" << dry << 4 << unreadable;
            QTest::addRow("empty%s", how) << "0" << dry << 5 << empty;
            QTest::addRow("too large%s", how) << "65504" << dry << 5 << "has 65504 bytes; at most 65503 bytes fit";
        }
        QTest::newRow("too large, dry run, plan") << "65504" << true << 5 << "data frames: 357\nfirst address: 0\nlast frame: 65504..65687\nfits: no";
        QTest::newRow("largest, dry run") << "65503" << true << 0 << "data frames: 356\nfirst address: 0\nlast frame: 65320..65503\nfits: yes";
        QTest::newRow("1 byte") << "1" << false << 0 << "ISP Transmit OK!";
        QTest::newRow("1 byte, dry run") << "1" << true << 0 << "data frames: 1\n";
        // A file of the kernel's reports 4096 bytes and holds a few: the plan
        // is of what a download would send.
        QTest::newRow("reports more than it holds, dry run") << "/sys/devices/system/cpu/online" << true << 0
                                                             << "data frames: 1\n";
    }

    void imageKinds()
    {
        QFETCH(QString, file);
        QFETCH(bool, dryRun);
        QFETCH(int, code);
        QFETCH(QString, output);
        QTemporaryDir dir;
        if (file == QLatin1String("fifo")) {
            file = dir.filePath(QStringLiteral("fifo.bin"));
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (file == QLatin1String("directory")) {
            file = dir.filePath(QStringLiteral("d.bin"));
            QVERIFY(QDir().mkdir(file));
        } else if (!file.startsWith(QLatin1Char('/'))) {
            file = writeFile(dir.filePath(file + ".bin"), randomImage(file.toInt()));
        }
        Sim sim;
        // A dry run opens no port, so it names none.
        const QStringList args = dryRun ? QStringList{"isp", "--dry-run", file} : QStringList{"isp", "-p", sim.device, "-b", "19200", file};
        const Run r = cli(args, 10000);  // a FIFO must not block: a hang fails here
        QCOMPARE(r.exitCode, code);
        QVERIFY2(r.out.contains(output.replace(QLatin1String("NAME"), file)), qPrintable(r.out));
        // Nothing reached the display, and the port was never taken.
        if (dryRun || code != 0) {
            QVERIFY(sim.finish());
            QCOMPARE(sim.output().trimmed(), QString());
        }
    }

    void aNameThatIsNotUtf8_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("output");
        QTest::newRow("dry run") << QStringList{"isp", "--dry-run"} << QStringLiteral("image: \uFFFD\uFFFD.bin\n");
        QTest::newRow("download") << QStringList{"isp", "--simulate", "-q"} << QStringLiteral("ISP Transmit OK!\n");
    }

    void aNameThatIsNotUtf8()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, output);
        QTemporaryDir dir;
        const QByteArray image = randomImage(200);
        const QByteArray native = QFile::encodeName(dir.path()) + "/\xff\xfe.bin";
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, image.constData(), size_t(image.size())), ssize_t(image.size()));
        ::close(fd);
        // QTemporaryDir cannot name it to remove it either.
        const auto remove = qScopeGuard([&] { ::unlink(native.constData()); });
        // A QString cannot carry those bytes: let the shell build the name.
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral("/bin/sh"), QStringList{"-c", "exec \"$0\" \"$@\" \"$(printf '\\377\\376.bin')\"", CUSTDISP_CLI} + args);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY2(QString::fromUtf8(p.readAllStandardOutput()).contains(output), qPrintable(p.readAllStandardError()));
    }

    // "Com N" stands for /dev/ttyS{N-1} until the map says otherwise. Read
    // from the listing: a test never opens a port it did not create.
    void numberedPortsByDefault()
    {
        const Run r = cli({"ports"});
        QCOMPARE(r.exitCode, 0);
        for (int port : {1, 2, 3, 4})
            QVERIFY2(r.out.contains(QStringLiteral("Com %1 -> /dev/ttyS%2, default\n").arg(port).arg(port - 1)), qPrintable(r.out));
    }

    // Two names of one device are one device: the second program is turned
    // away instead of writing into the first one's download.
    void oneDeviceUnderTwoNames_data()
    {
        QTest::addColumn<bool>("firstByLink");
        QTest::newRow("first by its real name, second by a link") << false;
        QTest::newRow("first by a link, second by its real name") << true;
    }

    void oneDeviceUnderTwoNames()
    {
        QFETCH(bool, firstByLink);
        Sim sim;
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("display"));
        QVERIFY(QFile::link(sim.device, link));
        const QByteArray image = randomImage(184 * 8);
        QProcess first;
        first.start(QStringLiteral(CUSTDISP_CLI),
                    {"isp", "-q", "-b", "19200", "-p", firstByLink ? link : sim.device, writeImage(image)});
        QVERIFY(first.waitForStarted());
        QVERIFY(sim.waitFor(QStringLiteral("data #1"), 10000));

        const Run second = cli({"version", "--trace", "-p", firstByLink ? sim.device : link});
        QCOMPARE(second.exitCode, 3);
        const QString names = firstByLink ? sim.device : QStringLiteral("%1 (%2)").arg(link, sim.device);
        QVERIFY2(second.err.contains("cause: " + names + " is in use by another program"), qPrintable(second.err));

        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(first.readAllStandardOutput()), QStringLiteral("ISP Transmit OK!\n"));
        QVERIFY(sim.finish());
        QVERIFY(!sim.output().contains(QStringLiteral("version query")));
        QVERIFY(sim.output().contains(QStringLiteral("image:")));
    }

    // What would grant access, told only where it would help.
    void permissionCauses_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("cause");  // DEV stands for the device
        QTest::addColumn<QString>("never");
        const group *g = ::getgrnam("dialout");
        const int dialout = g ? int(g->gr_gid) : 20;
        QTest::newRow("group may read and write")
            << dialout << 0660 << "permission denied on DEV; it belongs to group 'dialout': join it with 'sudo usermod -aG dialout $USER'"
            << "udev";
        QTest::newRow("group may only read")
            << dialout << 0640 << "permission denied on DEV (owner root, group dialout, mode 0640 (rw-r-----)); joining a group would not help"
            << "usermod";
        QTest::newRow("owner only") << 0 << 0600 << "permission denied on DEV (owner root, group root, mode 0600 (rw-------))"
                                    << "usermod";
        QTest::newRow("group root")
            << 0 << 0660 << "permission denied on DEV (owner root, group root, mode 0660 (rw-rw----)); joining a group would not help"
            << "usermod";
    }

    void permissionCauses()
    {
        QFETCH(int, group);
        QFETCH(int, mode);
        QFETCH(QString, cause);
        QFETCH(QString, never);
        if (!canRunAsNobody())
            QSKIP("needs root and setpriv to run the command line as another user");
        Sim sim;
        QVERIFY(setOwnerAndMode(sim.device, 0, gid_t(group), mode_t(mode)));
        const Run r = cliAsNobody({"version", "-p", sim.device});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.out, sim.device + ": not available.\n");
        QVERIFY2(r.err.contains("cause: " + cause.replace(QLatin1String("DEV"), sim.device)), qPrintable(r.err));
        QVERIFY2(!r.err.contains(never), qPrintable(r.err));
    }

    // Another program's lock in the plain one-line form (a terminal program,
    // say): the port is taken, and the lock stays where it is.
    void anotherProgramsLockIsRespected()
    {
        Sim sim;
        QProcess holder;  // a running process that "holds" the port
        holder.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        const qint64 pid = holder.processId();
        QVERIFY(pid > 0);
        const QString lock = QStringLiteral("/var/lock/LCK..") + sim.device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        QVERIFY(!QFile::exists(lock));
        QVERIFY(!writeFile(lock, QStringLiteral("%1\n").arg(pid, 10).toUtf8()).isEmpty());
        const auto cleanUp = qScopeGuard([&] {
            QFile::remove(lock);
            holder.kill();
            holder.waitForFinished();
        });

        const Run r = cli({"version", "-p", sim.device});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains(QStringLiteral("cause: %1 is in use by another program (process %2, lock file %3)")
                                    .arg(sim.device)
                                    .arg(pid)
                                    .arg(lock)),
                 qPrintable(r.err));
        QVERIFY(QFile::exists(lock));
        QVERIFY(sim.finish());
        QCOMPARE(sim.output().trimmed(), QString());
    }

    // A crashed program's lock file that this user cannot remove.
    void staleLockSaysSo()
    {
        if (!canRunAsNobody())
            QSKIP("needs root and setpriv to run the command line as another user");
        Sim sim;
        QVERIFY(setOwnerAndMode(sim.device, 0, 0, 0666));
        QProcess gone;
        gone.start(QStringLiteral("/bin/true"));
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QVERIFY(pid > 0);
        const QString lock = QStringLiteral("/var/lock/LCK..") + sim.device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        QVERIFY(!QFile::exists(lock));
        QVERIFY(!writeFile(lock, QStringLiteral("%1\ncustdisp-cli\n%2\n").arg(pid).arg(QSysInfo::machineHostName()).toUtf8()).isEmpty());
        const auto removeLock = qScopeGuard([&] { QFile::remove(lock); });
        QVERIFY(setOwnerAndMode(lock, 0, 0, 0644));

        const Run r = cliAsNobody({"version", "-p", sim.device});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains(QStringLiteral("cause: %1 is locked by %2 of process %3, which no longer runs")
                                    .arg(sim.device, lock)
                                    .arg(pid)),
                 qPrintable(r.err));
    }

    void missingPortSaysWhy()
    {
        const Run r = cli({"version", "-p", "/dev/custdisp-nothing-here"});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.out, QStringLiteral("/dev/custdisp-nothing-here: not available.\n"));
        QVERIFY2(r.err.contains("cause: /dev/custdisp-nothing-here does not exist; serial ports here:"), qPrintable(r.err));
        const Run isp = cli({"isp", "-p", "/dev/custdisp-nothing-here", writeImage("abc")});
        QCOMPARE(isp.exitCode, 3);
        QVERIFY(isp.err.contains("does not exist"));

        // Another program trying the same missing name holds its lock at
        // that moment: missing all the same, not in use.
        QProcess holder;
        holder.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        const QString gone = QStringLiteral("/dev/custdisp-gone-%1").arg(holder.processId());
        const QString lock = QStringLiteral("/var/lock/LCK..") + gone.mid(5);
        QVERIFY(!writeFile(lock, QStringLiteral("%1\n").arg(holder.processId(), 10).toUtf8()).isEmpty());
        const auto cleanUp = qScopeGuard([&] {
            QFile::remove(lock);
            holder.kill();
            holder.waitForFinished();
        });
        const Run locked = cli({"version", "-p", gone});
        QCOMPARE(locked.exitCode, 3);
        QVERIFY2(locked.err.contains("cause: " + gone + " does not exist"), qPrintable(locked.err));
    }

    void busyPortSaysWhy()
    {
        Sim sim;
        SerialLink holder;
        const std::optional<OpenFailure> held = holder.open(targetAt(sim.device, QStringLiteral("9600,N,8,1")));
        QVERIFY2(!held, qPrintable(sim.device + QStringLiteral(": ") + (held ? held->describe() : QString())));
        const Run r = cli({"params", "-p", sim.device});
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains("is in use by another program"), qPrintable(r.err));
    }

    void ctrlCStopsTheDownload_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("stopAt");  // what the display has heard when Ctrl-C comes
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("ignored");  // by the caller, before the program started
        QTest::newRow("a few frames in") << QStringList{} << "data #3 " << SIGINT << false;
        // Sent before it started (held blocked until then): it comes in the program's first moments.
        QTest::newRow("before it listens") << QStringList{} << "" << SIGINT << false;
        // The last frame: nothing more may follow, the end frame least of all.
        QTest::newRow("awaiting the last frame's answer") << QStringList{"--fault", "data#5=silent"} << "data #5 " << SIGINT
                                                          << false;
        QTest::newRow("kill") << QStringList{} << "data #3 " << SIGTERM << false;
        QTest::newRow("the SSH session hangs up") << QStringList{} << "data #3 " << SIGHUP << false;
        QTest::newRow("Ctrl-\\") << QStringList{} << "data #3 " << SIGQUIT << false;
        // What the caller ignored stays ignored: the download completes.
        QTest::newRow("nohup, then a hang-up") << QStringList{} << "data #3 " << SIGHUP << true;
        QTest::newRow("cmd &, then Ctrl-C") << QStringList{} << "data #3 " << SIGINT << true;
        QTest::newRow("Ctrl-\\ ignored") << QStringList{} << "data #3 " << SIGQUIT << true;
    }

    void ctrlCStopsTheDownload()
    {
        QFETCH(QStringList, faults);
        QFETCH(QString, stopAt);
        QFETCH(int, signal);
        QFETCH(bool, ignored);
        Sim sim(faults);
        QProcess p;
        if (ignored)
            p.setChildProcessModifier([signal] { ::signal(signal, SIG_IGN); });
        if (stopAt.isEmpty()) {
            p.setChildProcessModifier([signal] {
                sigset_t blocked;
                sigemptyset(&blocked);
                sigaddset(&blocked, signal);
                ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
                ::kill(::getpid(), signal);  // pending across exec
            });
        }
        p.start(QStringLiteral(CUSTDISP_CLI), {"isp", "-b", "19200", "-p", sim.device, writeImage(randomImage(184 * 5 + 1))});
        QVERIFY(p.waitForStarted());
        if (!stopAt.isEmpty()) {
            QVERIFY(sim.waitFor(stopAt, 20000));
            // Only a running child: kill(0, ...) would stop every test beside it.
            QCOMPARE(p.state(), QProcess::Running);
            QVERIFY(p.processId() > 0);
            ::kill(pid_t(p.processId()), signal);
        }
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        if (ignored) {
            QCOMPARE(p.exitCode(), 0);
            QVERIFY(sim.waitFor("image:", 5000));
            return;
        }
        QCOMPARE(p.exitCode(), 11);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains("cancelled"));
        QVERIFY(!QString::fromLocal8Bit(p.readAllStandardOutput()).contains("OK"));
        // The port was released.
        SerialLink after;
        QVERIFY(!after.open(targetAt(sim.device, QStringLiteral("9600,N,8,1"))));
        after.close();
        QVERIFY(sim.finish());
        const QString log = sim.output();
        QVERIFY(!log.contains("image:"));
        QVERIFY(!log.contains(QStringLiteral(" end")));
        if (stopAt.isEmpty())
            QVERIFY2(!log.contains(QStringLiteral("access")), qPrintable(log));  // nothing was sent
    }

    // The display record over a download's life: "under way" before the
    // first byte, the image only when it completed. `seeded`: the display
    // held another image before (a refusal before the erase gives it back).
    // `stop`: a signal once frame 2 is under way (0: none).
    void recordLife_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<bool>("seeded");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("state");    // the entry afterwards
        QTest::addColumn<QString>("outcome");  // did-not-complete: how it ended
        QTest::addColumn<QString>("image");    // whose sha256: "new", "old"
        QTest::newRow("completed") << QStringList{} << false << 0 << "holds" << "" << "new";
        QTest::newRow("refused at access") << QStringList{"--fault", "access=0xAA"} << true << 0 << "holds" << "" << "old";
        QTest::newRow("refused at access, nothing held before") << QStringList{"--fault", "access=silent"} << false << 0
                                                                << "" << "" << "";
        QTest::newRow("refused mid-data") << QStringList{"--fault", "data#2=0x15"} << true << 0 << "did-not-complete"
                                          << "data-frame-failed" << "new";
        QTest::newRow("erase refused") << QStringList{"--fault", "erase=0x07"} << true << 0 << "did-not-complete"
                                       << "erase-failed" << "new";
        QTest::newRow("stopped") << QStringList{} << true << int(SIGINT) << "did-not-complete" << "cancelled" << "new";
        QTest::newRow("SIGKILL mid-download") << QStringList{} << true << int(SIGKILL) << "under-way" << "" << "new";
    }

    void recordLife()
    {
        QFETCH(QStringList, faults);
        QFETCH(bool, seeded);
        QFETCH(int, stop);
        QFETCH(QString, state);
        QFETCH(QString, outcome);
        QFETCH(QString, image);
        const QByteArray oldImage = randomImage(300);
        const QByteArray newImage = randomImage(184 * 5 + 1);
        Sim sim(QStringList{"--fault", "access@1=0xAA"} + faults);  // refuses the first access
        QCOMPARE(cli({"isp", "-q", "-p", sim.device, writeImage(oldImage, "old.bin")}).exitCode, 8);
        QVERIFY(recordEntries().isEmpty());  // refused at access, nothing held before: nothing kept
        if (seeded) {
            Sim first;
            QCOMPARE(cli({"isp", "-q", "-p", first.device, writeImage(oldImage, "old.bin")}).exitCode, 0);
            // The same record entry, moved over to the display under test.
            QJsonArray entries = recordEntries();
            QJsonObject e = entries.at(0).toObject();
            e.insert("device", sim.device);
            QVERIFY(!writeFile(recordFile(), QJsonDocument(QJsonObject{{"displays", QJsonArray{e}}}).toJson()).isEmpty());
        }
        QProcess p;
        p.start(QStringLiteral(CUSTDISP_CLI), {"isp", "-q", "-b", "19200", "-p", sim.device, writeImage(newImage)});
        QVERIFY(p.waitForStarted());
        if (stop) {
            QVERIFY(sim.waitFor("data #2 ", 20000));
            // On disk before the first byte: what a crash now would leave.
            QCOMPARE(recordOf(sim.device).value("state").toString(), QStringLiteral("under-way"));
            QCOMPARE(p.state(), QProcess::Running);
            QVERIFY(p.processId() > 0);
            ::kill(pid_t(p.processId()), stop);
        }
        QVERIFY(p.waitForFinished(20000));
        const QJsonObject entry = recordOf(sim.device);
        QCOMPARE(entry.value("state").toString(), state);
        QCOMPARE(entry.value("outcome").toString(), outcome);
        const QString sha = image == "new" ? shaOf(newImage) : image == "old" ? shaOf(oldImage) : QString();
        QCOMPARE(entry.value("sha256").toString(), sha);
        if (state == "did-not-complete" || state == "under-way") {
            // Every program says what that means.
            const Run listed = cli({"ports", "--map", "3=" + sim.device});
            QVERIFY2(listed.out.contains("no working firmware may be on this display"), qPrintable(listed.out));
            const Run again = cli({"isp", "-q", "--skip-held", "-b", "19200", "-p", sim.device, writeImage(newImage)});
            QVERIFY2(!again.out.contains("up-to-date"), "a display that did not complete is never up to date");
        }
    }

    // --skip-held sends nothing only to a display whose record holds this
    // very image on this very device; without it everything is sent.
    void skipHeld_data()
    {
        QTest::addColumn<bool>("otherDevice");
        QTest::addColumn<bool>("otherImage");
        QTest::addColumn<bool>("option");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("same image, same device") << false << false << true << "up-to-date";
        QTest::newRow("same image, another device") << true << false << true << "completed";
        QTest::newRow("another image") << false << true << true << "completed";
        QTest::newRow("no option") << false << false << false << "completed";
    }

    void skipHeld()
    {
        QFETCH(bool, otherDevice);
        QFETCH(bool, otherImage);
        QFETCH(bool, option);
        QFETCH(QString, outcome);
        Sim held;
        Sim other;
        const QByteArray image = randomImage(400);
        QCOMPARE(cli({"isp", "-q", "-b", "19200", "-p", held.device, writeImage(image)}).exitCode, 0);
        QVERIFY(held.waitFor(QStringLiteral("without trailing zeros")));  // all it will say of that download
        const QString heard = held.output();
        QStringList args{"isp", "--json", "-b", "19200", "-p", otherDevice ? other.device : held.device,
                         writeImage(otherImage ? randomImage(401) : image)};
        if (option)
            args << "--skip-held";
        const Run r = cli(args);
        QCOMPARE(r.exitCode, 0);
        const QJsonObject port = QJsonDocument::fromJson(r.out.toUtf8()).object().value("ports").toArray().at(0).toObject();
        QCOMPARE(port.value("outcome").toString(), outcome);
        QCOMPARE(port.value("record").toObject().value("state").toString(), QStringLiteral("holds"));
        if (outcome == "up-to-date") {
            // Said so in words too, even for one port without --json.
            args.removeOne("--json");
            QVERIFY2(cli(args).out.contains("up-to-date, nothing was sent: the display record says it holds"), "silent");
            QVERIFY(held.finish());
            QCOMPARE(held.output(), heard);  // not a byte, either time
        }
    }

    // A damaged record never stops a download: the bad part is ignored with
    // one warning naming the file, the good entries stay, the new one is kept.
    // ports --json says so too (a script deciding from its records must know
    // what they left out), and no more once the record is whole again.
    void damagedRecord_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("entriesKept");
        const QByteArray good = R"({"device": "/dev/custdisp-good", "state": "holds", "image": "a.bin",
            "sha256": "0000000000000000000000000000000000000000000000000000000000000000", "size": 1, "frames": 1,
            "when": "2026-01-01T00:00:00Z", "program": "custdisp-cli"})";
        QTest::newRow("cut off") << QByteArray(R"({"displays": [)") + good.left(40) << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("a list") << QByteArray("[1, 2]") << 0;
        QTest::newRow("an entry without sha256") << QByteArray(R"({"displays": [{"device": "/dev/x", "state": "holds"}, )") + good + "]}" << 1;
        QTest::newRow("binary junk") << QByteArray("\xff\xfe\0\x01", 4) << 0;
    }

    void damagedRecord()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, entriesKept);
        QVERIFY(QDir().mkpath(recordFolder()));
        QVERIFY(writeFile(recordFile(), contents) == recordFile());
        const auto listed = [] {
            const Run ports = cli({"ports", "--json"});
            return QJsonDocument::fromJson(ports.out.toUtf8()).object();
        };
        const QJsonObject before = listed();
        QVERIFY2(before.value("record_warning").toString().contains(recordFile()), qPrintable(before.value("record_warning").toString()));
        QCOMPARE(before.value("records").toArray().size(), entriesKept);
        Sim sim;
        const Run r = cli({"isp", "-q", "-b", "19200", "-p", sim.device, writeImage(randomImage(300))});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err.count(recordFile()), 1);
        QVERIFY2(r.err.contains("warning"), qPrintable(r.err));
        QCOMPARE(recordOf(sim.device).value("state").toString(), QStringLiteral("holds"));
        QCOMPARE(recordEntries().size(), entriesKept + 1);
        const QJsonObject after = listed();
        QVERIFY(!after.contains("record_warning"));
        QCOMPARE(after.value("records").toArray().size(), entriesKept + 1);
    }

    // A full disk refuses "under way" with its reason, and nothing is sent.
    // The disk is a 16 kB file system of this test's own, filled, in a
    // mount namespace of its own.
    void aFullDiskIsNamed()
    {
        Sim sim;
        QTemporaryDir full;
        const QString image = writeImage(randomImage(300));
        const QString script = QStringLiteral(
            "mount -t tmpfs -o size=16k none \"$1\" || exit 90; head -c 100000 /dev/zero > \"$1/filler\" 2>/dev/null; "
            "CUSTDISP_RECORD_DIR=\"$1\" exec \"$2\" isp -q -b 19200 -p \"$3\" \"$4\"");
        QProcess p;
        p.start(QStringLiteral("unshare"), {"-rm", "sh", "-c", script, "sh", full.path(), CUSTDISP_CLI, sim.device, image});
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
            QFAIL("unshare did not end");
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        if (p.exitCode() == 90 || err.startsWith(QLatin1String("unshare:")))
            QSKIP(qPrintable(QStringLiteral("no mount namespace of our own here: ") + err));
        QVERIFY2(p.exitCode() == 13, qPrintable(err));
        QVERIFY2(err.contains(QLatin1String("no space left on"), Qt::CaseInsensitive), qPrintable(err));
    }

    // Two programs, twelve ports each, starting and finishing at once: no
    // entry is lost, and no port is refused for waiting on the record.
    void programsFinishingAtOnce()
    {
        std::vector<std::unique_ptr<Sim>> sims;
        QStringList args[2];
        const QString image = writeImage(randomImage(100));
        for (int i = 0; i < 24; ++i) {
            sims.push_back(std::make_unique<Sim>());
            args[i % 2] << "-p" << sims.back()->device;
        }
        QProcess a;
        QProcess b;
        a.start(QStringLiteral(CUSTDISP_CLI), QStringList{"isp", "-q", "-b", "19200", image} + args[0]);
        b.start(QStringLiteral(CUSTDISP_CLI), QStringList{"isp", "-q", "-b", "19200", image} + args[1]);
        QVERIFY(a.waitForFinished(30000) && b.waitForFinished(30000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        for (const auto &sim : sims)
            QCOMPARE(recordOf(sim->device).value("state").toString(), QStringLiteral("holds"));
    }

    // A display that answers frame 1 twice, the second time late, and refuses
    // frame 2: the stale answer is dropped, never taken for frame 2's.
    void aStaleAnswerNeverAcceptsTheNextFrame()
    {
        Sim sim({"--fault", "data#1=0xAA+then:0xAA@20ms", "--fault", "data#2=0x15"});
        const Run r = cli({"isp", "--json", "-b", "19200", "-p", sim.device, writeImage(randomImage(600))});
        QCOMPARE(r.exitCode, 10);
        const QJsonObject port = QJsonDocument::fromJson(r.out.toUtf8()).object().value("ports").toArray().at(0).toObject();
        QCOMPARE(port.value("outcome").toString(), QStringLiteral("data-frame-failed"));
        QCOMPARE(port.value("frames_sent").toInt(), 3);
        QCOMPARE(port.value("retries").toInt(), 2);
        QVERIFY(sim.finish());
        QVERIFY(!sim.output().contains("image:"));
    }

    // A reader that goes away (`| head -1`) must not kill a download half way.
    void aClosedPipeDoesNotStopTheDownload()
    {
        Sim sim;
        QProcess p;
        p.start(QStringLiteral("/bin/bash"),
                {"-c", "\"$0\" isp -b 19200 -p \"$1\" \"$2\" 2>&1 | head -1 >/dev/null; echo \"${PIPESTATUS[0]}\"",
                 CUSTDISP_CLI, sim.device, writeImage(randomImage(184 * 5))});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed(), QStringLiteral("0"));
        QVERIFY(sim.waitFor(QStringLiteral("image: 1104 bytes received")));
    }

    // On a terminal the bar redraws its own line; what follows must start
    // on a line of its own.
    void cancelledOnATerminalStartsANewLine()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const auto closeMaster = qScopeGuard([master] { ::close(master); });
        const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        QVERIFY(terminal >= 0);

        Sim sim;
        QProcess p;
        p.setChildProcessModifier([terminal] { ::dup2(terminal, STDERR_FILENO); });
        p.start(QStringLiteral(CUSTDISP_CLI), {"isp", "-p", sim.device, writeImage(randomImage(184 * 30))});
        ::close(terminal);
        QVERIFY(p.waitForStarted());
        QString screen;
        const auto readScreen = [&] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(master, buf, sizeof buf)) > 0)
                screen += QString::fromLocal8Bit(buf, n);
        };
        QTRY_VERIFY_WITH_TIMEOUT((readScreen(), screen.contains(QStringLiteral(" 3/31 frames"))), 15000);
        QCOMPARE(p.state(), QProcess::Running);
        QVERIFY(p.processId() > 0);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 11);
        readScreen();
        QVERIFY2(screen.contains(QLatin1Char('\r')), qPrintable(screen));
        const qsizetype at = screen.indexOf(QStringLiteral("cancelled"));
        QVERIFY2(at > 0, qPrintable(screen));
        // A terminal turns \n into \r\n.
        QVERIFY2(screen.mid(at - 2, 2) == QStringLiteral("\r\n"), qPrintable(screen));
    }

    // A device saved for "Com N" is what -p N reaches, until set back.
    void savedPortMap()
    {
        Sim sim;
        const Run saved = cli({"ports", "--map", "4=" + sim.device});
        QCOMPARE(saved.exitCode, 0);
        QVERIFY2(saved.out.contains("Com 4 -> " + sim.device + ", saved\n"), qPrintable(saved.out));
        QVERIFY(saved.out.contains("Com 1 -> /dev/ttyS0, default\n"));

        const Run sent = cli({"version", "--trace", "-p", "4"});
        QCOMPARE(sent.exitCode, 0);
        QVERIFY2(sent.err.contains("open " + sim.device + "\n"), qPrintable(sent.err));
        QVERIFY(sim.waitFor("version query"));

        const Run reset = cli({"ports", "--map", "4="});
        QCOMPARE(reset.exitCode, 0);
        QVERIFY2(reset.out.contains("Com 4 -> /dev/ttyS3, default\n"), qPrintable(reset.out));
    }

    void aDeviceNamedForOneRunIsNotSaved()
    {
        Sim sim;
        QCOMPARE(cli({"version", "-p", sim.device}).exitCode, 0);
        QCOMPARE(cli({"ports", "--map", "2=/dev/custdisp-gone"}).exitCode, 0);
        const Run r = cli({"ports"});
        QVERIFY2(r.out.contains("Com 1 -> /dev/ttyS0, default\n"), qPrintable(r.out));
        QVERIFY(!r.out.contains(sim.device + ", saved"));
        QVERIFY(r.out.contains("Com 2 -> /dev/custdisp-gone, saved\n"));
    }

    void aSavedDeviceThatIsGone()
    {
        QCOMPARE(cli({"ports", "--map", "2=/dev/custdisp-gone"}).exitCode, 0);
        const Run r = cli({"version", "-p", "2"});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.out, QStringLiteral("COM 2: not available.\n"));
        QVERIFY2(r.err.contains("cause: /dev/custdisp-gone does not exist; serial ports here: "), qPrintable(r.err));
    }

    void mapUsageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("port 5") << QStringList{"ports", "--map", "5=/dev/ttyUSB0"} << "N from 1 to 4";
        QTest::newRow("no equals") << QStringList{"ports", "--map", "2"} << "N=DEVICE";
        QTest::newRow("with another command") << QStringList{"version", "--map", "2=/dev/ttyUSB0"} << "--map belongs to ports";
        QTest::newRow("one port twice") << QStringList{"ports", "--map", "2=/dev/ttyUSB0", "--map", "2=/dev/ttyUSB1"}
                                        << "Com 2 is named twice";
        QTest::newRow("a control character") << QStringList{"ports", "--map", "2=/dev/a\nb"} << "no control characters";
    }

    void mapUsageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        const Run r = cli(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(complaint), qPrintable(r.err));
        QVERIFY(!QFile::exists(m_config->filePath(QStringLiteral("custdisp/ports.ini"))));
    }

    void aMalformedMapIsReadEntryByEntry()
    {
        Sim sim;
        QVERIFY(QDir(m_config->path()).mkpath(QStringLiteral("custdisp")));
        QVERIFY(!writeFile(m_config->filePath(QStringLiteral("custdisp/ports.ini")),
                           "[ports]\ncom9=/dev/x\ncom3=" + sim.device.toUtf8() + "\ncom1=\n")
                     .isEmpty());
        const Run r = cli({"version", "-p", "3"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err.count(QStringLiteral("warning:")), 1);
        QVERIFY2(r.err.contains("ignored ports/com1 (no device), ports/com9 (not Com 1 to Com 4)"), qPrintable(r.err));
        QVERIFY(sim.waitFor("version query"));
    }

    // The saved map with several programs at it, and files that are not a
    // port map: one writer at a time, so every entry is kept; one short
    // warning, never Qt's own; and what a save leaves out is said.
    void mapWritersAndMapFiles_data()
    {
        // clang-format off
        QTest::addColumn<QByteArray>("file");      // the map before: empty for none
        QTest::addColumn<QStringList>("writers");  // ports --map runs started at once
        QTest::addColumn<QString>("warning");      // what reading the file before says
        QTest::addColumn<QString>("dropped");      // what the first writer says it left out
        QTest::addColumn<QMapIntString>("kept");
        QTest::newRow("two writers at once") << QByteArray() << QStringList{"1=/dev/custdisp-one", "2=/dev/custdisp-two"}
                                             << "" << "" << QMap<int, QString>{{1, "/dev/custdisp-one"}, {2, "/dev/custdisp-two"}};
        // Another writer has read the map and holds the lock while it writes:
        // a save meanwhile must wait for it, then build on what it wrote.
        QTest::newRow("a writer holding the lock") << QByteArray() << QStringList{"1=/dev/custdisp-one", "held"} << ""
                                                   << "" << QMap<int, QString>{{1, "/dev/custdisp-one"}, {2, "/dev/custdisp-two"}};
        QTest::newRow("over 64 KiB") << QByteArray(70'000, ';') << QStringList{"3=/dev/custdisp-three"}
                                     << "70000 bytes, too big for a port map (at most 65536); the saved port map is ignored"
                                     << "replaced; nothing in the old file was kept" << QMap<int, QString>{{3, "/dev/custdisp-three"}};
        QTest::newRow("binary junk") << QByteArrayLiteral("\x01\xff\xfe[[[\n=\n=abc\n\x00\x02=3\n[ports]\ncom2=/dev/custdisp-two\n")
                                     << QStringList{"1=/dev/custdisp-one"} << "ignored lines that are not KEY=VALUE"
                                     << "dropped lines that are not KEY=VALUE"
                                     << QMap<int, QString>{{1, "/dev/custdisp-one"}, {2, "/dev/custdisp-two"}};
        const QString five = QStringLiteral("ports/com5 (not Com 1 to Com 4), ports/com6 (not Com 1 to Com 4), "
                                            "ports/com7 (not Com 1 to Com 4) and 2 more");
        QTest::newRow("many bad entries") << QByteArray("[ports]\ncom5=/a\ncom6=/b\ncom7=/c\ncom8=/d\ncom9=/e\ncom4=/dev/x\n")
                                          << QStringList{"1=/dev/custdisp-one"} << "ignored " + five << "dropped " + five
                                          << QMap<int, QString>{{1, "/dev/custdisp-one"}, {4, "/dev/x"}};
        // clang-format on
    }

    void mapWritersAndMapFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, writers);
        QFETCH(QString, warning);
        QFETCH(QString, dropped);
        QFETCH(QMapIntString, kept);
        QVERIFY(QDir(m_config->path()).mkpath(QStringLiteral("custdisp")));
        const QString path = m_config->filePath(QStringLiteral("custdisp/ports.ini"));
        const auto lines = [](const QString &err) { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); };
        const bool lockHeld = writers.removeAll(QStringLiteral("held")) > 0;
        const int rounds = writers.size() > 1 ? 20 : 1;
        for (int round = 0; round < rounds; ++round) {
            QFile::remove(path);
            if (!file.isEmpty()) {
                QVERIFY(!writeFile(path, file).isEmpty());
                const Run before = cli({"ports"});
                QCOMPARE(before.exitCode, 0);
                QCOMPARE(lines(before.err), QStringList{"custdisp-cli: warning: " + path + ": " + warning});
            }
            std::unique_ptr<QLockFile> held;
            if (lockHeld) {
                held = std::make_unique<QLockFile>(path + QStringLiteral(".saving"));
                QVERIFY(held->tryLock(0));
            }
            std::vector<std::unique_ptr<QProcess>> running;
            for (const QString &w : writers) {
                running.push_back(std::make_unique<QProcess>());
                running.back()->start(QStringLiteral(CUSTDISP_CLI), {"ports", "--map", w});
            }
            if (held) {
                // What the holder read (nothing) plus its own entry, written
                // a while after the others started.
                QVERIFY(!running.front()->waitForFinished(1000));
                QVERIFY(!writeFile(path, "[ports]\ncom2=/dev/custdisp-two\n").isEmpty());
                held->unlock();
            }
            for (qsizetype i = 0; i < qsizetype(running.size()); ++i) {
                QVERIFY(running[i]->waitForFinished(30000));
                QCOMPARE(running[i]->exitCode(), 0);
                const QString err = QString::fromLocal8Bit(running[i]->readAllStandardError());
                QCOMPARE(lines(err), dropped.isEmpty() ? QStringList{} : QStringList{"custdisp-cli: warning: " + path + ": " + dropped});
            }
            QCOMPARE(PortStore(path).load().devices, kept);
        }
    }

    void aMapThatCannotBeSaved()
    {
        if (!canRunAsNobody())
            QSKIP("needs root and setpriv to run the command line as another user");
        // A folder the user may read but not write.
        QVERIFY(QDir(m_config->path()).mkpath(QStringLiteral("custdisp")));
        const QString file = m_config->filePath(QStringLiteral("custdisp/ports.ini"));
        QVERIFY(!writeFile(file, "[ports]\ncom1=/dev/ttyUSB7\n").isEmpty());
        QVERIFY(setOwnerAndMode(m_config->path(), 0, 0, 0755));
        QVERIFY(setOwnerAndMode(m_config->filePath(QStringLiteral("custdisp")), 0, 0, 0755));
        QVERIFY(setOwnerAndMode(file, 0, 0, 0644));
        const Run r = cliAsNobody({"ports", "--map", "2=/dev/ttyUSB8"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("cannot save the port map: cannot write " + file), qPrintable(r.err));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[ports]\ncom1=/dev/ttyUSB7\n"));
        // Still readable by that user, and still used.
        const Run list = cliAsNobody({"ports"});
        QVERIFY2(list.out.contains("Com 1 -> /dev/ttyUSB7, saved"), qPrintable(list.out + list.err));
    }

    void portsListsWhatThereIs()
    {
        // A pseudo-terminal is no serial port: it must not be listed.
        Sim sim;
        const Run r = cli({"ports"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(!r.out.isEmpty());
        QVERIFY(!r.out.contains(sim.device + QLatin1Char('\t')));
    }

    // --json: one document on stdout for every command and outcome (each is
    // also checked against the schema by tst_jsonschema).
    void jsonForEveryCommand_data()
    {
        QTest::addColumn<QStringList>("args");  // SIM: a simulated display; IMAGE: a file of 1000 bytes
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("expected");  // "path=value", see jsonAt()
        QTest::newRow("isp") << QStringList{"isp", "-b", "19200", "-p", "SIM", "IMAGE"} << 0
                             << QStringList{"dry_run=false", "image.outcome=ready", "image.size=1000", "image.frames=6",
                                            "ports.0.port=SIM", "ports.0.outcome=completed", "ports.0.frames_sent=6"};
        QTest::newRow("dry run") << QStringList{"isp", "--dry-run", "IMAGE"} << 0
                                 << QStringList{"dry_run=true", "image.outcome=ready", "image.message=", "image.first_address=0",
                                                "image.last_address=1103", "ports=[0]"};
        QTest::newRow("dry run, too large") << QStringList{"isp", "--dry-run", "/dev/null/../LARGE"} << 5
                                            << QStringList{"image.outcome=image-too-large", "image.size=65504",
                                                           "image.frames=357", "image.last_address=65687",
                                                           "image.message=File 'LARGE' has 65504 bytes; at most 65503 bytes fit the display."};
        QTest::newRow("refused image") << QStringList{"isp", "-p", "SIM", "/nonexistent/x.bin"} << 4
                                       << QStringList{"dry_run=false", "image.outcome=file-unreadable",
                                                      "image.message=Cann't Open File '/nonexistent/x.bin'!", "ports=[0]"};
        QTest::newRow("params") << QStringList{"params", "-p", "SIM"} << 0
                                << QStringList{"command=params", "ports.0.outcome=completed", "ports.0.exit_code=0"};
        QTest::newRow("version, port unavailable")
            << QStringList{"version", "-p", "/dev/custdisp-nothing-here"} << 3
            << QStringList{"ports.0.outcome=port-unavailable", "ports.0.message=/dev/custdisp-nothing-here: not available."};
        QTest::newRow("ports") << QStringList{"ports"} << 0
                               << QStringList{"command=ports", "version=" CUSTDISP_VERSION, "map=[4]", "map.1.number=2",
                                              "map.1.device=/dev/ttyS1", "map.1.source=default"};
    }

    void jsonForEveryCommand()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, expected);
        Sim sim;
        const QString image = writeImage(randomImage(1000));
        const QString large = writeImage(randomImage(65504), QStringLiteral("large %2.bin"));  // a name is no format
        for (QString &arg : args)
            arg = arg == QLatin1String("SIM") ? sim.device : arg == QLatin1String("IMAGE") ? image
                                                                                           : arg;
        args.replaceInStrings(QStringLiteral("/dev/null/../LARGE"), large);
        const Run r = cli(args << "--json");
        QCOMPARE(r.exitCode, code);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + r.out));
        QCOMPARE(jsonAt(document.object(), QStringLiteral("schema_version")), QStringLiteral("1"));
        QCOMPARE(jsonAt(document.object(), QStringLiteral("exit_code")), QString::number(code));
        for (const QString &e : expected) {
            const qsizetype eq = e.indexOf(QLatin1Char('='));
            QCOMPARE(jsonAt(document.object(), e.left(eq)),
                     e.mid(eq + 1).replace(QLatin1String("SIM"), sim.device).replace(QLatin1String("LARGE"), large));
        }
    }

    // frames_sent and retries are what went over the line: they match the
    // trace and what the display heard, also when the line dies, a frame is
    // refused or one goes unanswered.
    void countsMatchTheLine_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("framesSent");
        QTest::addColumn<int>("retries");
        QTest::newRow("answered, then the line dies") << "data#2=0xAA+hangup" << 3 << 0;
        QTest::newRow("the line dies on a frame") << "data#3=hangup" << 4 << 0;
        QTest::newRow("refused once") << "data#1@1=0x15" << 6 << 1;
        QTest::newRow("refused") << "data#1=0x15" << 2 << 2;
        QTest::newRow("unanswered once") << "data#4@1=silent" << 6 << 1;
    }

    void countsMatchTheLine()
    {
        QFETCH(QString, fault);
        QFETCH(int, framesSent);
        QFETCH(int, retries);
        Sim sim({"--fault", fault});
        const Run r = cli({"isp", "--json", "--trace", "-q", "-b", "19200", "-p", sim.device, writeImage(randomImage(1000))});
        const QJsonObject port = QJsonDocument::fromJson(r.out.toUtf8()).object().value("ports").toArray().at(0).toObject();
        QCOMPARE(port.value("frames_sent").toInt(), framesSent);
        QCOMPARE(port.value("retries").toInt(), retries);
        // A lost line says so, as on stderr; nothing else here has a cause.
        QCOMPARE(port.value("cause").toString().startsWith(QLatin1String("cause: the line was lost: ")), fault.contains("hangup"));
        QCOMPARE(r.err.count(QStringLiteral("] > 01 ")), framesSent + retries);  // data frames start with 01
        QVERIFY(sim.finish());
        const QString log = sim.output();  // "data #3 at 552..735 attempt 1 (hangs up)"
        QCOMPARE(log.count(QStringLiteral(" attempt 1")), framesSent);
        QCOMPARE(log.count(QRegularExpression(QStringLiteral(" attempt [2-9]"))), retries);
    }

    void simulatedDisplayInProcess()
    {
        const Run r = cli({"isp", "--simulate", "-b", "19200", writeImage(randomImage(200))});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("ISP Transmit OK!\n"));
        QVERIFY(r.err.contains("simulated display on /dev/pts/"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
