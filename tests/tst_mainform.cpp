#include "app/mainform.h"
#include "app/programoptions.h"
#include "modalwatcher.h"
#include "sim/simulateddisplay.h"
#include "testsupport.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QCommandLineParser>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

namespace {

QRect twips(int l, int t, int w, int h)
{
    return QRect(l / 15, t / 15, w / 15, h / 15);
}

QAbstractButton *member(MainForm &w, const char *group, int index)
{
    auto *g = w.findChild<QButtonGroup *>(QLatin1String(group));
    return g ? g->button(index) : nullptr;
}

// Clicks near the left edge: a radio button wider than its text may not take
// a click at its centre.
void clickRadio(QAbstractButton *b)
{
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

struct Window {
    SimulatedDisplay sim;
    std::unique_ptr<MainForm> form;
    explicit Window(DownloadTimings timings = {})
    {
        QCoreApplication::setApplicationName(QStringLiteral("custdisp"));
        PortMap ports;
        [[maybe_unused]] const bool a = ports.setOverride(1, sim.devicePath());
        [[maybe_unused]] const bool b = ports.setOverride(2, QStringLiteral("/dev/custdisp-nothing-here"));
        form = std::make_unique<MainForm>(ports, timings);
        form->show();
    }
};

}  // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // The gtk3 theme would bring its own dialog, out of the test's reach.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("place");
        QTest::newRow("Label1") << "Label1" << "MainForm" << "Customer Display Command" << twips(2040, 120, 5775, 495);
        QTest::newRow("Frame2") << "Frame2" << "MainForm" << "Parameters" << twips(240, 840, 9855, 3855);
        QTest::newRow("Frame4") << "Frame4" << "Frame2" << "Baud" << twips(120, 360, 1095, 3375);
        QTest::newRow("Frame5") << "Frame5" << "Frame2" << "Language" << twips(1320, 360, 3495, 3375);
        QTest::newRow("Frame6") << "Frame6" << "Frame2" << "Code" << twips(4920, 360, 2895, 3375);
        QTest::newRow("Frame7") << "Frame7" << "Frame2" << "Command" << twips(7920, 360, 1815, 3375);
        QTest::newRow("Frame1") << "Frame1" << "MainForm" << "Port" << twips(240, 4920, 4095, 975);
        QTest::newRow("Frame3") << "Frame3" << "MainForm" << "Baud Rate" << twips(4440, 4920, 5655, 975);
        QTest::newRow("ProgressBar1") << "ProgressBar1" << "MainForm" << "" << twips(240, 6120, 9855, 255);
        QTest::newRow("Command1") << "Command1" << "MainForm" << "Transmit Command" << twips(1080, 6600, 2415, 375);
        QTest::newRow("Command2") << "Command2" << "MainForm" << "Get Fireware Version" << twips(4080, 6600, 2415, 375);
        QTest::newRow("Command3") << "Command3" << "MainForm" << "ISP" << twips(7080, 6600, 2415, 375);
        QTest::newRow("Line1") << "Line1" << "MainForm" << "" << QRect(16, 48, 656, 2);
        QTest::newRow("Line2") << "Line2" << "MainForm" << "" << QRect(16, 320, 656, 2);
        QTest::newRow("Line3") << "Line3" << "MainForm" << "" << QRect(16, 400, 656, 2);
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QString, caption);
        QFETCH(QRect, place);
        Window w;
        auto *c = w.form->findChild<QWidget *>(name);
        QVERIFY(c);
        QCOMPARE(c->parentWidget()->objectName(), parent);
        QCOMPARE(c->geometry(), place);
        if (auto *b = qobject_cast<QAbstractButton *>(c))
            QCOMPARE(b->text(), caption);
        else if (auto *f = qobject_cast<QGroupBox *>(c))
            QCOMPARE(f->title(), caption);
        else if (auto *l = qobject_cast<QLabel *>(c))
            QCOMPARE(l->text(), caption);
        QVERIFY(c->isVisible());
        QVERIFY(c->isEnabled());
    }

    void windowItself()
    {
        Window w;
        QCOMPARE(w.form->windowTitle(), QStringLiteral("Customer Display"));
        QCOMPARE(w.form->size(), QSize(689, 487));
        QCOMPARE(w.form->minimumSize(), w.form->maximumSize());
        QVERIFY(!w.form->windowIcon().isNull());
        QCOMPARE(w.form->windowIcon().availableSizes().value(0), QSize(32, 32));
        auto *bar = w.form->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        const QFont title = w.form->findChild<QLabel *>(QStringLiteral("Label1"))->font();
        QCOMPARE(title.pointSizeF(), 18.0);
        QVERIFY(title.bold());
        QVERIFY(w.form->findChild<QPushButton *>(QStringLiteral("Command1"))->font().bold());
        QVERIFY(!member(*w.form, "OptLg", 0)->font().bold());
        QCOMPARE(member(*w.form, "OptLg", 0)->font().pointSizeF(), 8.25);
    }

    void optionMembers_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<bool>("checked");
        const auto row = [](const char *g, const char *f, int i, const char *c, QRect r, bool on = false) {
            QTest::addRow("%s %d", g, i) << QString::fromLatin1(g) << QString::fromLatin1(f) << i
                                         << QString::fromLatin1(c) << r << on;
        };
        row("OptPort", "Frame1", 0, "Com 1", twips(480, 240, 975, 255), true);
        row("OptPort", "Frame1", 1, "Com 2", twips(2400, 240, 975, 255));
        row("OptPort", "Frame1", 2, "Com 3", twips(480, 600, 975, 255));
        row("OptPort", "Frame1", 3, "Com 4", twips(2400, 600, 975, 255));
        row("OptBaud", "Frame3", 1, "600", twips(480, 240, 1215, 255));
        row("OptBaud", "Frame3", 2, "1200", twips(2460, 240, 855, 255));
        row("OptBaud", "Frame3", 3, "2400", twips(4080, 240, 855, 255));
        row("OptBaud", "Frame3", 4, "4800", twips(480, 600, 1215, 255));
        row("OptBaud", "Frame3", 5, "9600", twips(2460, 600, 855, 255), true);
        row("OptBaud", "Frame3", 6, "19200", twips(4080, 600, 975, 255));
        row("optBaud1", "Frame4", 0, "600", twips(120, 360, 855, 255));
        row("optBaud1", "Frame4", 1, "1200", twips(120, 894, 855, 180));
        row("optBaud1", "Frame4", 2, "2400", twips(120, 1353, 855, 180));
        row("optBaud1", "Frame4", 3, "4800", twips(120, 1812, 855, 255));
        row("optBaud1", "Frame4", 4, "9600", twips(120, 2346, 855, 255), true);
        row("optBaud1", "Frame4", 5, "19200", twips(120, 2880, 855, 255));
        row("OptLg", "Frame5", 0, "USA", twips(240, 360, 855, 180), true);
        row("OptLg", "Frame5", 1, "FRANCE", twips(240, 780, 1215, 180));
        row("OptLg", "Frame5", 3, "U.K", twips(240, 1620, 855, 180));
        row("OptLg", "Frame5", 6, "ITALY", twips(240, 2880, 855, 180));
        row("OptLg", "Frame5", 7, "SPAIN", twips(1800, 360, 855, 180));
        row("OptLg", "Frame5", 9, "NORWAY", twips(1800, 1200, 1215, 180));
        row("OptLg", "Frame5", 10, "DENMARK II", twips(1800, 1620, 1335, 195));
        row("OptLg", "Frame5", 12, "RUSSIA", twips(1800, 2460, 1335, 180));
        row("OptLg", "Frame5", 13, "RESERVED", twips(1800, 2880, 1215, 180));
        row("OptCode", "Frame6", 0, "JAPAN_CODE", twips(360, 240, 2400, 255));
        row("OptCode", "Frame6", 4, "NORDIC_CODE", twips(360, 1464, 2400, 255));
        row("OptCode", "Frame6", 9, "USA_EUROPE_CODE", twips(360, 3000, 2400, 255), true);
        row("OptCMD", "Frame7", 0, "DSP800", twips(240, 360, 1215, 255), true);
        row("OptCMD", "Frame7", 2, "ADM 787/788", twips(240, 1200, 1455, 255));
        row("OptCMD", "Frame7", 6, "CD5220", twips(240, 2880, 1215, 255));
    }

    void optionMembers()
    {
        QFETCH(QString, group);
        QFETCH(QString, frame);
        QFETCH(int, index);
        QFETCH(QString, caption);
        QFETCH(QRect, place);
        QFETCH(bool, checked);
        Window w;
        QAbstractButton *b = member(*w.form, qPrintable(group), index);
        QVERIFY(b);
        QCOMPARE(b->objectName(), group);
        QCOMPARE(b->property("index").toInt(), index);
        QCOMPARE(b->parentWidget()->objectName(), frame);
        QCOMPARE(b->text(), caption);
        QCOMPARE(b->geometry(), place);
        QCOMPARE(b->isChecked(), checked);
        // Its caption is what assistive technology reads out.
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(b);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), caption);
    }

    void groupsHaveTheirMembers_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QList<int>>("ids");
        QTest::newRow("OptPort") << "OptPort" << QList<int>{0, 1, 2, 3};
        QTest::newRow("OptBaud") << "OptBaud" << QList<int>{1, 2, 3, 4, 5, 6};
        QTest::newRow("optBaud1") << "optBaud1" << QList<int>{0, 1, 2, 3, 4, 5};
        QTest::newRow("OptLg") << "OptLg" << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
        QTest::newRow("OptCode") << "OptCode" << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        QTest::newRow("OptCMD") << "OptCMD" << QList<int>{0, 1, 2, 3, 4, 5, 6};
    }

    void groupsHaveTheirMembers()
    {
        QFETCH(QString, group);
        QFETCH(QList<int>, ids);
        Window w;
        auto *g = w.form->findChild<QButtonGroup *>(group);
        QVERIFY(g);
        QVERIFY(g->exclusive());
        QList<int> got;
        for (QAbstractButton *b : g->buttons())
            got.append(g->id(b));
        std::sort(got.begin(), got.end());
        QCOMPARE(got, ids);
    }

    void tabOrder()
    {
        Window w;
        QStringList expected{"OptPort 0", "OptPort 1", "OptPort 2", "OptPort 3", "Command1"};
        for (int i = 1; i <= 6; ++i)
            expected << QStringLiteral("OptBaud %1").arg(i);
        expected << "Command2";
        for (int i = 0; i <= 5; ++i)
            expected << QStringLiteral("optBaud1 %1").arg(i);
        for (int i = 0; i <= 13; ++i)
            expected << QStringLiteral("OptLg %1").arg(i);
        for (int i = 0; i <= 9; ++i)
            expected << QStringLiteral("OptCode %1").arg(i);
        for (int i = 0; i <= 6; ++i)
            expected << QStringLiteral("OptCMD %1").arg(i);
        expected << "Command3";

        QStringList chain;
        QWidget *start = w.form->findChild<QWidget *>(QStringLiteral("Label1"));
        for (QWidget *x = start->nextInFocusChain(); x != start && chain.size() < expected.size(); x = x->nextInFocusChain()) {
            if (!(x->focusPolicy() & Qt::TabFocus))
                continue;
            const QVariant index = x->property("index");
            chain << (index.isValid() ? QStringLiteral("%1 %2").arg(x->objectName()).arg(index.toInt()) : x->objectName());
        }
        QCOMPARE(chain, expected);
    }

    void clicksWriteOnlyTheirField_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("portSettings");
        QTest::addColumn<QByteArray>("bytes2to5");
        QTest::newRow("Com 3") << "OptPort" << 2 << 3 << "9600,N,8,1" << hex("31300A00");
        QTest::newRow("Baud Rate 19200") << "OptBaud" << 6 << 1 << "19200,N,8,1" << hex("31300A00");
        QTest::newRow("Baud Rate 600") << "OptBaud" << 1 << 1 << "600,N,8,1" << hex("31300A00");
        QTest::newRow("Baud 19200") << "optBaud1" << 5 << 1 << "9600,N,8,1" << hex("30300A00");
        QTest::newRow("DENMARK II") << "OptLg" << 10 << 1 << "9600,N,8,1" << hex("313A0A00");
        QTest::newRow("SLAVONIC_CODE") << "OptCode" << 5 << 1 << "9600,N,8,1" << hex("31300600");
        QTest::newRow("AEDEX") << "OptCMD" << 3 << 1 << "9600,N,8,1" << hex("31300A03");
    }

    void clicksWriteOnlyTheirField()
    {
        QFETCH(QString, group);
        QFETCH(int, index);
        QFETCH(int, port);
        QFETCH(QString, portSettings);
        QFETCH(QByteArray, bytes2to5);
        Window w;
        QAbstractButton *b = member(*w.form, qPrintable(group), index);
        clickRadio(b);
        QVERIFY(b->isChecked());
        const Settings &s = w.form->settings();
        QCOMPARE(int(s.CommPortNumber), port);
        QCOMPARE(s.PortSettings, portSettings);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(s.ParamPacket.data()) + 2, 4), bytes2to5);
        // Exclusive within its own group only: the other groups keep their start members.
        QVERIFY(member(*w.form, "OptLg", group == QLatin1String("OptLg") ? index : 0)->isChecked());
        QVERIFY(member(*w.form, "OptPort", group == QLatin1String("OptPort") ? index : 0)->isChecked());
    }

    void buttonsRunTheCommands()
    {
        Window w;
        ModalWatcher watcher;
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        QVERIFY(w.sim.waitForBytes(8));
        QCOMPARE(w.sim.received(), hex("020131300A00030B"));

        clickRadio(member(*w.form, "OptLg", 10));  // DENMARK II
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        QVERIFY(w.sim.waitForBytes(16));
        QCOMPARE(quint8(w.sim.received().at(11)), quint8(0x3A));

        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
        QVERIFY(w.sim.waitForBytes(20));
        QCOMPARE(w.sim.received().right(4), hex("02800381"));
        QCOMPARE(watcher.boxes, QStringList());

        // The query closed the port: another program could take it now.
        SerialLink other;
        QVERIFY(!other.open(w.sim.devicePath(), QStringLiteral("9600,N,8,1")));
    }

    void missingPortShowsItsMessage()
    {
        Window w;
        ModalWatcher watcher;
        clickRadio(member(*w.form, "OptPort", 1));
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
        // Title, text, no icon, one button.
        const QString box = QStringLiteral("custdisp|COM 2: not available.|%1|1").arg(int(QMessageBox::NoIcon));
        QCOMPARE(watcher.boxes, QStringList({box, box}));
        QCOMPARE(w.sim.received(), QByteArray());
    }

    void enterAndEscapeStartNothing()
    {
        Window w;
        QList<QSignalSpy *> spies;
        for (const char *name : {"Command1", "Command2", "Command3"})
            spies.append(new QSignalSpy(w.form->findChild<QPushButton *>(QLatin1String(name)), &QPushButton::clicked));
        for (QWidget *focus : {static_cast<QWidget *>(member(*w.form, "OptLg", 0)),
                               static_cast<QWidget *>(w.form->findChild<QPushButton *>(QStringLiteral("Command3")))}) {
            focus->setFocus();
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(focus, key);
        }
        for (QSignalSpy *spy : spies) {
            QCOMPARE(spy->count(), 0);
            delete spy;
        }
    }

    void downloadThroughTheWindow()
    {
        using namespace std::chrono_literals;
        DownloadTimings t;
        t.pauseAfterFrame = 1ms;
        Window w(t);
        FaultPlan plan;
        plan.rules.append({MessageKind::DataFrame, 1, 1, FaultAction::answer(0xAA, 400ms)});
        w.sim.setFaultPlan(plan);
        QTemporaryDir dir;
        const QString name = writeFile(dir.filePath(QStringLiteral("image.bin")), QByteArray(500, 'q'));

        ModalWatcher watcher;
        QString filter;
        watcher.onFileDialog = [&](QFileDialog *d) {
            filter = d->nameFilters().join(QLatin1Char(';'));
            QCOMPARE(d->defaultSuffix(), QStringLiteral("bin"));
            QCOMPARE(d->fileMode(), QFileDialog::ExistingFile);
            d->selectFile(name);
            static_cast<QDialog *>(d)->accept();
        };
        auto *bar = w.form->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        auto *command1 = w.form->findChild<QPushButton *>(QStringLiteral("Command1"));
        QSignalSpy transmitted(command1, &QPushButton::clicked);
        bool sawDuringWait = false;
        // While frame 1's answer is on its way: the window still takes clicks.
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            if (!w.form->downloadRunning() || bar->value() != 1)
                return;
            poll.stop();
            sawDuringWait = !command1->isEnabled() && bar->maximum() == 3;
            clickRadio(member(*w.form, "OptLg", 5));  // SWEDEN
            QTest::mouseClick(command1, Qt::LeftButton);
        });
        poll.start();
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);

        QCOMPARE(filter, QStringLiteral("Bin File(*.bin)"));
        QVERIFY(sawDuringWait);
        QCOMPARE(watcher.boxes, QStringList{QStringLiteral("ISP Message|ISP Transmit OK!|0|1")});
        QCOMPARE(w.form->settings().ParamPacket[3], quint8(0x35));
        QCOMPARE(transmitted.count(), 0);
        QVERIFY(command1->isEnabled());
        QCOMPARE(bar->value(), 0);
        QVERIFY(w.sim.waitForMessages(6));
        QCOMPARE(w.sim.image(), QByteArray(500, 'q') + QByteArray(52, '\0'));
    }

    void closingDuringADownloadCancelsIt_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("confirmed") << true;
        QTest::newRow("refused") << false;
    }

    void closingDuringADownloadCancelsIt()
    {
        QFETCH(bool, confirm);
        using namespace std::chrono_literals;
        DownloadTimings t;
        t.pauseAfterFrame = 1ms;
        t.dataTimeout = 300ms;
        Window w(t);
        FaultPlan plan;
        plan.rules.append({MessageKind::DataFrame, 0, 1, FaultAction::silence()});
        w.sim.setFaultPlan(plan);
        QTemporaryDir dir;
        const QString name = writeFile(dir.filePath(QStringLiteral("image.bin")), QByteArray(400, 'z'));

        ModalWatcher watcher;
        watcher.onFileDialog = [&](QFileDialog *d) {
            d->selectFile(name);
            static_cast<QDialog *>(d)->accept();
        };
        int questions = 0;
        watcher.onQuestion = [&](QMessageBox *) {
            ++questions;
            return confirm ? QMessageBox::Yes : QMessageBox::No;
        };
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            // Inside the wait for frame 0's answer.
            if (w.form->downloadRunning() && w.sim.log().size() >= 3) {
                poll.stop();
                w.form->close();
            }
        });
        poll.start();
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);

        QCOMPARE(questions, 1);
        QCOMPARE(w.form->isVisible(), !confirm);
        QTest::qWait(50);
        if (confirm) {
            QCOMPARE(watcher.boxes, QStringList{});  // no success, no failure box either
            QCOMPARE(w.sim.endFrames(), 0);
            QCOMPARE(w.sim.log().size(), 3);  // nothing was sent after the close
        } else {
            QCOMPARE(watcher.boxes, QStringList{QStringLiteral("ISP Message|ISP Transmit OK!|0|1")});
            QCOMPARE(w.sim.endFrames(), 1);
            // With no download running the window closes without a question.
            QVERIFY(w.form->close());
            QCOMPARE(questions, 1);
        }
        // Event loops still work after it: a later wait is not cut short.
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(100);
        QVERIFY(clock.elapsed() >= 100);
    }

    void portTooltipsNameTheirDevices()
    {
        Window w;
        QCOMPARE(member(*w.form, "OptPort", 0)->toolTip(), w.sim.devicePath());
        QCOMPARE(member(*w.form, "OptPort", 1)->toolTip(), QStringLiteral("/dev/custdisp-nothing-here"));
        QCOMPARE(member(*w.form, "OptPort", 2)->toolTip(), QStringLiteral("/dev/ttyS2"));
    }

    void programOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("com2");
        QTest::newRow("none") << QStringList{} << true << "/dev/ttyS1";
        QTest::newRow("com 2") << QStringList{"--com", "2=/dev/ttyUSB0"} << true << "/dev/ttyUSB0";
        QTest::newRow("repeated") << QStringList{"--com", "1=/dev/a", "--com=2=/dev/b"} << true << "/dev/b";
        QTest::newRow("port 9") << QStringList{"--com", "9=/dev/null"} << false << "";
        QTest::newRow("no equals") << QStringList{"--com", "1"} << false << "";
        QTest::newRow("stray argument") << QStringList{"firmware.bin"} << false << "";
    }

    void programOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, valid);
        QFETCH(QString, com2);
        QCommandLineParser parser;
        addProgramOptions(parser);
        QVERIFY(parser.parse(QStringList{"custdisp"} + args));
        QString error;
        const std::optional<ProgramOptions> o = readProgramOptions(parser, &error);
        QCOMPARE(o.has_value(), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (o)
            QCOMPARE(o->ports.deviceFor(2), com2);
    }

    void programExitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("port 9") << QStringList{"--com", "9=/dev/null"} << "port number must be 1 to 4";
        QTest::newRow("no device") << QStringList{"--com", "1"} << "N=DEVICE";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "frobnicate";
    }

    void programExitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        QProcess p;
        p.start(QStringLiteral(CUSTDISP_BINARY), args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(QString::fromLocal8Bit(p.readAllStandardError()).contains(complaint), qPrintable(complaint));
    }

    void programStartsWithAMissingDevice()
    {
        QProcess p;
        p.start(QStringLiteral(CUSTDISP_BINARY), {QStringLiteral("--com"), QStringLiteral("1=/nonexistent")});
        QVERIFY(p.waitForStarted());
        QVERIFY(!p.waitForFinished(1500));  // still running: the window is up
        p.kill();
        p.waitForFinished();
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
