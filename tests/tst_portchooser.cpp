// Choosing the device behind "Com N" in the window: its context menu by
// mouse, keyboard and accessibility, what it offers, and what is kept.
#include "app/mainform.h"
#include "app/portchooser.h"
#include "settings/portstore.h"
#include "sim/simulateddisplay.h"
#include "modalwatcher.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QInputDialog>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The ports "found" are the ones the test offers: here, a simulated display.
class OfferedPorts : public PortCatalog {
public:
    QList<FoundPort> found;
    QList<FoundPort> ports() const override { return found; }
};

struct Window {
    SimulatedDisplay sim;
    QTemporaryDir dir;
    OfferedPorts catalog;
    std::unique_ptr<MainForm> form;
    QString storePath;

    Window()
    {
        QCoreApplication::setApplicationName(QStringLiteral("custdisp"));
        catalog.found = {{sim.devicePath(), QStringLiteral("Simulated display"), QStringLiteral("custdisp"),
                          QStringLiteral("1234:5678"), QStringLiteral("SIM1")}};
        storePath = dir.filePath(QStringLiteral("ports.ini"));
        form = std::make_unique<MainForm>(PortMap{});
        form->portChooser().setCatalog(catalog);
        form->portChooser().setStore(PortStore(storePath));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    QRadioButton *com(int n) const
    {
        for (QRadioButton *b : form->findChildren<QRadioButton *>(QStringLiteral("OptPort"))) {
            if (b->property("index").toInt() == n - 1)
                return b;
        }
        return nullptr;
    }
};

QMenu *openPopup()
{
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

QAction *actionNamed(QMenu *menu, const QString &start)
{
    for (QAction *a : menu->actions()) {
        if (a->text().startsWith(start))
            return a;
    }
    return nullptr;
}

}  // namespace

class TestPortChooser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        if (QMenu *menu = openPopup())
            menu->close();
    }

    // Right click, the Menu key and Shift+F10 all open the same menu.
    void theMenuOpens_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("right click") << "mouse";
        QTest::newRow("Menu key") << "menu key";
        QTest::newRow("Shift+F10") << "shift f10";
    }

    void theMenuOpens()
    {
        QFETCH(QString, how);
        Window w;
        QRadioButton *com2 = w.com(2);
        com2->setFocus();
        // The window system turns a right click and the Menu key into a
        // context-menu event; Shift+F10 arrives as a key.
        if (how == QLatin1String("mouse")) {
            QContextMenuEvent e(QContextMenuEvent::Mouse, com2->rect().center(), com2->mapToGlobal(com2->rect().center()));
            QApplication::sendEvent(com2, &e);
        } else if (how == QLatin1String("menu key")) {
            QContextMenuEvent e(QContextMenuEvent::Keyboard, com2->rect().center(), com2->mapToGlobal(com2->rect().center()));
            QApplication::sendEvent(com2, &e);
        } else {
            QTest::keyClick(com2, Qt::Key_F10, Qt::ShiftModifier);
        }
        QTRY_VERIFY(openPopup());
        QMenu *menu = openPopup();
        QCOMPARE(menu->accessibleName(), QStringLiteral("Device for Com 2"));
        QStringList texts;
        for (QAction *a : menu->actions()) {
            if (!a->isSeparator())
                texts << a->text();
        }
        QCOMPARE(texts, QStringList({w.sim.devicePath() + "  Simulated display, custdisp, 1234:5678, SIM1",
                                     "Other device…", "Default (/dev/ttyS1)"}));
        // The current choice is marked.
        QVERIFY(actionNamed(menu, QStringLiteral("Default"))->isChecked());
        QVERIFY(!menu->actions().constFirst()->isChecked());
        // Nothing else on the window changed.
        QVERIFY(w.com(1)->isChecked());
        QCOMPARE(w.form->settings().CommPortNumber, 1);
    }

    // Choosing applies at once, shows, is kept, and is what a command uses.
    void aFoundPort()
    {
        Window w;
        QMenu *menu = w.form->portChooser().menuFor(2);
        actionNamed(menu, w.sim.devicePath())->trigger();
        delete menu;
        QCOMPARE(w.com(2)->toolTip().section(QLatin1Char('\n'), 0, 0), w.sim.devicePath());
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w.com(2));
        QVERIFY(a->text(QAccessible::Description).startsWith(QStringLiteral("Port: %1. ").arg(w.sim.devicePath())));
        QCOMPARE(PortStore(w.storePath).load().devices, (QMap<int, QString>{{2, w.sim.devicePath()}}));

        QTest::mouseClick(w.com(2), Qt::LeftButton);
        QTest::mouseClick(w.form->findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
        QVERIFY(w.sim.waitForBytes(4));
        QCOMPARE(w.sim.received(), QByteArray::fromHex("02800381"));

        // Back to the default, and forgotten.
        menu = w.form->portChooser().menuFor(2);
        QVERIFY(actionNamed(menu, w.sim.devicePath())->isChecked());
        actionNamed(menu, QStringLiteral("Default"))->trigger();
        delete menu;
        QCOMPARE(w.com(2)->toolTip().section(QLatin1Char('\n'), 0, 0), QStringLiteral("/dev/ttyS1"));
        QVERIFY(PortStore(w.storePath).load().devices.isEmpty());
    }

    // A device typed by name; a link shows the real device beside it.
    void anotherDevice()
    {
        Window w;
        const QString link = w.dir.filePath(QStringLiteral("display"));
        QVERIFY(QFile::link(w.sim.devicePath(), link));
        QObject context;
        QTimer::singleShot(0, &context, [&] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), QStringLiteral("OtherDeviceDialog"));
            QVERIFY(dialog->labelText().contains(QStringLiteral("\"Com 3\"")));
            dialog->setTextValue(link);
            dialog->accept();
        });
        QMenu *menu = w.form->portChooser().menuFor(3);
        menu->findChild<QAction *>(QStringLiteral("OtherDevice"))->trigger();
        delete menu;
        QCOMPARE(w.com(3)->toolTip().section(QLatin1Char('\n'), 0, 0), QStringLiteral("%1 (%2)").arg(link, w.sim.devicePath()));
        QCOMPARE(PortStore(w.storePath).load().devices.value(3), link);
        QCOMPARE(w.form->ports().deviceFor(3), link);
    }

    // A screen reader hears what the menu is for and what each entry is.
    void theMenuIsNamed()
    {
        Window w;
        w.com(4)->setFocus();
        QTest::keyClick(w.com(4), Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(openPopup());
        QAccessibleInterface *menu = QAccessible::queryAccessibleInterface(openPopup());
        QVERIFY(menu);
        QCOMPARE(menu->role(), QAccessible::PopupMenu);
        QCOMPARE(menu->text(QAccessible::Name), QStringLiteral("Device for Com 4"));
        QStringList items;
        for (int i = 0; i < menu->childCount(); ++i) {
            if (menu->child(i)->role() == QAccessible::MenuItem)
                items << menu->child(i)->text(QAccessible::Name);
        }
        QCOMPARE(items, QStringList({w.sim.devicePath() + "  Simulated display, custdisp, 1234:5678, SIM1",
                                     "Other device…", "Default (/dev/ttyS3)"}));
    }

    // The choice holds for this run even where it cannot be kept.
    void aChoiceThatCannotBeKept()
    {
        Window w;
        QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("ports.ini")));  // a folder in the file's place
        ModalWatcher watcher;                                            // the window tells the operator; OK closes it
        w.form->portChooser().choose(1, w.sim.devicePath());
        QCOMPARE(watcher.boxes.size(), 1);
        QVERIFY2(watcher.boxes.constFirst().startsWith(QStringLiteral("custdisp|The device is used for now, but it could not be kept")),
                 qPrintable(watcher.boxes.constFirst()));
        QCOMPARE(w.form->ports().deviceFor(1), w.sim.devicePath());
    }
};

QTEST_MAIN(TestPortChooser)
#include "tst_portchooser.moc"
