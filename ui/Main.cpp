#include "ui/Main.h"

#include "app/ErrorBox.h"
#include "model/RegisterMap.h"
#include "settings/PortSettings.h"
#include "ui/Look.h"
#include "ui/Widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

TMainForm *MainForm = nullptr;

namespace {
constexpr int kClientWidth = 1184;
constexpr int kClientHeight = 901;
constexpr int kFontPixels = 19;
constexpr int kDefaultTimerInterval = 20;

struct StatusPanel {
    const char *text;
    int width;
    const char *accessibleName;
};
constexpr StatusPanel kPanels[] = {
    {"断开", 100, "连接状态"},     {"脱离", 100, "实时状态"}, {"未锁定", 100, "锁定状态"},
    {"帮助信息", 505, "帮助信息"}, {"通讯：", 155, "通讯"},
};
} // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    buildWindow();
    buildFileDialogs();
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
    m_pages->addTab(buildMusicPage(), "音乐调整");
    m_pages->addTab(buildMicPage(), "话筒调整");
    m_pages->addTab(buildEffectsPage(), "效果调整");
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
    Timer1->setInterval(kDefaultTimerInterval);

    // The connect button is the window's cancel button.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, CommunicationBitBtn, &QPushButton::click);

    setFixedSize(kClientWidth, kClientHeight);
}

void TMainForm::buildCommandRow(QWidget *parent, QBoxLayout *row)
{
    struct CommandButton {
        QPushButton *TMainForm::*member;
        const char *name;
        const char *caption;
    };
    static const CommandButton kButtons[] = {
        {&TMainForm::CommunicationBitBtn, "CommunicationBitBtn", "已断开..."},
        {&TMainForm::RunCtlDataBitBtn, "RunCtlDataBitBtn", "不调节机器"},
        {&TMainForm::SendAllBitBtn, "SendAllBitBtn", "全部发送"},
        {&TMainForm::LoadDefaultBitBtn, "LoadDefaultBitBtn", "出厂设置"},
        {&TMainForm::LoadMachineBitBtn, "LoadMachineBitBtn", "调机器数据"},
        {&TMainForm::ReadFileBitBtn, "ReadFileBitBtn", "调用文件"},
        {&TMainForm::SaveFileBitBtn, "SaveFileBitBtn", "写入文件"},
        {&TMainForm::LockDataBitBtn, "LockDataBitBtn", "锁定机器"},
        {&TMainForm::ChangePWDBitBtn, "ChangePWDBitBtn", "更改密码"},
        {&TMainForm::CommSetBitBtn, "CommSetBitBtn", "COM(USB)设置"},
    };
    for (const CommandButton &command : kButtons) {
        auto *button = new QPushButton(QString::fromUtf8(command.caption), parent);
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
    for (int i = 0; i < int(m_panels.size()); ++i) {
        auto *panel = new QLabel(QString::fromUtf8(kPanels[i].text), bar);
        panel->setObjectName(QString("StatusPanel%1").arg(i));
        panel->setFixedWidth(kPanels[i].width);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setAccessibleName(QString::fromUtf8(kPanels[i].accessibleName));
        bar->addWidget(panel);
        m_panels[i] = panel;
    }
    m_progress = new QProgressBar(bar);
    m_progress->setObjectName("ProgressBar");
    m_progress->setRange(0, zev::kTransferSetSize);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName("传输进度");
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

QRadioButton *TMainForm::radioButton(std::uint8_t address, int value) const
{
    QButtonGroup *group = m_groups[address];
    return group ? qobject_cast<QRadioButton *>(group->button(value)) : nullptr;
}

void TMainForm::markLockStateChanged()
{
    m_panels[2]->setText("未锁定");
}

// Gives every named control an accessible name: its caption, with as many of its enclosing
// groups and its page as it takes to tell it from every other control of the window.
void TMainForm::nameControlsForPeople()
{
    struct Entry {
        QWidget *widget;
        QStringList context; // innermost first
        QString name;
        int used = 0;
    };
    auto captionOf = [this](QWidget *w) -> QString {
        if (auto *b = qobject_cast<QAbstractButton *>(w)) return b->text();
        for (const zev::RegisterRow &row : zev::registerMap())
            if (w == m_bars[row.address]) return QString::fromUtf8(row.caption).replace('\n', ' ');
        return {};
    };
    QList<Entry> entries;
    for (QWidget *w : findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || !w->accessibleName().isEmpty()) continue;
        const QString caption = captionOf(w);
        if (caption.isEmpty()) continue;
        Entry e{w, {}, caption};
        for (QWidget *p = w->parentWidget(); p && p != this; p = p->parentWidget()) {
            QString title;
            if (auto *box = qobject_cast<QGroupBox *>(p)) title = box->title();
            if (title.isEmpty()) title = p->property("group").toString();
            const int page = m_pages->indexOf(p);
            if (page >= 0) title = m_pages->tabText(page);
            if (!title.isEmpty() && (e.context.isEmpty() || e.context.last() != title))
                e.context << title;
        }
        entries << e;
    }
    for (bool changed = true; changed;) {
        changed = false;
        QHash<QString, int> counts;
        for (const Entry &e : entries)
            ++counts[e.name];
        for (Entry &e : entries) {
            if (counts[e.name] > 1 && e.used < e.context.size()) {
                e.name = e.context[e.used++] + ' ' + e.name;
                changed = true;
            }
        }
    }
    for (const Entry &e : entries)
        e.widget->setAccessibleName(e.name);
    for (const zev::RegisterRow &row : zev::registerMap())
        if (m_valueLabels[row.address])
            m_valueLabels[row.address]->setAccessibleName(m_bars[row.address]->accessibleName() +
                                                          " 数值");
    m_fixedModeEdit->setAccessibleName("固定模式 P");
    m_pages->setAccessibleName("调整页面");
}
