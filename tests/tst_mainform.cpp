#include "app/mainform.h"
#include "app/programoptions.h"
#include "isp/downloadrecord.h"
#include "modalwatcher.h"
#include "sim/simulateddisplay.h"
#include "testsupport.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QCryptographicHash>
#include <QCommandLineParser>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QJsonObject>
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
        // Com 3 and Com 4 too: the machine may have a ttyS2 or a ttyS3.
        [[maybe_unused]] const bool c = ports.setOverride(3, QStringLiteral("/dev/custdisp-nothing-here-3"));
        [[maybe_unused]] const bool d = ports.setOverride(4, QStringLiteral("/dev/custdisp-nothing-here-4"));
        form = std::make_unique<MainForm>(ports, timings);
        form->show();
    }
    QPushButton *command(int n) const
    {
        return form->findChild<QPushButton *>(QStringLiteral("Command%1").arg(n));
    }
    // "101": Command1 and Command3 enabled, Command2 grey.
    QString commandStates() const
    {
        QString s;
        for (int n = 1; n <= 3; ++n)
            s += command(n)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return s;
    }
};

const QMap<QString, QString> kFrameCaptions{
    // clang-format off
    {"Frame1", "Port"}, {"Frame2", "Parameters"}, {"Frame3", "Baud Rate"}, {"Frame4", "Baud"},
    {"Frame5", "Language"}, {"Frame6", "Code"}, {"Frame7", "Command"}};
// clang-format on

// Every option with what it means on the wire: the port number (OptPort), the
// line speed (OptBaud), or its byte in the parameter packet.
struct Option {
    const char *group;
    int index;
    const char *caption;
    int value;
};
const Option kOptions[] = {
    // clang-format off
    {"OptPort", 0, "Com 1", 1}, {"OptPort", 1, "Com 2", 2}, {"OptPort", 2, "Com 3", 3},
    {"OptPort", 3, "Com 4", 4},
    {"OptBaud", 1, "600", 600}, {"OptBaud", 2, "1200", 1200}, {"OptBaud", 3, "2400", 2400},
    {"OptBaud", 4, "4800", 4800}, {"OptBaud", 5, "9600", 9600}, {"OptBaud", 6, "19200", 19200},
    {"optBaud1", 0, "600", 0x35}, {"optBaud1", 1, "1200", 0x34}, {"optBaud1", 2, "2400", 0x33},
    {"optBaud1", 3, "4800", 0x32}, {"optBaud1", 4, "9600", 0x31}, {"optBaud1", 5, "19200", 0x30},
    {"OptLg", 0, "USA", 0x30}, {"OptLg", 1, "FRANCE", 0x31}, {"OptLg", 2, "GERMANY", 0x32},
    {"OptLg", 3, "U.K", 0x33}, {"OptLg", 4, "DENMARK I", 0x34}, {"OptLg", 5, "SWEDEN", 0x35},
    {"OptLg", 6, "ITALY", 0x36}, {"OptLg", 7, "SPAIN", 0x37}, {"OptLg", 8, "JAPAN", 0x38},
    {"OptLg", 9, "NORWAY", 0x39}, {"OptLg", 10, "DENMARK II", 0x3A}, {"OptLg", 11, "SLAVONIC", 0x3B},
    {"OptLg", 12, "RUSSIA", 0x3C}, {"OptLg", 13, "RESERVED", 0x3D},
    {"OptCode", 0, "JAPAN_CODE", 1}, {"OptCode", 1, "MULTI_LINGUAL_CODE", 2},
    {"OptCode", 2, "PORTUGUESE_CODE", 3}, {"OptCode", 3, "CANADA_CODE", 4},
    {"OptCode", 4, "NORDIC_CODE", 5}, {"OptCode", 5, "SLAVONIC_CODE", 6},
    {"OptCode", 6, "RUSSIAN_CODE", 7}, {"OptCode", 7, "EURO_CODE", 8},
    {"OptCode", 8, "WPC1252_CODE", 9}, {"OptCode", 9, "USA_EUROPE_CODE", 10},
    {"OptCMD", 0, "DSP800", 0}, {"OptCMD", 1, "ESC/POS", 1}, {"OptCMD", 2, "ADM 787/788", 2},
    {"OptCMD", 3, "AEDEX", 3}, {"OptCMD", 4, "UTC/P", 4}, {"OptCMD", 5, "UTC/S", 5},
    {"OptCMD", 6, "CD5220", 6},
};
// clang-format on

// What the option the window shows as checked in `group` means on the wire.
int shownValue(MainForm &w, const char *group)
{
    auto *g = w.findChild<QButtonGroup *>(QLatin1String(group));
    if (!g || !g->checkedButton())
        return -1;
    for (const Option &o : kOptions) {
        if (qstrcmp(o.group, group) == 0 && g->checkedButton()->text() == QLatin1String(o.caption))
            return o.value;
    }
    return -1;
}

// Presses "Transmit Command" and checks that the display hears what the
// window shows: on the port shown, at the speed shown, the parameters shown.
void verifyDisplayGetsWhatIsShown(Window &w)
{
    ModalWatcher watcher;
    const qsizetype before = w.sim.received().size();
    QTest::mouseClick(w.command(1), Qt::LeftButton);
    const int port = shownValue(*w.form, "OptPort");
    if (port != 1) {
        QCOMPARE(watcher.boxes, QStringList{QStringLiteral("custdisp|COM %1: not available.|0|1").arg(port)});
        QCOMPARE(w.sim.received().size(), before);
        return;
    }
    QVERIFY(w.sim.waitForBytes(before + 8));
    QCOMPARE(watcher.boxes, QStringList{});
    const QByteArray packet = w.sim.received().mid(before);
    QCOMPARE(w.sim.lineSpeed(), shownValue(*w.form, "OptBaud"));
    QCOMPARE(int(quint8(packet.at(2))), shownValue(*w.form, "optBaud1"));
    QCOMPARE(int(quint8(packet.at(3))), shownValue(*w.form, "OptLg"));
    QCOMPARE(int(quint8(packet.at(4))), shownValue(*w.form, "OptCode"));
    QCOMPARE(int(quint8(packet.at(5))), shownValue(*w.form, "OptCMD"));
}

// "OptLg 10" for an option, its object name for anything else.
QString nameOf(const QWidget *x)
{
    if (!x)
        return QStringLiteral("(none)");
    const QVariant index = x->property("index");
    return index.isValid() ? QStringLiteral("%1 %2").arg(x->objectName()).arg(index.toInt()) : x->objectName();
}

// Every visible object that reads as text but has none to read.
QStringList emptyTexts(QAccessibleInterface *a)
{
    QStringList found;
    if (!a || a->state().invisible)
        return found;
    if ((a->role() == QAccessible::StaticText || a->role() == QAccessible::Client)
        && a->text(QAccessible::Name).isEmpty())
        found << (a->object() ? a->object()->objectName() + QLatin1Char(' ') + QLatin1String(a->object()->metaObject()->className()) : QStringLiteral("?"));
    for (int i = 0; i < a->childCount(); ++i)
        found << emptyTexts(a->child(i));
    return found;
}

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
        // clang-format off
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
        // clang-format on
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
        QCOMPARE(b->isChecked(), checked);
        // Its place from the layout, grown about its centre to the height it
        // needs, and to the right to the width its caption needs.
        QCOMPARE(b->x(), place.x());
        QCOMPARE(b->width(), qMax(place.width(), b->sizeHint().width()));
        QCOMPARE(b->height(), qMax(place.height(), b->sizeHint().height()));
        QVERIFY2(qAbs(2 * b->y() + b->height() - (2 * place.y() + place.height())) <= 1,
                 qPrintable(QStringLiteral("%1 is not centred on its place").arg(b->y())));
        // Its caption is what assistive technology reads out, and its group
        // tells it from an option of the same caption elsewhere.
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(b);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), caption);
        // Port options go on to name the device they reach.
        const QString description = a->text(QAccessible::Description);
        if (group == QLatin1String("OptPort"))
            QCOMPARE(description, QStringLiteral("Port: %1.").arg(b->toolTip().replace(QLatin1Char('\n'), QStringLiteral(". "))));
        else
            QCOMPARE(description, kFrameCaptions.value(frame));
    }

    void framesSayTheirOwnCaption_data()
    {
        QTest::addColumn<QString>("frame");
        for (auto it = kFrameCaptions.cbegin(); it != kFrameCaptions.cend(); ++it)
            QTest::newRow(qPrintable(it.key())) << it.key();
    }

    void framesSayTheirOwnCaption()
    {
        QFETCH(QString, frame);
        Window w;
        auto *f = w.form->findChild<QGroupBox *>(frame);
        QVERIFY(f);
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(f);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), kFrameCaptions.value(frame));
    }

    // Run again at QT_SCALE_FACTOR 1.5 and 2 (see tests/CMakeLists.txt).
    void framesKeepTheirOptionsClear_data()
    {
        QTest::addColumn<QString>("frame");
        for (auto it = kFrameCaptions.cbegin(); it != kFrameCaptions.cend(); ++it)
            QTest::newRow(qPrintable(it.key())) << it.key();
    }

    void framesKeepTheirOptionsClear()
    {
        QFETCH(QString, frame);
        Window w;
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QCOMPARE(w.form->devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        auto *f = w.form->findChild<QGroupBox *>(frame);
        QVERIFY(f);
        QStyleOptionGroupBox opt;
        opt.initFrom(f);
        opt.text = f->title();
        opt.textAlignment = f->alignment();
        opt.lineWidth = 1;
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect title = f->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, f);
        const QRect inside = f->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxContents, f);
        QVERIFY(!title.isEmpty());
        const QList<QWidget *> items = f->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        QVERIFY(!items.isEmpty());
        for (QWidget *item : items) {
            // clang-format off
            const QString where = QStringLiteral("%1 at %2,%3 %4x%5; title %6,%7 %8x%9; inside %10,%11 %12x%13")
                                      .arg(nameOf(item)).arg(item->x()).arg(item->y()).arg(item->width())
                                      .arg(item->height()).arg(title.x()).arg(title.y()).arg(title.width())
                                      .arg(title.height()).arg(inside.x()).arg(inside.y()).arg(inside.width())
                                      .arg(inside.height());
            // clang-format on
            QVERIFY2(inside.contains(item->geometry()), qPrintable(where));
            QVERIFY2(!item->geometry().intersects(title), qPrintable(where));
            if (qobject_cast<QRadioButton *>(item)) {
                QVERIFY2(item->height() >= item->sizeHint().height(), qPrintable(where));
                QVERIFY2(item->width() >= item->sizeHint().width(), qPrintable(where));
            }
            for (QWidget *other : items) {
                if (other != item)
                    QVERIFY2(!item->geometry().intersects(other->geometry()),
                             qPrintable(where + QStringLiteral(" meets ") + nameOf(other)));
            }
        }
    }

    void separatorLinesAreSeparators_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("Line1") << "Line1";
        QTest::newRow("Line2") << "Line2";
        QTest::newRow("Line3") << "Line3";
    }

    void separatorLinesAreSeparators()
    {
        QFETCH(QString, line);
        Window w;
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w.form->findChild<QWidget *>(line));
        QVERIFY(a);
        QCOMPARE(a->role(), QAccessible::Separator);
    }

    void progressBarSaysWhatItShows()
    {
        Window w;
        auto *bar = w.form->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(bar);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Download progress"));
        w.form->setProgressMaximum(7);
        w.form->setProgressValue(3);
        QVERIFY(a->valueInterface());
        QCOMPARE(a->valueInterface()->currentValue().toInt(), 3);
        QCOMPARE(a->valueInterface()->maximumValue().toInt(), 7);
        // The bridge offers Increase and Decrease on anything with a value;
        // the bar only shows the download, so they must not move it.
        a->valueInterface()->setCurrentValue(5);
        QCOMPARE(bar->value(), 3);
    }

    void messageBoxesShowTheirTitle_data()
    {
        // clang-format off
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::newRow("ISP") << "ISP Transmit OK!" << "ISP Message";
        QTest::newRow("port") << "COM 2: not available." << "custdisp";
        QTest::newRow("short") << "x" << "ISP Message";
        // clang-format on
    }

    void messageBoxesShowTheirTitle()
    {
        QFETCH(QString, text);
        QFETCH(QString, title);
        Window w;
        ModalWatcher watcher;
        int width = 0;
        QStringList empty{QStringLiteral("not seen")};
        watcher.onMessage = [&](QMessageBox *box) {
            width = box->width();
            empty = emptyTexts(QAccessible::queryAccessibleInterface(box));
        };
        w.form->showMessage(text, title);
        QCOMPARE(watcher.boxes, QStringList{title + QLatin1Char('|') + text + QStringLiteral("|0|1")});
        // A title bar holds an icon and three buttons besides the title.
        QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
        font.setBold(true);
        const int needed = QFontMetrics(font).horizontalAdvance(title) + 100;
        QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(needed)));
        QCOMPARE(empty, QStringList{});
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

    void focusChainKeepsTheLayoutOrder()
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
            if (x->focusPolicy() != Qt::NoFocus)
                chain << nameOf(x);
        }
        QCOMPARE(chain, expected);
    }

    void tabStopsAtTheCheckedMembers_data()
    {
        QTest::addColumn<QStringList>("choices");
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<QStringList>("stops");
        const QStringList start{"OptPort 0", "Command1", "OptBaud 5", "Command2", "optBaud1 4",
                                "OptLg 0", "OptCode 9", "OptCMD 0", "Command3"};
        const QStringList chosen{"OptPort 2", "OptBaud 1", "optBaud1 5", "OptLg 13", "OptCode 0", "OptCMD 6"};
        QStringList chosenStops = chosen;
        chosenStops.insert(1, "Command1");
        chosenStops.insert(3, "Command2");
        chosenStops << "Command3";
        QStringList back(start.crbegin() + 1, start.crend());
        back << "Command3";
        QTest::newRow("start, Tab") << QStringList{} << false << start;
        QTest::newRow("start, Shift+Tab") << QStringList{} << true << back;
        QTest::newRow("chosen, Tab") << chosen << false << chosenStops;
    }

    void tabStopsAtTheCheckedMembers()
    {
        QFETCH(QStringList, choices);
        QFETCH(bool, backwards);
        QFETCH(QStringList, stops);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        // The window starts with the focus on its first stop.
        QCOMPARE(nameOf(QApplication::focusWidget()), QStringLiteral("OptPort 0"));
        for (const QString &choice : choices) {
            const QStringList part = choice.split(QLatin1Char(' '));
            member(*w.form, qPrintable(part.at(0)), part.at(1).toInt())->setChecked(true);
        }
        w.command(3)->setFocus();
        QStringList visited;
        for (qsizetype i = 0; i < stops.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
            visited << nameOf(QApplication::focusWidget());
        }
        QCOMPARE(visited, stops);
    }

    void arrowKeysMoveWithinTheGroup_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("afterTab");
        QTest::newRow("Com 1 right") << "OptPort" << 0 << int(Qt::Key_Right) << 1 << "Command1";
        QTest::newRow("Com 1 down") << "OptPort" << 0 << int(Qt::Key_Down) << 2 << "Command1";
        QTest::newRow("Baud Rate 9600 left") << "OptBaud" << 5 << int(Qt::Key_Left) << 4 << "Command2";
        QTest::newRow("Baud 9600 up") << "optBaud1" << 4 << int(Qt::Key_Up) << 3 << "OptLg 0";
        QTest::newRow("USA right") << "OptLg" << 0 << int(Qt::Key_Right) << 7 << "OptCode 9";
        QTest::newRow("RUSSIA down") << "OptLg" << 12 << int(Qt::Key_Down) << 13 << "OptCode 9";
        QTest::newRow("USA_EUROPE_CODE up") << "OptCode" << 9 << int(Qt::Key_Up) << 8 << "OptCMD 0";
        QTest::newRow("DSP800 down") << "OptCMD" << 0 << int(Qt::Key_Down) << 1 << "Command3";
    }

    void arrowKeysMoveWithinTheGroup()
    {
        QFETCH(QString, group);
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, to);
        QFETCH(QString, afterTab);
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QAbstractButton *start = member(*w.form, qPrintable(group), from);
        start->setChecked(true);
        start->setFocus();
        QTest::keyClick(start, Qt::Key(key));
        QCOMPARE(nameOf(QApplication::focusWidget()), QStringLiteral("%1 %2").arg(group).arg(to));
        QVERIFY(member(*w.form, qPrintable(group), to)->isChecked());
        // Tab leaves the group.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(nameOf(QApplication::focusWidget()), afterTab);
        verifyDisplayGetsWhatIsShown(w);
    }

    void everyOptionReachesTheDisplay_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("caption");
        for (const char *how : {"click", "key", "toggle"}) {
            for (const Option &o : kOptions)
                QTest::addRow("%s %s %s", how, o.group, o.caption) << how << o.group << o.index << o.caption;
        }
    }

    // Whichever way an option gets checked, the display is sent what the
    // window shows.
    void everyOptionReachesTheDisplay()
    {
        QFETCH(QString, how);
        QFETCH(QString, group);
        QFETCH(int, index);
        QFETCH(QString, caption);
        Window w;
        QAbstractButton *b = member(*w.form, qPrintable(group), index);
        QVERIFY(b);
        if (how == QLatin1String("click")) {
            clickRadio(b);
        } else if (how == QLatin1String("key")) {
            b->setFocus();
            QTest::keyClick(b, Qt::Key_Space);
        } else {
            QAccessibleActionInterface *actions = QAccessible::queryAccessibleInterface(b)->actionInterface();
            QVERIFY(actions);
            QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
            actions->doAction(QAccessibleActionInterface::toggleAction());
        }
        QVERIFY(b->isChecked());
        QCOMPARE(w.form->findChild<QButtonGroup *>(group)->checkedButton()->text(), caption);
        verifyDisplayGetsWhatIsShown(w);
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
        QTRY_VERIFY(!other.open(targetAt(w.sim.devicePath(), QStringLiteral("9600,N,8,1"))));
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
        std::optional<DisplayEntry> heldDuringWait;
        // While frame 1's answer is on its way: the window still takes clicks.
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            if (!w.form->downloadRunning() || bar->value() != 1)
                return;
            poll.stop();
            sawDuringWait = !command1->isEnabled() && bar->maximum() == 3;
            heldDuringWait = DisplayRecord().load().find(DownloadRecord::keyOf(w.sim.devicePath()));
            clickRadio(member(*w.form, "OptLg", 5));  // SWEDEN
            QTest::mouseClick(command1, Qt::LeftButton);
        });
        poll.start();
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.form->downloadRunning(), 20000);  // the click only starts it

        QCOMPARE(filter, QStringLiteral("Bin File(*.bin)"));
        QVERIFY(sawDuringWait);
        QCOMPARE(watcher.boxes, QStringList{QStringLiteral("ISP Message|ISP Transmit OK!|0|1")});
        QCOMPARE(w.form->settings().ParamPacket[3], quint8(0x35));
        QCOMPARE(transmitted.count(), 0);
        QVERIFY(command1->isEnabled());
        QCOMPARE(bar->value(), 0);
        QVERIFY(w.sim.waitForMessages(6));
        QCOMPARE(w.sim.image(), QByteArray(500, 'q') + QByteArray(52, '\0'));
        // The display record said "under way" mid-download, and holds the
        // image now; the Com 1 option says so.
        QVERIFY(heldDuringWait);
        QCOMPARE(heldDuringWait->state, DisplayEntry::State::UnderWay);
        const auto held = DisplayRecord().load().find(DownloadRecord::keyOf(w.sim.devicePath()));
        QVERIFY(held);
        QCOMPARE(held->program, QStringLiteral("custdisp"));
        QVERIFY(held->holds(QString::fromLatin1(QCryptographicHash::hash(QByteArray(500, 'q'), QCryptographicHash::Sha256).toHex())));
        QAbstractButton *com1 = member(*w.form, "OptPort", 0);
        QVERIFY2(com1->toolTip().contains(QStringLiteral("holds ") + name), qPrintable(com1->toolTip()));
        QVERIFY(com1->accessibleDescription().contains(QStringLiteral("holds ") + name));
    }

    void closingDuringADownloadCancelsIt_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("bySignal");  // SIGTERM, a hang-up, Ctrl-C: a close nobody has to confirm
        QTest::newRow("confirmed") << true << false;
        QTest::newRow("refused") << false << false;
        QTest::newRow("a request to stop") << true << true;
    }

    void closingDuringADownloadCancelsIt()
    {
        QFETCH(bool, confirm);
        QFETCH(bool, bySignal);
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
                if (bySignal)
                    w.form->stopRequested();
                else
                    w.form->close();
            }
        });
        poll.start();
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.form->downloadRunning(), 20000);  // the click only starts it

        QCOMPARE(questions, bySignal ? 0 : 1);
        QCOMPARE(w.form->isVisible(), !confirm);
        QCoreApplication::processEvents();
        w.sim.hearOutstanding();
        if (confirm) {
            QCOMPARE(watcher.boxes, QStringList{});  // no success, no failure box either
            QCOMPARE(w.sim.endFrames(), 0);
            QCOMPARE(w.sim.log().size(), 3);  // nothing was sent after the close
        } else {
            QCOMPARE(watcher.boxes, QStringList{QStringLiteral("ISP Message|ISP Transmit OK!|0|1")});
            QTRY_COMPARE_WITH_TIMEOUT(w.sim.endFrames(), 1, 5000);
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

    // The close question does not hold the download up: frames go on while
    // it is open, and a display waiting for its next frame is not kept waiting.
    // Answered "no", the window stays; never answered before the download
    // ends, the close stands and comes once the outcome's message is read.
    void theDownloadGoesOnWhileTheCloseIsAsked_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("answered no") << true;
        QTest::newRow("not answered before the end") << false;
    }

    void theDownloadGoesOnWhileTheCloseIsAsked()
    {
        QFETCH(bool, answered);
        using namespace std::chrono_literals;
        DownloadTimings t;
        t.pauseAfterFrame = 20ms;
        Window w(t);
        QTemporaryDir dir;
        const QString name = writeFile(dir.filePath(QStringLiteral("image.bin")), QByteArray(184 * 12, 'z'));
        ModalWatcher watcher;
        watcher.onFileDialog = [&](QFileDialog *d) {
            d->selectFile(name);
            static_cast<QDialog *>(d)->accept();
        };
        qsizetype heardWhenAsked = -1;
        bool gaveUp = false;
        QElapsedTimer asked;
        watcher.onQuestion = [&](QMessageBox *) {
            if (heardWhenAsked < 0) {
                heardWhenAsked = w.sim.log().size();
                asked.start();
            }
            // No answer until the display has heard two more frames (or,
            // should nothing move, give up rather than wait for ever).
            gaveUp = asked.elapsed() > 5000;
            return (answered && w.sim.log().size() >= heardWhenAsked + 2) || gaveUp ? QMessageBox::No : QMessageBox::NoButton;
        };
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, &poll, [&] {
            if (w.form->downloadRunning() && w.sim.log().size() >= 3) {
                poll.stop();
                w.form->close();
            }
        });
        poll.start();
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.form->downloadRunning(), 20000);  // the click only starts it
        QVERIFY(heardWhenAsked >= 3);
        QVERIFY2(!gaveUp, "the download stood still while the question was open");
        QCOMPARE(watcher.boxes, QStringList{QStringLiteral("ISP Message|ISP Transmit OK!|0|1")});
        QTRY_COMPARE_WITH_TIMEOUT(w.sim.endFrames(), 1, 5000);  // the display reads on its own thread
        QCOMPARE(w.form->isVisible(), answered);
    }

    // A stop (SIGTERM, a hang-up) while a dialog waits for an answer nobody
    // will give: the dialog goes, the window closes and the port is free.
    void aStopAnswersTheOpenDialog_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::newRow("the file dialog") << "file";
        QTest::newRow("the outcome's message, the port still open") << "message";
        QTest::newRow("the close question, mid-download") << "question";
    }

    void aStopAnswersTheOpenDialog()
    {
        QFETCH(QString, dialog);
        using namespace std::chrono_literals;
        DownloadTimings t;
        t.pauseAfterFrame = 20ms;
        Window w(t);
        QTemporaryDir dir;
        const QString name = writeFile(dir.filePath(QStringLiteral("image.bin")), QByteArray(184 * 6, 'z'));
        bool stopped = false;
        bool answeredByTheTest = false;
        QElapsedTimer sinceStop;
        QTimer look;
        look.setInterval(5);
        connect(&look, &QTimer::timeout, &look, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (stopped) {
                // The program should have answered it; rather than hang, fail.
                if (auto *open = qobject_cast<QDialog *>(modal); open && sinceStop.elapsed() > 3000) {
                    answeredByTheTest = true;
                    open->reject();
                }
                return;
            }
            auto *file = qobject_cast<QFileDialog *>(modal);
            auto *box = qobject_cast<QMessageBox *>(modal);
            const QString kind = file ? QStringLiteral("file")
                                 : box && (box->standardButtons() & QMessageBox::Yes) ? QStringLiteral("question")
                                 : box ? QStringLiteral("message") : QString();
            if (kind == dialog) {
                stopped = true;
                sinceStop.start();
                w.form->stopRequested();
            } else if (file) {
                file->selectFile(name);
                static_cast<QDialog *>(file)->accept();
            } else if (dialog == QLatin1String("question") && w.form->downloadRunning() && w.sim.log().size() >= 3
                       && !modal) {
                w.form->close();
            }
        });
        look.start();
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command3")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.form->isVisible(), 10000);
        QVERIFY(stopped);
        QVERIFY2(!answeredByTheTest, "the stop left the dialog open");
        QVERIFY(!w.form->downloadRunning());
        SerialLink after;
        QVERIFY(!after.open(targetAt(w.sim.devicePath(), QStringLiteral("9600,N,8,1"))));
    }

    void commandsAreGreyForTheWholeDownload_data()
    {
        using namespace std::chrono_literals;
        QTest::addColumn<QList<FaultRule>>("faults");
        QTest::addColumn<bool>("closeWindow");
        QTest::addColumn<QString>("message");
        const auto rule = [](MessageKind kind, FaultAction action) {
            return QList<FaultRule>{{kind, -1, -1, action}};
        };
        QTest::newRow("success") << QList<FaultRule>{} << false << "ISP Transmit OK!";
        QTest::newRow("time-out") << rule(MessageKind::AccessCommand, FaultAction::silence()) << false << "Time Out Error!";
        QTest::newRow("wrong version") << rule(MessageKind::AccessCommand, FaultAction::answer(0x1B)) << false
                                       << "A Incorrect Version No!";
        QTest::newRow("refused") << rule(MessageKind::AccessCommand, FaultAction::answer(0x15)) << false
                                 << "Access ISP Command Failed!";
        QTest::newRow("erase failed") << rule(MessageKind::EraseFrame, FaultAction::answer(0x15)) << false
                                      << "Erase Command Failed!";
        QTest::newRow("data frame failed") << rule(MessageKind::DataFrame, FaultAction::answer(0x15)) << false
                                           << "Transmit Data Failled!";
        QTest::newRow("closed") << rule(MessageKind::DataFrame, FaultAction::silence()) << true << "";
    }

    // All three buttons go grey for the whole download and come back on every
    // way out; the focus goes back to "ISP", never to an option.
    void commandsAreGreyForTheWholeDownload()
    {
        QFETCH(QList<FaultRule>, faults);
        QFETCH(bool, closeWindow);
        QFETCH(QString, message);
        using namespace std::chrono_literals;
        DownloadTimings t;
        t.accessTimeout = t.eraseTimeout = t.dataTimeout = 200ms;
        if (closeWindow)
            t.dataTimeout = 10s;  // the close, however late a loaded machine makes it, comes first
        t.pauseAfterFrame = 1ms;
        Window w(t);
        w.sim.setFaultPlan(FaultPlan{faults});
        w.form->leaveUnrecorded(w.sim.devicePath());  // as under --simulate
        // What the record says of this device (a pty an earlier test used, perhaps) stays as it is.
        const auto entryNow = [&] {
            const auto e = DisplayRecord().load().find(DownloadRecord::keyOf(w.sim.devicePath()));
            return e ? e->toJson() : QJsonObject();
        };
        const QJsonObject entryBefore = entryNow();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QTemporaryDir dir;
        const QString name = writeFile(dir.filePath(QStringLiteral("image.bin")), QByteArray(400, 'g'));

        // The buttons as they are at each step the download shows.
        QStringList seen;
        QStringList focusDuring;
        const auto look = [&] {
            seen << w.commandStates();
            focusDuring << nameOf(w.form->focusWidget());
        };
        ModalWatcher watcher;
        watcher.onFileDialog = [&](QFileDialog *d) {
            d->selectFile(name);
            static_cast<QDialog *>(d)->accept();
        };
        watcher.onMessage = [&](QMessageBox *) { look(); };
        watcher.onQuestion = [&](QMessageBox *) {
            look();
            return QMessageBox::Yes;
        };
        auto *bar = w.form->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        connect(bar, &QProgressBar::valueChanged, w.form.get(), [&] {
            if (!w.command(3)->isEnabled())
                look();
        });
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, &closer, [&] {
            if (w.form->downloadRunning() && w.sim.log().size() >= 3) {  // waiting for frame 0's answer
                closer.stop();
                w.form->close();
            }
        });
        if (closeWindow)
            closer.start();
        w.command(3)->setFocus();
        QTest::keyClick(w.command(3), Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(!w.form->downloadRunning(), 20000);  // the click only starts it

        QVERIFY(!w.form->downloadRunning());
        QCOMPARE(watcher.boxes, message.isEmpty() ? QStringList{} : QStringList{QStringLiteral("ISP Message|") + message + QStringLiteral("|0|1")});
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen, QStringList(seen.size(), QStringLiteral("000")));
        for (const QString &f : focusDuring)
            QVERIFY2(!f.startsWith(QLatin1String("Opt")) && !f.startsWith(QLatin1String("optBaud1")), qPrintable(f));
        QCOMPARE(w.commandStates(), QStringLiteral("111"));
        QCOMPARE(entryNow(), entryBefore);
        QCOMPARE(w.form->isVisible(), !closeWindow);
        // The offscreen platform does not hand activation back after a
        // message box; the window's own focus widget is what gets it then.
        if (!closeWindow)
            QCOMPARE(nameOf(w.form->focusWidget()), QStringLiteral("Command3"));
    }

    void portTooltipsNameTheirDevices()
    {
        Window w;
        // The device first, then what the display record says of it.
        QCOMPARE(member(*w.form, "OptPort", 0)->toolTip().section(QLatin1Char('\n'), 0, 0), w.sim.devicePath());
        QCOMPARE(member(*w.form, "OptPort", 1)->toolTip(),
                 QStringLiteral("/dev/custdisp-nothing-here\nNo download to this display is recorded"));
        QCOMPARE(member(*w.form, "OptPort", 3)->toolTip().section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("/dev/custdisp-nothing-here-4"));
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
