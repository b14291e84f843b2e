#include "ui/Main.h"
#include "ui/QtTexts.h"

#include "model/Layout.h"
#include "model/RegisterMap.h"
#include "settings/PortSettings.h"
#include "ui/Accessible.h"
#include "ui/ErrorBox.h"
#include "ui/FocusStyle.h"
#include "ui/Look.h"
#include "ui/Widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

TMainForm *MainForm = nullptr;

namespace {
constexpr int kClientWidth = 1184;
constexpr int kClientHeight = 901;
constexpr int kFontPixels = 19;
// What a window manager adds around the window (title bar, borders), allowed for when the
// window is fitted to a small screen.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 40;
// The least the help panel keeps of its width on a narrow window.
constexpr int kHelpPanelLeast = 120;
// Room beside a scrolled page for frames a style draws wider than it says.
constexpr int kPageFrameSlack = 16;

// The panels announce what they show; their role is their description.
struct StatusPanel {
    const char *text;
    int width;
    const char *role;
};
constexpr StatusPanel kPanels[] = {
    {QT_TRANSLATE_NOOP("TMainForm", "断开"), 100, QT_TRANSLATE_NOOP("TMainForm", "连接状态")},
    {QT_TRANSLATE_NOOP("TMainForm", "脱离"), 100, QT_TRANSLATE_NOOP("TMainForm", "实时状态")},
    {QT_TRANSLATE_NOOP("TMainForm", "未锁定"), 100, QT_TRANSLATE_NOOP("TMainForm", "锁定状态")},
    {QT_TRANSLATE_NOOP("TMainForm", "帮助信息"), 505, QT_TRANSLATE_NOOP("TMainForm", "帮助信息")},
    {QT_TRANSLATE_NOOP("TMainForm", "通讯："), 155, QT_TRANSLATE_NOOP("TMainForm", "通讯")},
};
} // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    installAccessibility();
    buildWindow();
    bindParameterControls();
    bindCommands();
    nameControlsForPeople();
    startUp();
}

TMainForm::~TMainForm()
{
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::buildWindow()
{
    setObjectName("MainForm");
    setWindowTitle("DSP C-Ver6.0");
    QFont font;
    font.setFamilies(look::typefaces());
    font.setPixelSize(kFontPixels);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, look::skyBlue());
    setPalette(palette);
    setAutoFillBackground(true);

    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(4, 4, 4, 0);
    column->setSpacing(4);
    m_pages = new QTabWidget(central);
    m_pages->setObjectName("PageControl1");
    buildPages();
    m_pages->setCurrentIndex(1);
    for (int i = 0; i < m_pages->count(); ++i)
        m_pages->widget(i)->setAutoFillBackground(true);
    column->addWidget(m_pages, 1);
    auto *row = new QHBoxLayout;
    buildCommandRow(central, row);
    column->addLayout(row);
    setCentralWidget(central);
    buildStatusBar();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(zev::kDefaultPollInterval);

    // The connect button is the window's cancel button.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, CommunicationBitBtn, &QPushButton::click);
    // Ctrl+PageDown and Ctrl+PageUp change pages wherever the focus is, as Ctrl+Tab does.
    for (const auto &[key, step] : {std::pair{Qt::Key_PageDown, 1}, std::pair{Qt::Key_PageUp, -1}}) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] {
            const int count = m_pages->count();
            m_pages->setCurrentIndex((m_pages->currentIndex() + step + count) % count);
        });
    }
    useFocusStyle(this);

    setFixedSize(kClientWidth, kClientHeight);
    fitToScreen();
}

// On a screen smaller than the window (a 1366 x 768 laptop, a 1024 x 600 netbook), each page
// goes into a scroll area of its own and the window fills the screen's available area: the
// page tabs, the command row and the status bar stay in sight, only the page scrolls, and
// every control can be scrolled to at the size it has in the full window. On a large enough
// screen nothing changes.
void TMainForm::fitToScreen()
{
    const QScreen *screen = this->screen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    const QSize room(available.width() - kFrameWidth, available.height() - kFrameHeight);
    if (room.width() >= kClientWidth && room.height() >= kClientHeight) return;

    // The size each page has in the full window: what the tabs leave of the window's height
    // above the command row and the status bar.
    auto *column = static_cast<QVBoxLayout *>(centralWidget()->layout());
    const int frame = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const QSize pageSize(
        kClientWidth - column->contentsMargins().left() - column->contentsMargins().right() -
            frame,
        kClientHeight - statusBar()->sizeHint().height() - CommunicationBitBtn->sizeHint().height() -
            column->spacing() - column->contentsMargins().top() -
            column->contentsMargins().bottom() - m_pages->tabBar()->sizeHint().height() - frame);
    // Tab goes tabs, page, command row on every screen: the order is kept across the move of
    // the pages into their scroll areas (a widget moved goes to the end of the order).
    QWidgetList order;
    for (QWidget *w = m_pages->tabBar()->nextInFocusChain(); w && w != m_pages->tabBar();
         w = w->nextInFocusChain())
        order << w;
    const int current = m_pages->currentIndex();
    for (int i = 0; i < m_pages->count(); ++i) {
        QWidget *page = m_pages->widget(i);
        const QString caption = m_pages->tabText(i);
        m_pages->removeTab(i);
        auto *scroller = new QScrollArea;
        scroller->setObjectName(QString("PageScroller%1").arg(i + 1));
        scroller->setAccessibleName(caption);
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setFocusPolicy(Qt::NoFocus); // no stop without a mark
        scroller->setWidgetResizable(true);
        scroller->viewport()->setBackgroundRole(QPalette::Window);
        page->setMinimumSize(pageSize);
        scroller->setWidget(page);
        m_pages->insertTab(i, scroller, caption);
        m_pageScrollers << scroller;
    }
    m_pages->setCurrentIndex(current);
    QWidget *previous = m_pages->tabBar();
    for (QWidget *w : order)
        if (w->focusPolicy() & Qt::TabFocus && w->window() == this) {
            QWidget::setTabOrder(previous, w);
            previous = w;
        }
    // The window as large as the screen allows, frame included, and no larger than in full:
    // as wide as the page, the page's scroll bar and a margin for the frames around the page
    // (which styles draw a pixel or two wider than they say), so that a screen wide enough
    // never shows a sideways scroll bar.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int widest = kClientWidth + scrollBar + kPageFrameSlack;
    setMinimumSize(0, 0);
    setMaximumSize(widest, kClientHeight);
    resize(std::min(widest, room.width()), std::min(kClientHeight, room.height()));
    setWindowState(windowState() | Qt::WindowMaximized);
}

void TMainForm::buildCommandRow(QWidget *parent, QBoxLayout *row)
{
    struct CommandButton {
        QPushButton *TMainForm::*member;
        const char *name;
        const char *caption;
    };
    static const CommandButton kButtons[] = {
        {&TMainForm::CommunicationBitBtn, "CommunicationBitBtn", QT_TR_NOOP("已断开...")},
        {&TMainForm::RunCtlDataBitBtn, "RunCtlDataBitBtn", QT_TR_NOOP("不调节机器")},
        {&TMainForm::SendAllBitBtn, "SendAllBitBtn", QT_TR_NOOP("全部发送")},
        {&TMainForm::LoadDefaultBitBtn, "LoadDefaultBitBtn", QT_TR_NOOP("出厂设置")},
        {&TMainForm::LoadMachineBitBtn, "LoadMachineBitBtn", QT_TR_NOOP("调机器数据")},
        {&TMainForm::ReadFileBitBtn, "ReadFileBitBtn", QT_TR_NOOP("调用文件")},
        {&TMainForm::SaveFileBitBtn, "SaveFileBitBtn", QT_TR_NOOP("写入文件")},
        {&TMainForm::LockDataBitBtn, "LockDataBitBtn", QT_TR_NOOP("锁定机器")},
        {&TMainForm::ChangePWDBitBtn, "ChangePWDBitBtn", QT_TR_NOOP("更改密码")},
        {&TMainForm::CommSetBitBtn, "CommSetBitBtn", QT_TR_NOOP("COM(USB)设置")},
    };
    for (const CommandButton &command : kButtons) {
        auto *button = new QPushButton(tr(command.caption), parent);
        button->setObjectName(command.name);
        button->setAutoDefault(false);
        row->addWidget(button);
        this->*command.member = button;
    }
    QPalette red = CommunicationBitBtn->palette();
    red.setColor(QPalette::ButtonText, Qt::red);
    CommunicationBitBtn->setPalette(red);
}

void TMainForm::buildStatusBar()
{
    auto *bar = statusBar();
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    QLabel **panels[] = {&m_linkPanel, &m_realTimePanel, &m_lockPanel, &m_helpPanel, &m_commPanel};
    static_assert(std::size(panels) == std::size(kPanels));
    for (std::size_t index = 0; index < std::size(kPanels); ++index) {
        const StatusPanel &entry = kPanels[index];
        auto *panel = new QLabel(tr(entry.text), bar);
        panel->setObjectName(QString("StatusPanel%1").arg(index));
        // Each panel its width; on a window narrower than all of them (a small screen) the
        // help panel gives way rather than the panels overlapping one another.
        if (panels[index] == &m_helpPanel) {
            panel->setMinimumWidth(kHelpPanelLeast);
            panel->setMaximumWidth(entry.width);
            panel->setSizePolicy(QSizePolicy::Expanding, panel->sizePolicy().verticalPolicy());
        } else {
            panel->setFixedWidth(entry.width);
        }
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setAccessibleDescription(tr(entry.role));
        // The help panel takes its full width before the progress bar takes what is left.
        bar->addWidget(panel, panels[index] == &m_helpPanel ? 100 : 0);
        *panels[index] = panel;
    }
    m_progress = new QProgressBar(bar);
    m_progress->setObjectName("ProgressBar");
    m_progress->setRange(0, zev::kTransferSetSize);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(tr("传输进度"));
    // What the panels leave, whatever a style would like it to have.
    m_progress->setSizePolicy(QSizePolicy::Ignored, m_progress->sizePolicy().verticalPolicy());
    bar->addWidget(m_progress, 1);
}

void TMainForm::bindParameterControls()
{
    for (const zev::RegisterRow &row : zev::registerMap()) {
        const std::uint8_t a = row.address;
        if (QSlider *bar = m_bars[a])
            connect(bar, &QSlider::valueChanged, this, [this, a] { trackBarChange(a); });
        if (QCheckBox *box = m_checks[a])
            connect(box, &QCheckBox::toggled, this, [this, a](bool on) { checkBoxClick(a, on); });
        if (QButtonGroup *group = m_groups[a]) {
            for (QAbstractButton *button : group->buttons()) {
                const int value = group->id(button);
                // Bound to the state change, so that checking a button from code runs it too.
                connect(button, &QAbstractButton::toggled, this, [this, a, value](bool on) {
                    if (on) radioClick(a, value);
                });
            }
        }
    }
    connect(m_fixedModeEdit, &QSpinBox::valueChanged, this, [this] {
        if (m_fixedModeEdit->isEnabled()) DSPModeCSpinEditChange();
    });
}

void TMainForm::bindCommands()
{
    bindClick(CommunicationBitBtn, this, &TMainForm::CommunicationBitBtnClick);
    bindClick(RunCtlDataBitBtn, this, &TMainForm::RunCtlDataBitBtnClick);
    bindClick(SendAllBitBtn, this, &TMainForm::SendAllBitBtnClick);
    bindClick(LoadMachineBitBtn, this, &TMainForm::LoadMachineBitBtnClick);
    bindClick(LockDataBitBtn, this, &TMainForm::LockDataBitBtnClick);
    bindClick(CommSetBitBtn, this, &TMainForm::CommSetBitBtnClick);
    bindClick(LoadDefaultBitBtn, this, &TMainForm::LoadDefaultBitBtnClick);
    bindClick(ReadFileBitBtn, this, &TMainForm::ReadFileBitBtnClick);
    bindClick(SaveFileBitBtn, this, &TMainForm::SaveFileBitBtnClick);
    // ChangePWDBitBtn has nothing behind it.
    connect(Timer1, &QTimer::timeout, this, [this] { guarded([this] { Timer1Timer(); }); });
}

// Both dialogs keep the filter entry last chosen in them: they live as long as the window.
void TMainForm::buildFileDialogs()
{
    if (OpenDialog1) return;
    const QStringList filter = {"dat (*.dat)", "*.* (*)"};
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName("OpenDialog1");
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::AnyFile); // the read command checks existence
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName("SaveDialog1");
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    for (QFileDialog *dialog : {OpenDialog1, SaveDialog1}) {
        dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                           QFileDialog::DontConfirmOverwrite);
        dialog->setNameFilters(filter);
        dialog->selectNameFilter(filter.first());
    }
}

QLabel *TMainForm::statusPanel(int index) const
{
    QLabel *const panels[] = {m_linkPanel, m_realTimePanel, m_lockPanel, m_helpPanel, m_commPanel};
    return index >= 0 && index < int(std::size(panels)) ? panels[index] : nullptr;
}

QRadioButton *TMainForm::radioButton(std::uint8_t address, int value) const
{
    QButtonGroup *group = m_groups[address];
    return group ? qobject_cast<QRadioButton *>(group->button(value)) : nullptr;
}

void TMainForm::markLockStateChanged()
{
    m_lockPanel->setText(tr("未锁定"));
}

// What a screen reader says. Controls that show a text are announced by that text, kept
// current by Qt as it changes. The 48 bars show none: each is named by the register's one name
// for people (the same that zev720ctl prints), and its description is the value that its label
// or scale shows, kept current. Value labels and status panels say what they are in their
// description.
void TMainForm::nameControlsForPeople()
{
    for (const zev::RegisterRow &row : zev::registerMap()) {
        QSlider *bar = m_bars[row.address];
        if (!bar) continue;
        const QString name = QString::fromStdString(zev::nameForPeople(row.address, look::windowLanguage()));
        bar->setAccessibleName(name);
        if (QLabel *label = m_valueLabels[row.address])
            label->setAccessibleDescription(tr("%1 数值").arg(name));
        describeBar(row.address);
        connect(bar, &QSlider::valueChanged, this, [this, a = row.address] { describeBar(a); });
    }
    // A check box says its name for people, which holds its text; a radio group's buttons sit
    // in a column named by its name for people.
    for (const zev::RegisterRow &row : zev::registerMap()) {
        const QString name = QString::fromStdString(zev::nameForPeople(row.address, look::windowLanguage()));
        if (QCheckBox *box = m_checks[row.address]) box->setAccessibleName(name);
        if (QButtonGroup *group = m_groups[row.address])
            if (QAbstractButton *first = group->buttons().value(0))
                first->parentWidget()->setAccessibleName(name);
    }
    m_fixedModeEdit->setAccessibleName(tr("固定模式 P"));
    m_pages->setAccessibleName(tr("调整页面"));
    statusBar()->setAccessibleName(tr("状态栏"));
}

// A bar's description is what a person reads beside it: its value label, or else the
// caption of its scale at the handle.
void TMainForm::describeBar(std::uint8_t address)
{
    QSlider *bar = m_bars[address];
    if (!bar) return;
    QString shown;
    if (const QLabel *label = m_valueLabels[address]) {
        shown = label->text();
    } else if (const QStringList &scale = m_scales[address];
               scale.size() == bar->maximum() - bar->minimum() + 1) {
        shown = scale[bar->value() - bar->minimum()];
    } else {
        shown = QString::number(bar->value());
    }
    bar->setAccessibleDescription(shown);
}

void TMainForm::showValue(std::uint8_t address, const QString &text)
{
    if (QLabel *label = m_valueLabels[address]) label->setText(text);
    describeBar(address);
}
