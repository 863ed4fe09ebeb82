#pragma once

#include "link/portcatalog.h"
#include "settings/portmap.h"
#include "settings/portstore.h"

#include <QList>
#include <QObject>

#include <optional>

class QAbstractButton;
class QMenu;
class QWidget;

// Lets the operator pick the device behind each "Com N" option: its context
// menu (right click, the Menu key or Shift+F10) lists the ports found now,
// "Other device…" and "Default (DEVICE)". A choice applies at once, shows in
// the option's tooltip and accessible description, and is saved for the user.
// Tooltip and description also say what the display record says the
// display holds.
class PortChooser : public QObject {
    Q_OBJECT
public:
    // `options[i]` is "Com i+1"; `ports` is the window's map, changed in place.
    PortChooser(const QList<QAbstractButton *> &options, PortMap &ports, QWidget *dialogParent);

    // Where the ports come from and where choices are kept (none: not kept).
    void setCatalog(const PortCatalog &catalog) { m_catalog = &catalog; }
    void setStore(std::optional<PortStore> store) { m_store = std::move(store); }

    // The menu for "Com N", as the operator would get it; the caller shows it.
    QMenu *menuFor(int n);

    // Maps "Com N" to `device` (empty: the default) and keeps it.
    void choose(int n, const QString &device);
    // Asks for a device by name, then maps "Com N" to it.
    void chooseOther(int n);

    // Shows again what the display record says of every option's display
    // (after a download).
    void describeAll();

Q_SIGNALS:
    // Saving the choice failed; it still holds for this run.
    void notSaved(const QString &why);
    // Saving left out what the old file held and was being ignored.
    void dropped(const QString &what);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showMenu(int n, const QPoint &where);
    void describe(int n);

    QList<QAbstractButton *> m_options;
    PortMap &m_ports;
    QWidget *m_dialogParent;
    const PortCatalog *m_catalog = &PortCatalog::system();
    std::optional<PortStore> m_store;
};
