#pragma once

#include "settings/settings.h"
#include "app/ispcommand.h"
#include "app/operator.h"
#include "record/recordkeeper.h"
#include "settings/portmap.h"
#include "link/seriallink.h"

#include <QPointer>
#include <QWidget>

class PortChooser;
class QButtonGroup;
class QMessageBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

// The one window: its controls carry the names the operator's manual uses
// (Command1, Frame4, OptLg, ...). It only routes events: option clicks to the
// settings rules, buttons to the commands; for the download it is the operator.
class MainForm : public QWidget, public Operator {
    Q_OBJECT
public:
    explicit MainForm(PortMap ports, DownloadTimings timings = {}, QWidget *parent = nullptr);

    const Settings &settings() const { return m_settings; }
    const PortMap &ports() const { return m_ports; }
    // Picks the device behind each "Com N" (its context menu).
    PortChooser &portChooser() { return *m_portChooser; }
    bool downloadRunning() const { return m_isp.isRunning(); }
    // A display of this run only (--simulate): what it is sent stays out of
    // the PC's display record, as the command line's does.
    void leaveUnrecorded(const QString &device) { m_unrecorded = device; }

    // A request to end the program (SIGTERM, a hang-up, Ctrl-C): taken as a
    // confirmed close. A download stops, whatever dialog is up is answered
    // no, and the window closes once the port is released.
    void stopRequested();

    // Operator
    void showMessage(const QString &text, const QString &title) override;
    std::optional<ImagePath> chooseFirmwareFile() override;
    void setProgressMaximum(int maximum) override;
    void setProgressValue(int value) override;
    void setCommandsEnabled(bool enabled) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The port and speed chosen, resolved once per command.
    Target target() const { return m_ports.target(m_settings.CommPortNumber, m_settings.PortSettings); }
    struct Frames {
        QLabel *title = nullptr;
        QGroupBox *frame1 = nullptr, *frame2 = nullptr, *frame3 = nullptr, *frame4 = nullptr, *frame5 = nullptr,
                  *frame6 = nullptr, *frame7 = nullptr;
    };
    struct Groups {
        QButtonGroup *port = nullptr, *baudRate = nullptr, *displayBaud = nullptr, *language = nullptr, *code = nullptr,
                     *emulation = nullptr;
    };
    void buildLayout();
    Frames buildFrames();
    void buildCommands();
    Groups buildGroups(const Frames &frames);
    void layTabOrder(const Frames &frames, const Groups &groups);
    QButtonGroup *addGroup(const OptionGroup &group, QGroupBox *frame, const QList<QRect> &places);
    void transmitCommand();
    void getFirmwareVersion();
    void downloadFirmware();
    void settleCloseQuestion();

    Settings m_settings;
    PortMap m_ports;
    SerialLink m_link;
    RecordKeeper m_records;
    IspCommand m_isp;
    QString m_unrecorded;
    bool m_closeAfterDownload = false;       // asked while a download goes on: on its end
    QMessageBox *m_closeQuestion = nullptr;  // asked while a download goes on

    PortChooser *m_portChooser = nullptr;
    QPushButton *m_command1 = nullptr;
    QPushButton *m_command2 = nullptr;
    QPushButton *m_command3 = nullptr;
    QProgressBar *m_progress = nullptr;
    // Where the focus goes back to when a download ends: a command button.
    QPointer<QWidget> m_focusBeforeDownload;
};
