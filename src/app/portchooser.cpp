#include "app/portchooser.h"

#include "link/platformwords.h"

#include "isp/downloadrecord.h"
#include "link/devicefacts.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>

PortChooser::PortChooser(const QList<QAbstractButton *> &options, PortMap &ports, QWidget *dialogParent)
    : QObject(dialogParent), m_options(options), m_ports(ports), m_dialogParent(dialogParent)
{
    for (qsizetype i = 0; i < m_options.size(); ++i) {
        QAbstractButton *option = m_options.at(i);
        const int n = int(i) + 1;
        option->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(option, &QWidget::customContextMenuRequested, this, [this, n](const QPoint &at) { showMenu(n, at); });
        // Shift+F10 is the other key for a context menu; Qt maps only the Menu key.
        option->installEventFilter(this);
        describe(n);
    }
}

bool PortChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
            const qsizetype i = m_options.indexOf(static_cast<QAbstractButton *>(watched));
            if (i >= 0) {
                showMenu(int(i) + 1, m_options.at(i)->rect().center());
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

QMenu *PortChooser::menuFor(int n)
{
    auto *menu = new QMenu(m_dialogParent);
    menu->setObjectName(QStringLiteral("PortMenu"));
    menu->setTitle(QStringLiteral("Device for Com %1").arg(n));
    menu->setAccessibleName(menu->title());
    auto *choices = new QActionGroup(menu);
    const QString current = DeviceFacts::realDevicePath(m_ports.deviceFor(n));
    const auto add = [&](const QString &text, const QString &device) {
        QAction *action = menu->addAction(text);
        action->setCheckable(true);
        action->setChecked(DeviceFacts::realDevicePath(device.isEmpty() ? PortMap::defaultDevice(n) : device) == current);
        action->setData(device);
        choices->addAction(action);
        connect(action, &QAction::triggered, this, [this, n, device] { choose(n, device); });
    };
    for (const FoundPort &found : m_catalog->ports())
        add(found.label(), found.device);
    if (!menu->isEmpty())
        menu->addSeparator();
    QAction *other = menu->addAction(QStringLiteral("Other device…"));
    other->setObjectName(QStringLiteral("OtherDevice"));
    connect(other, &QAction::triggered, this, [this, n] { chooseOther(n); });
    add(QStringLiteral("Default (%1)").arg(PortMap::defaultDevice(n)), QString());
    return menu;
}

void PortChooser::showMenu(int n, const QPoint &where)
{
    QMenu *menu = menuFor(n);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_options.at(n - 1)->mapToGlobal(where));
}

void PortChooser::chooseOther(int n)
{
    QInputDialog dialog(m_dialogParent);
    dialog.setObjectName(QStringLiteral("OtherDeviceDialog"));
    dialog.setWindowTitle(QStringLiteral("Device for Com %1").arg(n));
    dialog.setLabelText(QStringLiteral("Device for \"Com %1\" (%2):").arg(n).arg(PlatformWords::deviceKind()));
    dialog.setTextValue(m_ports.deviceFor(n));
    dialog.setAccessibleName(dialog.windowTitle());
    if (dialog.exec() != QDialog::Accepted || dialog.textValue().trimmed().isEmpty())
        return;
    choose(n, dialog.textValue().trimmed());
}

void PortChooser::choose(int n, const QString &device)
{
    // The adapter is kept by a name that finds it in any USB socket.
    const QString kept = device.isEmpty() ? device : DeviceFacts::stableName(device);
    m_ports.clearOverride(n);
    [[maybe_unused]] const bool valid = m_ports.setSaved(n, kept);
    describe(n);
    if (m_store) {
        QString leftOut;
        if (const QString why = m_store->save(n, kept, &leftOut); !why.isEmpty())
            Q_EMIT notSaved(why);
        if (!leftOut.isEmpty())
            Q_EMIT dropped(leftOut);
    }
}

void PortChooser::describeAll()
{
    for (qsizetype i = 0; i < m_options.size(); ++i)
        describe(int(i) + 1);
}

void PortChooser::describe(int n)
{
    const QString device = m_ports.deviceFor(n);
    const QString names = DeviceFacts::namesOf(device);
    const std::optional<DisplayEntry> held = DisplayRecord().load().find(DownloadRecord::keyOf(device));
    const QString record = held ? QStringLiteral("Display %1").arg(held->text())
                                : QStringLiteral("No download to this display is recorded");
    QAbstractButton *option = m_options.at(n - 1);
    option->setToolTip(names + QLatin1Char('\n') + record);
    // The group first, as for every option, then the device.
    option->setAccessibleDescription(QStringLiteral("Port: %1. %2.").arg(names, record));
}
