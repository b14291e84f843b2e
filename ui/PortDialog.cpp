#include "ui/PortDialog.h"

#include "wire/LineCodes.h"
#include "link/PortInfo.h"
#include "settings/PortSettings.h"
#include "ui/ErrorBox.h"
#include "ui/FocusStyle.h"
#include "ui/Look.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

TParaForm *ParaForm = nullptr;

using zev::portSettings;

namespace {
constexpr int kScanSteps = 750;

QComboBox *list(const QStringList &items, const char *name)
{
    auto *box = new QComboBox;
    box->setObjectName(name);
    box->addItems(items);
    return box;
}

// Shows a list position; a position outside the list leaves it without a selection.
void select(QComboBox *box, int position)
{
    box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}
} // namespace

UpDown::UpDown(QLineEdit *buddy, int min, int max, QWidget *parent)
    : QWidget(parent), m_buddy(buddy), m_min(min), m_max(max)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *up = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    up->setAccessibleName(tr("端口号加一"));
    auto *down = new QToolButton(this);
    down->setArrowType(Qt::DownArrow);
    down->setAccessibleName(tr("端口号减一"));
    for (QToolButton *button : {up, down}) {
        button->setAutoRepeat(true);
        button->setFixedSize(22, 16);
        column->addWidget(button);
    }
    connect(up, &QToolButton::clicked, this, [this] { step(+1); });
    connect(down, &QToolButton::clicked, this, [this] { step(-1); });
}

void UpDown::step(int delta)
{
    bool ok = false;
    const int current = std::clamp(m_buddy->text().trimmed().toInt(&ok), m_min, m_max);
    m_buddy->setText(QString::number(std::clamp(ok ? current + delta : m_min, m_min, m_max)));
}

TParaForm::TParaForm(QWidget *parent) : QDialog(parent)
{
    setObjectName("ParaForm");
    setWindowTitle(tr("COM(USB) 设置"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, look::skyBlue());
    setPalette(palette);
    setAutoFillBackground(true);

    ComPortEdit = new QLineEdit("1");
    ComPortEdit->setObjectName("ComPortEdit");
    UpDown1 = new UpDown(ComPortEdit, zev::kFirstScanPort, zev::kLastScanPort);
    UpDown1->setObjectName("UpDown1");
    AutoScanButton = new QPushButton(tr("自动搜索"));
    AutoScanButton->setObjectName("AutoScanButton");
    auto *portRow = new QHBoxLayout;
    portRow->setSpacing(0);
    portRow->addWidget(ComPortEdit);
    portRow->addWidget(UpDown1);
    portRow->addSpacing(8);
    portRow->addWidget(AutoScanButton);

    QStringList rates; // the list positions are the baud codes
    for (const int rate : zev::kBaudRates)
        rates << QString::number(rate);
    BaudComboBox = list(rates, "BaudComboBox");
    DataBitsComboBox = list({"5", "6", "7", "8"}, "DataBitsComboBox");
    StopsBitsComboBox = list({"1", "2"}, "StopsBitsComboBox");
    ParityComboBox = list({"None ", "Even ", "Odd ", "Mark ", "Space"}, "ParityComboBox");
    FlowControlComboBox = list({"None", tr("硬件"), tr("软件")}, "FlowControlComboBox");
    FlowControlComboBox->setPlaceholderText(tr("无"));
    FlowControlComboBox->setCurrentIndex(-1);
    select(BaudComboBox, 12);
    select(DataBitsComboBox, 3);
    select(StopsBitsComboBox, 0);
    select(ParityComboBox, 0);
    TimeTimeInterval = new QLineEdit("20");
    TimeTimeInterval->setObjectName("TimeTimeInterval");
    TimeIntervalLabel = new QLabel(tr("定时器间隔（ms）"));
    TimeIntervalLabel->setObjectName("TimeIntervalLabel");
    TimeIntervalLabel->setBuddy(TimeTimeInterval);
    TimeTimeInterval->setAccessibleName(TimeIntervalLabel->text());

    auto *form = new QFormLayout;
    const struct {
        const char *caption;
        QWidget *field;
        QLayout *row;
        const char *name; ///< for a screen reader, where the caption does not say it
    } rows[] = {{"COMM(USB)NO.", nullptr, portRow, nullptr},
                {"Rate", BaudComboBox, nullptr, nullptr},
                {"Data", DataBitsComboBox, nullptr, nullptr},
                {"Stop", StopsBitsComboBox, nullptr, nullptr},
                {"Prity", ParityComboBox, nullptr, QT_TR_NOOP("奇偶校验 (Parity)")},
                {"Flow", FlowControlComboBox, nullptr, nullptr}};
    for (const auto &row : rows) {
        // The label is the field's buddy: assistive technology reads it as the field's label.
        auto *label = new QLabel(row.caption);
        QWidget *field = row.field ? row.field : ComPortEdit;
        field->setAccessibleName(row.name ? tr(row.name) : row.caption);
        // A list box's name on Linux is its current entry: the reader says the label's name.
        if (row.name) label->setAccessibleName(tr(row.name));
        label->setBuddy(field);
        if (row.field)
            form->addRow(label, row.field);
        else
            form->addRow(label, row.row);
    }
    PortDeviceLabel = new QLabel;
    PortDeviceLabel->setObjectName("PortDeviceLabel");
    PortDeviceLabel->setWordWrap(true);
    PortDeviceLabel->setAccessibleDescription(tr("端口对应的设备"));
    form->addRow(static_cast<QWidget *>(nullptr), PortDeviceLabel); // no label of its own
    connect(ComPortEdit, &QLineEdit::textChanged, this, [this] {
        if (isVisible()) describePortNumber();
    });
    form->addRow(TimeIntervalLabel, TimeTimeInterval);
    // The interval is shown, read and stored like the rest, but nobody sees or changes it.
    for (QWidget *hidden :
         {static_cast<QWidget *>(TimeIntervalLabel), static_cast<QWidget *>(TimeTimeInterval)}) {
        hidden->setVisible(false);
        hidden->setEnabled(false);
    }

    MessageLabel = new QLabel(tr("搜索连接的COM(USB),请等待..."));
    MessageLabel->setObjectName("MessageLabel");
    MessageLabel->setAlignment(Qt::AlignCenter);
    MessageLabel->setVisible(false);
    ProgressBar = new QProgressBar;
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setRange(0, kScanSteps);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setVisible(false);
    ProgressBar->setAccessibleName(tr("搜索进度"));

    ReSourceBtn = new QPushButton(tr("初始"));
    ReSourceBtn->setObjectName("ReSourceBtn");
    OkBtn = new QPushButton(tr("设置"));
    OkBtn->setObjectName("OkBtn");
    QFont bold = OkBtn->font();
    bold.setBold(true);
    OkBtn->setFont(bold);
    QPalette red = OkBtn->palette();
    red.setColor(QPalette::ButtonText, Qt::red);
    OkBtn->setPalette(red);
    CancelBtn = new QPushButton(tr("取消"));
    CancelBtn->setObjectName("CancelBtn");
    for (QPushButton *button : {ReSourceBtn, OkBtn, CancelBtn})
        button->setAutoDefault(false);
    auto *strip = new QHBoxLayout;
    strip->addWidget(ReSourceBtn);
    strip->addWidget(OkBtn);
    strip->addWidget(CancelBtn);

    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(MessageLabel);
    column->addWidget(ProgressBar);
    column->addStretch(1);
    column->addLayout(strip);

    bindClick(OkBtn, this, &TParaForm::OkBtnClick);
    bindClick(CancelBtn, this, &TParaForm::CancelBtnClick);
    bindClick(ReSourceBtn, this, &TParaForm::ReSourceBtnClick);
    bindClick(AutoScanButton, this, &TParaForm::AutoScanButtonClick);
    useFocusStyle(this);

    // Described when shown: asking the system for its ports takes a while, not at start-up.
    // Room for two lines of device description; the dialog keeps one size.
    PortDeviceLabel->setMinimumHeight(2 * PortDeviceLabel->fontMetrics().lineSpacing());
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// Follows the port number as it is typed or stepped: a text that is no number names nothing.
void TParaForm::describePortNumber()
{
    bool ok = false;
    const int port = ComPortEdit->text().trimmed().toInt(&ok);
    PortDeviceLabel->setText(ok ? QString::fromStdString(zev::describePortForPeople(port))
                                : tr("不是有效的端口号"));
}

void TParaForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    guarded([this] { FormShow(); });
    describePortNumber(); // the last open may have failed since
}

void TParaForm::SettingsToControls()
{
    ComPortEdit->setText(QString::number(portSettings.port));
    select(BaudComboBox, portSettings.baud);
    select(DataBitsComboBox, portSettings.dataBits);
    select(StopsBitsComboBox, portSettings.stopBits);
    select(ParityComboBox, portSettings.parity);
    select(FlowControlComboBox, portSettings.flow);
    TimeTimeInterval->setText(QString::number(portSettings.interval));
}

void TParaForm::ControlsToSettings()
{
    portSettings.port = wholeNumber(ComPortEdit->text());
    portSettings.baud = BaudComboBox->currentIndex();
    portSettings.dataBits = DataBitsComboBox->currentIndex();
    portSettings.stopBits = StopsBitsComboBox->currentIndex();
    portSettings.parity = ParityComboBox->currentIndex();
    portSettings.flow = FlowControlComboBox->currentIndex();
    portSettings.interval = wholeNumber(TimeTimeInterval->text());
}

void TParaForm::FormShow()
{
    SettingsToControls();
}

void TParaForm::OkBtnClick()
{
    ControlsToSettings();
    std::string error;
    if (!zev::SavePortSettings(error)) throw AppError(QString::fromStdString(error));
    close();
}

void TParaForm::CancelBtnClick()
{
    SettingsToControls();
    close();
}

void TParaForm::ReSourceBtnClick()
{
    SettingsToControls();
    repaint();
}
