#include "app/mainform.h"

#include "app/portchooser.h"
#include "commands/displaycommands.h"

#include <QAccessible>
#include <QApplication>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

// Resources of a static library are not registered on their own.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

// The layout is drawn in twips; at 96 dpi fifteen make one pixel.
constexpr int px(int twips) { return twips / 15; }
QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

QFont captionFont(double points, bool bold)
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPointSizeF(points);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

// Most styles put a frame's title above its border, which pushes the border
// into the first row of options; here the border runs through the title's
// middle, as the layout was drawn, and the title keeps a gap in it.
const QString kFrameStyle = QStringLiteral(
    "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.6em; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
    " left: 6px; padding: 0px 2px; }");

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, QRect place)
{
    auto *box = new QGroupBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->setFont(captionFont(8.25, true));
    box->setGeometry(place);
    box->setStyleSheet(kFrameStyle);
    // Without it a screen reader may name every inner frame after the outer one.
    box->setAccessibleName(caption);
    return box;
}

QFrame *line(QWidget *parent, const char *name, int left, int top)
{
    constexpr int kLineEnd = 10080;
    auto *l = new QFrame(parent);
    l->setObjectName(QLatin1String(name));
    l->setFrameShape(QFrame::HLine);
    l->setFrameShadow(QFrame::Sunken);
    l->setGeometry(px(left), px(top), px(kLineEnd - left), 2);
    return l;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, QRect place)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setFont(captionFont(8.25, true));
    b->setGeometry(place);
    // Neither Enter nor Escape may start a command: a stray key must never
    // start a download.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

// An option keeps its place from the layout, but never less than its
// indicator and caption need: it grows about the middle of its place, and to
// the right where the caption's font runs wider than the one it was drawn for.
void placeOption(QAbstractButton *option, QRect place)
{
    const QSize needed = option->sizeHint();
    const int height = qMax(place.height(), needed.height());
    const int top = place.top() + (place.height() - height) / 2;
    option->setGeometry(place.left(), top, qMax(place.width(), needed.width()), height);
}

// Tab stops at a group's checked member only, as in native toolkits; the
// arrow keys move within the group, and a click still focuses any member.
void tabStopsOnChecked(const QButtonGroup *group)
{
    for (QAbstractButton *b : group->buttons())
        b->setFocusPolicy(b->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

// A separator line is decoration: screen readers skip a separator, but would
// read a plain frame out as an unnamed object.
QAccessibleInterface *separatorLines(const QString &className, QObject *object)
{
    auto *frame = qobject_cast<QFrame *>(object);
    if (className != QLatin1String("QFrame") || !frame)
        return nullptr;
    if (frame->frameShape() != QFrame::HLine && frame->frameShape() != QFrame::VLine)
        return nullptr;
    return new QAccessibleWidget(frame, QAccessible::Separator);
}

// Room for the icon and three buttons of a title bar, in pixels.
constexpr int kTitleBarControls = 120;

// The window manager puts an icon and up to three buttons next to the title
// and elides what does not fit; a message box's title must stay readable.
void widenForTitle(QMessageBox &box)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const int titleBar = QFontMetrics(font).horizontalAdvance(box.windowTitle()) + kTitleBarControls;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(titleBar, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

// Column layouts shared by several groups.
QList<QRect> column(int left, const QList<int> &tops, int width, int height)
{
    QList<QRect> places;
    for (int top : tops)
        places.append(twips(left, top, width, height));
    return places;
}

}  // namespace

MainForm::MainForm(PortMap ports, DownloadTimings timings, QWidget *parent)
    : QWidget(parent), m_ports(std::move(ports)), m_isp(m_link, *this, m_records, timings)
{
    initResources();
    static const bool separatorsInstalled = [] {
        QAccessible::installFactory(separatorLines);
        return true;
    }();
    Q_UNUSED(separatorsInstalled);
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Customer Display"));
    setWindowIcon(QIcon(QStringLiteral(":/custdisp/custdisp.png")));
    setFixedSize(px(10335), px(7305));
    buildLayout();
    connect(&m_isp, &IspCommand::finished, this, [this] {
        settleCloseQuestion();
        m_portChooser->describeAll();
        // A close asked for during a download happens once the port is let go.
        if (m_closeAfterDownload)
            close();
    });
}

QButtonGroup *MainForm::addGroup(const OptionGroup &group, QGroupBox *frame, const QList<QRect> &places)
{
    auto *buttons = new QButtonGroup(this);
    buttons->setObjectName(QLatin1String(group.name));
    buttons->setExclusive(true);
    for (qsizetype i = 0; i < group.captions.size(); ++i) {
        const int index = group.firstIndex + int(i);
        auto *radio = new QRadioButton(group.captions.at(i), frame);
        radio->setObjectName(QLatin1String(group.name));
        radio->setProperty("index", index);
        radio->setFont(captionFont(8.25, false));
        // Both "9600"s, told apart by their group.
        radio->setAccessibleDescription(frame->title());
        placeOption(radio, places.at(i));
        buttons->addButton(radio, index);
    }
    buttons->button(group.startIndex)->setChecked(true);
    // A member can be checked by a click, a key, an accessibility action or
    // code; only the switch itself is common to all, and it comes once.
    connect(buttons, &QButtonGroup::idToggled, this,
            [this, buttons, click = group.click](int index, bool checked) {
                if (!checked)
                    return;
                (m_settings.*click)(index);
                tabStopsOnChecked(buttons);
            });
    return buttons;
}

void MainForm::buildLayout()
{
    const Frames frames = buildFrames();
    buildCommands();
    const Groups groups = buildGroups(frames);
    layTabOrder(frames, groups);
}

MainForm::Frames MainForm::buildFrames()
{
    Frames f;
    f.title = new QLabel(QStringLiteral("Customer Display Command"), this);
    f.title->setObjectName(QStringLiteral("Label1"));
    f.title->setFont(captionFont(18, true));
    f.title->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    f.title->setGeometry(twips(2040, 120, 5775, 495));

    line(this, "Line1", 240, 720);
    f.frame2 = frame(this, "Frame2", QStringLiteral("Parameters"), twips(240, 840, 9855, 3855));
    f.frame4 = frame(f.frame2, "Frame4", QStringLiteral("Baud"), twips(120, 360, 1095, 3375));
    f.frame5 = frame(f.frame2, "Frame5", QStringLiteral("Language"), twips(1320, 360, 3495, 3375));
    f.frame6 = frame(f.frame2, "Frame6", QStringLiteral("Code"), twips(4920, 360, 2895, 3375));
    f.frame7 = frame(f.frame2, "Frame7", QStringLiteral("Command"), twips(7920, 360, 1815, 3375));
    line(this, "Line2", 240, 4800);
    f.frame1 = frame(this, "Frame1", QStringLiteral("Port"), twips(240, 4920, 4095, 975));
    f.frame3 = frame(this, "Frame3", QStringLiteral("Baud Rate"), twips(4440, 4920, 5655, 975));
    line(this, "Line3", 240, 6000);
    return f;
}

void MainForm::buildCommands()
{
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setGeometry(twips(240, 6120, 9855, 255));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("Download progress"));

    // The captions are the display tool's own words, "Fireware" included,
    // kept exactly as operators know them: manuals and habits point at them.
    m_command1 = button(this, "Command1", QStringLiteral("Transmit Command"), twips(1080, 6600, 2415, 375));
    m_command2 = button(this, "Command2", QStringLiteral("Get Fireware Version"), twips(4080, 6600, 2415, 375));
    m_command3 = button(this, "Command3", QStringLiteral("ISP"), twips(7080, 6600, 2415, 375));
    connect(m_command1, &QPushButton::clicked, this, &MainForm::transmitCommand);
    connect(m_command2, &QPushButton::clicked, this, &MainForm::getFirmwareVersion);
    connect(m_command3, &QPushButton::clicked, this, &MainForm::downloadFirmware);
}

MainForm::Groups MainForm::buildGroups(const Frames &f)
{
    const QList<int> sevenRows{360, 780, 1200, 1620, 2040, 2460, 2880};
    Groups g;
    g.port = addGroup(OptionGroups::port(), f.frame1,
                      {twips(480, 240, 975, 255), twips(2400, 240, 975, 255), twips(480, 600, 975, 255),
                       twips(2400, 600, 975, 255)});
    QList<QAbstractButton *> portOptions;
    for (int i = 0; i < 4; ++i)
        portOptions.append(g.port->button(i));
    m_portChooser = new PortChooser(portOptions, m_ports, this);
    connect(m_portChooser, &PortChooser::notSaved, this, [this](const QString &why) {
        showMessage(QStringLiteral("The device is used for now, but it could not be kept for the next start: %1.").arg(why),
                    applicationTitle());
    });

    g.baudRate = addGroup(OptionGroups::baudRate(), f.frame3,
                          {twips(480, 240, 1215, 255), twips(2460, 240, 855, 255), twips(4080, 240, 855, 255),
                           twips(480, 600, 1215, 255), twips(2460, 600, 855, 255), twips(4080, 600, 975, 255)});
    g.displayBaud = addGroup(OptionGroups::displayBaud(), f.frame4,
                             {twips(120, 360, 855, 255), twips(120, 894, 855, 180), twips(120, 1353, 855, 180),
                              twips(120, 1812, 855, 255), twips(120, 2346, 855, 255), twips(120, 2880, 855, 255)});
    QList<QRect> languagePlaces;
    for (int i = 0; i < 14; ++i) {
        const int width = (i == 0 || i == 3 || i == 6 || i == 7 || i == 8) ? 855
                          : (i == 10 || i == 12)                           ? 1335
                                                                           : 1215;
        languagePlaces.append(twips(i < 7 ? 240 : 1800, sevenRows.at(i % 7), width, i == 10 ? 195 : 180));
    }
    g.language = addGroup(OptionGroups::language(), f.frame5, languagePlaces);
    g.code = addGroup(OptionGroups::codeTable(), f.frame6,
                      column(360, {240, 546, 852, 1158, 1464, 1770, 2076, 2382, 2688, 3000}, 2400, 255));
    QList<QRect> emulationPlaces = column(240, sevenRows, 1215, 255);
    emulationPlaces[2].setWidth(px(1455));
    g.emulation = addGroup(OptionGroups::emulation(), f.frame7, emulationPlaces);
    return g;
}

// Tab order: port, Transmit, line speed, Version, the four parameter groups,
// ISP. The label and the frames take no focus themselves, but they hold
// their places in the chain.
void MainForm::layTabOrder(const Frames &f, const Groups &g)
{
    QList<QWidget *> chain{f.title, f.frame1};
    const auto members = [&chain](QButtonGroup *group) {
        QList<QAbstractButton *> buttons = group->buttons();
        std::sort(buttons.begin(), buttons.end(), [group](auto *a, auto *b) { return group->id(a) < group->id(b); });
        for (QAbstractButton *b : buttons)
            chain.append(b);
    };
    members(g.port);
    chain << m_command1 << f.frame3;
    members(g.baudRate);
    chain << m_command2 << f.frame2 << f.frame4;
    members(g.displayBaud);
    chain << f.frame5;
    members(g.language);
    chain << f.frame6;
    members(g.code);
    chain << f.frame7;
    members(g.emulation);
    chain << m_command3 << m_progress;
    // setTabOrder() skips widgets that take no focus; let them take it just
    // while the chain is laid.
    QList<QWidget *> unfocused;
    for (QWidget *w : chain) {
        if (w->focusPolicy() == Qt::NoFocus) {
            unfocused.append(w);
            w->setFocusPolicy(Qt::TabFocus);
        }
    }
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain.at(i - 1), chain.at(i));
    for (QWidget *w : unfocused)
        w->setFocusPolicy(Qt::NoFocus);
    for (QButtonGroup *group : {g.port, g.baudRate, g.displayBaud, g.language, g.code, g.emulation})
        tabStopsOnChecked(group);
}

void MainForm::transmitCommand()
{
    // The packet is completed even when the port then turns out to be missing.
    m_settings.ParamPacket = DisplayPacket::parameterPacket(m_settings.ParamPacket);
    [[maybe_unused]] const auto failure = sendParameterPacket(target(), m_settings.ParamPacket, m_link, *this);
}

void MainForm::getFirmwareVersion()
{
    [[maybe_unused]] const auto failure = sendVersionQuery(target(), m_link, *this);
}

void MainForm::downloadFirmware()
{
    const Target chosen = target();
    m_isp.run(chosen, RecordUse{m_unrecorded.isEmpty() || chosen.device != m_unrecorded, false});
}

void MainForm::closeEvent(QCloseEvent *event)
{
    if (!m_isp.isRunning()) {
        m_link.close();
        event->accept();
        return;
    }
    // The port must be let go in order: stop the download, and close on its end.
    event->ignore();
    if (m_closeAfterDownload || (m_closeQuestion && m_closeQuestion->isVisible()))
        return;
    // Asked without stopping: the download goes on while the question is up,
    // so a display waiting for its next frame does not give up meanwhile.
    if (!m_closeQuestion) {
        m_closeQuestion = new QMessageBox(QMessageBox::Question, windowTitle(),
                                          QStringLiteral("A firmware download is running. Stop it and close the window?\n"
                                                         "The display will not have the complete firmware."),
                                          QMessageBox::Yes | QMessageBox::No, this);
        m_closeQuestion->setObjectName(QStringLiteral("CloseQuestion"));
        m_closeQuestion->setDefaultButton(QMessageBox::No);
        widenForTitle(*m_closeQuestion);
        connect(m_closeQuestion, &QMessageBox::finished, this, [this](int answer) {
            if (answer == QMessageBox::Yes && m_isp.isRunning()) {
                m_closeAfterDownload = true;
                m_isp.stop();
            }
        });
    }
    m_closeQuestion->open();
}

void MainForm::stopRequested()
{
    m_closeAfterDownload = true;
    m_isp.stop();
    // Nobody is there to answer: a file dialog, a message or the close
    // question would keep the program, and the port, for ever.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        if (auto *dialog = qobject_cast<QDialog *>(w))
            dialog->reject();
        else if (qobject_cast<QMenu *>(w))
            w->close();
    }
    if (!m_isp.isRunning())
        close();
}

void MainForm::showMessage(const QString &text, const QString &title)
{
    settleCloseQuestion();
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("MessageBox"));
    widenForTitle(box);
    box.exec();
}

std::optional<ImagePath> MainForm::chooseFirmwareFile()
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("CmDlg1"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);  // only an existing file can be chosen
    dialog.setNameFilter(QStringLiteral("Bin File(*.bin)"));
    dialog.setDefaultSuffix(QStringLiteral("bin"));
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return ImagePath::fromName(dialog.selectedFiles().constFirst());
}

// The download has its outcome: whether to stop it is no longer the
// question, but the close asked for stands once the operator has read it.
void MainForm::settleCloseQuestion()
{
    if (!m_closeQuestion || !m_closeQuestion->isVisible())
        return;
    m_closeAfterDownload = true;
    m_closeQuestion->done(QMessageBox::No);
}

void MainForm::setProgressMaximum(int maximum)
{
    m_progress->setMaximum(maximum);
}

void MainForm::setProgressValue(int value)
{
    m_progress->setValue(value);
}

void MainForm::setCommandsEnabled(bool enabled)
{
    if (!enabled) {
        // A disabled button passes its focus on down the chain, which would
        // land it on an option, where a stray arrow key changes a setting.
        // The bar takes no keys, and a screen reader follows it.
        QWidget *focus = focusWidget();
        m_focusBeforeDownload = (focus == m_command1 || focus == m_command2) ? focus : m_command3;
        m_progress->setFocus(Qt::OtherFocusReason);
    }
    m_command1->setEnabled(enabled);
    m_command2->setEnabled(enabled);
    m_command3->setEnabled(enabled);
    if (enabled && m_focusBeforeDownload) {
        m_focusBeforeDownload->setFocus(Qt::OtherFocusReason);
        m_focusBeforeDownload.clear();
    }
}
