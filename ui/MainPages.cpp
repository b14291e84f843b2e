// The three pages of the main window. Positions are free; grouping, order, ranges, initial
// states and texts follow the panel's layout. Every control is built from its register row.
#include "model/RegisterMap.h"
#include "model/Shown.h"
#include "ui/Main.h"
#include "ui/Widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int kFixedModeButtonId = 1000; // outside the byte range: no register value selects it
constexpr int kSpinEditFontPixels = 23;

// The captions of a bar's scale, as the register map's companion table gives them.
QStringList scaleFor(std::uint8_t address)
{
    QStringList captions;
    for (const std::string &caption : zev::scaleOf(address))
        captions << QString::fromStdString(caption);
    return captions;
}

QGroupBox *groupBox(const QString &title, QLayout *content)
{
    auto *box = new QGroupBox(title);
    box->setLayout(content);
    return box;
}

// A panel whose caption is an ordinary label, so that it can be disabled with the controls.
QFrame *captionedPanel(const QString &title, QLayout *content, QLabel **captionOut)
{
    auto *panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setProperty("group", title);
    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 2, 4, 2);
    auto *caption = new QLabel(title);
    column->addWidget(caption, 0, Qt::AlignLeft);
    column->addLayout(content, 1);
    if (captionOut) *captionOut = caption;
    return panel;
}

QFrame *plainPanel(QLayout *content)
{
    auto *panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setLayout(content);
    return panel;
}

QHBoxLayout *hbox(std::initializer_list<QWidget *> widgets)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(2, 2, 2, 2);
    for (QWidget *w : widgets)
        row->addWidget(w);
    return row;
}

} // namespace

QWidget *TMainForm::barColumn(std::uint8_t address, const QStringList &scale, int captionLines)
{
    const zev::RegisterRow &row = *zev::findRegister(address);
    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(1, 0, 1, 0);
    layout->setSpacing(0);
    for (const QString &line : QString::fromUtf8(row.caption).split('\n')) {
        auto *caption = new QLabel(line);
        caption->setAlignment(Qt::AlignHCenter);
        layout->addWidget(caption);
        m_captionLabels[address] << caption;
    }
    // Bars of one row start level with each other, whatever their captions' line counts.
    for (qsizetype line = m_captionLabels[address].size(); line < captionLines; ++line)
        layout->addWidget(new QLabel(" "));
    QSlider *bar = makeTrackBar(row.min, row.max, row.initial, row.ticks);
    bar->setObjectName(row.control);
    m_bars[address] = bar;
    auto *barRow = new QHBoxLayout;
    barRow->setSpacing(0);
    barRow->addWidget(bar, 0, Qt::AlignHCenter);
    if (!scale.isEmpty()) {
        barRow->addWidget(new ScaleWidget(bar, scale));
        m_scales[address] = scale;
    }
    layout->addLayout(barRow, 1);
    if (row.label) {
        auto *label = new QLabel(QString::fromUtf8(row.initialLabel));
        label->setObjectName(row.label);
        label->setAlignment(Qt::AlignHCenter);
        layout->addWidget(label);
        m_valueLabels[address] = label;
    }
    return column;
}

QWidget *TMainForm::radioColumn(std::uint8_t address)
{
    const zev::RegisterRow &row = *zev::findRegister(address);
    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(2, 2, 2, 2);
    auto *group = new QButtonGroup(column);
    group->setExclusive(true);
    for (const zev::Choice &choice : row.choices) {
        auto *button = new QRadioButton(QString::fromUtf8(choice.caption));
        button->setObjectName(choice.control);
        group->addButton(button, choice.value);
        layout->addWidget(button);
        if (choice.value == row.initial) button->setChecked(true);
    }
    m_groups[address] = group;
    return column;
}

QCheckBox *TMainForm::makeCheckBox(std::uint8_t address)
{
    const zev::RegisterRow &row = *zev::findRegister(address);
    auto *box = new QCheckBox(QString::fromUtf8(row.caption));
    box->setObjectName(row.control);
    m_checks[address] = box;
    return box;
}

QWidget *TMainForm::buildMusicPage()
{
    auto *eqRow = hbox({radioColumn(23)});
    for (std::uint8_t a = 30; a >= 24; --a)
        eqRow->addWidget(barColumn(a, scaleFor(a)));
    auto *upper =
        groupBox("音乐调整", hbox({barColumn(16), barColumn(17), groupBox("7 BAND-EQ", eqRow)}));
    upper->layout()->itemAt(2)->widget()->setSizePolicy(QSizePolicy::Expanding,
                                                        QSizePolicy::Preferred);

    QWidget *input = radioColumn(18);
    input->layout()->addWidget(makeCheckBox(22));
    static_cast<QVBoxLayout *>(input->layout())->addStretch(1);
    auto *key = new QHBoxLayout;
    QWidget *keyColumn = barColumn(21, scaleFor(21));
    m_captionLabels[21].first()->hide(); // the group's title is the bar's caption
    key->addWidget(keyColumn);

    auto *centre = hbox({barColumn(80), barColumn(81), barColumn(82)});
    centre->addWidget(new ScaleWidget(m_bars[82], scaleFor(82)));
    m_scales[82] = m_scales[83] = scaleFor(82); // the scale between them serves both
    centre->addWidget(barColumn(83));
    auto *bass = hbox({barColumn(85, {}, 2), barColumn(86), barColumn(87, scaleFor(87), 2)});

    auto *lower = hbox({groupBox("音乐输入", hbox({input})), groupBox("变调", key),
                        groupBox("中置调整", centre), groupBox("低音调整", bass)});
    auto *page = new QWidget;
    auto *column = new QVBoxLayout(page);
    column->addWidget(upper, 1);
    column->addLayout(lower, 1);
    return page;
}

QWidget *TMainForm::buildMicPage()
{
    auto *checks = new QWidget;
    auto *checkColumn = new QVBoxLayout(checks);
    checkColumn->addStretch(1);
    checkColumn->addWidget(makeCheckBox(34));
    checkColumn->addWidget(makeCheckBox(45));
    checkColumn->addStretch(1);
    auto *upper = hbox({barColumn(32), barColumn(33)});
    for (QWidget *w : {checks, barColumn(35, scaleFor(35)),
                       static_cast<QWidget *>(groupBox("啸叫抑制模式", hbox({radioColumn(44)})))}) {
        upper->addStretch(1);
        upper->addWidget(w);
    }
    upper->addStretch(2);

    auto *eqRow = new QHBoxLayout;
    for (std::uint8_t a = 43; a >= 37; --a)
        eqRow->addWidget(barColumn(a, scaleFor(a)));
    auto *lower = groupBox("话筒调整", hbox({groupBox("话筒EQ模式", hbox({radioColumn(36)})),
                                             groupBox("7 BAND-EQ", eqRow)}));
    auto *page = new QWidget;
    auto *column = new QVBoxLayout(page);
    column->addLayout(upper, 1);
    column->addWidget(lower, 1);
    return page;
}

QWidget *TMainForm::buildEffectsPage()
{
    auto *eqRow = new QHBoxLayout;
    for (std::uint8_t a = 69; a >= 65; --a)
        eqRow->addWidget(barColumn(a, scaleFor(a)));
    auto *upper = hbox({barColumn(48), groupBox("5 BAND-EQ", eqRow),
                        plainPanel(hbox({barColumn(60), barColumn(61), barColumn(62)}))});

    // DSP modes: the K buttons of the register, then the fixed-mode button and its number.
    QWidget *modes = radioColumn(49);
    auto *modeColumn = static_cast<QVBoxLayout *>(modes->layout());
    m_fixedModeButton = new QRadioButton("固定模式");
    m_fixedModeButton->setObjectName("DSPMode5RadioButton");
    m_groups[49]->addButton(m_fixedModeButton, kFixedModeButtonId);
    modeColumn->addWidget(m_fixedModeButton);
    m_fixedModeEdit = new SpinEdit;
    m_fixedModeEdit->setObjectName("DSPModeCSpinEdit");
    m_fixedModeEdit->setRange(zev::kFirstFixedDspMode, zev::kLastFixedDspMode);
    m_fixedModeEdit->setSingleStep(1);
    m_fixedModeEdit->setValue(zev::kFirstFixedDspMode);
    m_fixedModeEdit->setEnabled(false);
    QFont spinFont = m_fixedModeEdit->font();
    spinFont.setPixelSize(kSpinEditFontPixels);
    m_fixedModeEdit->setFont(spinFont);
    m_fixedModeEdit->setMaximumWidth(100);
    auto *numberRow = new QHBoxLayout;
    numberRow->addWidget(new QLabel("P"));
    numberRow->addWidget(m_fixedModeEdit);
    numberRow->addStretch(1);
    modeColumn->addLayout(numberRow);
    modeColumn->addStretch(1);

    QLabel *echoCaption = nullptr;
    QLabel *reverbCaption = nullptr;
    auto *echo = captionedPanel(
        "回声", hbox({barColumn(50), barColumn(51), barColumn(52), barColumn(53)}), &echoCaption);
    auto *reverb =
        captionedPanel("混响",
                       hbox({barColumn(54, {}, 2), barColumn(55, {}, 2), barColumn(56),
                             barColumn(57, {}, 2), barColumn(58, {}, 2), barColumn(59, {}, 2)}),
                       &reverbCaption);
    auto *dsp = new QGroupBox;
    dsp->setObjectName("DSPModeGroupBox");
    dsp->setLayout(hbox({modes, echo, reverb}));
    auto *lower = hbox({dsp, plainPanel(hbox({barColumn(63), barColumn(64)}))});

    // Effect controls: the bars of echo, reverb, chorus and tremolo with all their labels.
    m_effectControls << echoCaption << reverbCaption;
    for (int a = 50; a <= 64; ++a) {
        m_effectControls << m_bars[a] << m_valueLabels[a];
        for (QLabel *caption : m_captionLabels[a])
            m_effectControls << caption;
    }

    auto *page = new QWidget;
    auto *column = new QVBoxLayout(page);
    column->addLayout(upper, 1);
    column->addLayout(lower, 1);
    return page;
}
