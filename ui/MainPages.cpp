// The three pages of the main window, built from the layout table: grouping, order and texts
// are the table's, ranges and initial states the register rows'. Positions are free.
#include "model/EditRules.h"
#include "model/Encoding.h"
#include "model/Layout.h"
#include "model/RegisterMap.h"
#include "model/Shown.h"
#include "ui/Accessible.h"
#include "ui/Main.h"
#include "ui/QtTexts.h"
#include "ui/Widgets.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kFixedModeButtonId = 1000; // outside the byte range: no register value selects it
constexpr int kSpinEditFontPixels = 23;

// The captions of a bar's scale, as the register map's companion table gives them.
QStringList scaleFor(std::uint8_t address)
{
    QStringList captions;
    for (const std::string &caption : zev::scaleOf(address))
        captions << look::said(caption);
    return captions;
}

// A panel whose caption is an ordinary label, so that it can be disabled with the controls.
QFrame *captionedPanel(const QString &title, QLayout *content, QLabel **captionOut)
{
    auto *panel = new QFrame;
    markAsPanel(panel);
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
    markAsPanel(panel);
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

QWidget *TMainForm::barColumn(const zev::LayoutNode &node, int captionLines)
{
    const std::uint8_t address = node.address;
    const zev::RegisterRow &row = *zev::findRegister(address);
    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(1, 0, 1, 0);
    layout->setSpacing(0);
    for (const QString &line : look::said(row.caption).split('\n')) {
        auto *caption = new QLabel(line);
        caption->setAlignment(Qt::AlignHCenter);
        caption->setVisible(!(node.flags & zev::kHideCaption));
        layout->addWidget(caption);
        m_captionLabels[address] << caption;
    }
    // Room for the caption lines that a taller neighbour has, without a label to read out.
    for (qsizetype line = m_captionLabels[address].size(); line < captionLines; ++line)
        layout->addSpacing(fontMetrics().height());
    TrackBar *bar = makeTrackBar(address, row.min, row.max, row.initial, row.ticks);
    bar->setObjectName(row.control);
    const auto numberAt = [&row](int position) {
        return zev::numberShown(zev::shownValue(row, zev::encodePosition(row, position)))
            .value_or(row.max - position);
    };
    bar->setLoudEnd(numberAt(row.max) > numberAt(row.min) ? row.max : row.min);
    m_bars[address] = bar;
    auto *barRow = new QHBoxLayout;
    barRow->setSpacing(0);
    m_scales[address] = scaleFor(address);
    if (!m_scales[address].isEmpty() && !(node.flags & zev::kSharedScale)) {
        // The scale's first and last captions stand level with the bar's ends, half a caption
        // above and below them: the bar leaves that room, whatever the style and the font.
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Vertical;
        const int handle = bar->style()->pixelMetric(QStyle::PM_SliderLength, &option, bar);
        int ink = 0;
        for (const QString &caption : m_scales[address])
            ink = std::max(ink, fontMetrics().tightBoundingRect(caption).height());
        const int overhang = std::max(0, (ink - handle) / 2 + 2);
        auto *barBox = new QVBoxLayout;
        barBox->setContentsMargins(0, overhang, 0, overhang);
        barBox->addWidget(bar, 1, Qt::AlignHCenter);
        barRow->addLayout(barBox);
        barRow->addWidget(new ScaleWidget(bar, m_scales[address]));
    } else {
        barRow->addWidget(bar, 0, Qt::AlignHCenter);
    }
    layout->addLayout(barRow, 1);
    if (row.label) {
        auto *label = new QLabel(look::said(row.initialLabel));
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
        auto *button = new QRadioButton(look::said(choice.caption));
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
    auto *box = new QCheckBox(look::said(row.caption));
    box->setObjectName(row.control);
    m_checks[address] = box;
    return box;
}

// A node of the layout into `into`: groups and panels as frames around their children, rows
// and columns as layouts, controls as their register rows make them. `captionLines` is the
// number of caption lines of the tallest bar beside this one, so bars of one row start level.
void TMainForm::addLayoutNode(std::size_t index, QBoxLayout *into, int captionLines)
{
    const zev::LayoutNode &node = zev::windowLayout()[index];
    const auto children = zev::layoutChildren(index);
    auto fill = [&](QBoxLayout *layout) {
        int lines = 1;
        for (std::size_t child : children)
            if (zev::windowLayout()[child].kind == zev::LayoutKind::Bar)
                lines = std::max(
                    lines,
                    int(look::said(zev::findRegister(zev::windowLayout()[child].address)->caption)
                            .count('\n') +
                        1));
        const bool spread = node.flags & zev::kSpread;
        for (std::size_t child : children) {
            if (spread) layout->addStretch(1);
            addLayoutNode(child, layout, lines);
        }
        if (spread || node.kind == zev::LayoutKind::Column) layout->addStretch(1);
        return layout;
    };
    QWidget *made = nullptr;
    switch (node.kind) {
    case zev::LayoutKind::Page:
    case zev::LayoutKind::Row:
        into->addLayout(fill(hbox({})), 1);
        return;
    case zev::LayoutKind::Column: {
        auto *column = new QVBoxLayout;
        column->setContentsMargins(2, 2, 2, 2);
        into->addLayout(fill(column));
        return;
    }
    case zev::LayoutKind::Group: {
        auto *box = new QGroupBox(look::said(node.caption ? node.caption : ""));
        if (node.objectName) box->setObjectName(node.objectName);
        box->setAccessibleName(look::said(zev::layoutName(node)));
        box->setLayout(fill(hbox({})));
        made = box;
        break;
    }
    case zev::LayoutKind::Panel: {
        QLabel *caption = nullptr;
        made = node.caption ? captionedPanel(look::said(node.caption), fill(hbox({})),
                                             &caption)
                            : plainPanel(fill(hbox({})));
        for (std::size_t child : children)
            m_frameCaptions[zev::windowLayout()[child].address] = caption;
        if (const char *name = zev::layoutName(node); name && *name)
            made->setAccessibleName(look::said(name));
        break;
    }
    case zev::LayoutKind::Bar:
        made = barColumn(node, captionLines);
        break;
    case zev::LayoutKind::Scale:
        m_scales[node.address] = scaleFor(node.address);
        made = new ScaleWidget(m_bars[node.address], m_scales[node.address]);
        break;
    case zev::LayoutKind::Radio:
        made = radioColumn(node.address);
        break;
    case zev::LayoutKind::Check:
        made = makeCheckBox(node.address);
        break;
    case zev::LayoutKind::FixedMode:
        made = fixedModeControls();
        break;
    }
    if (node.flags & zev::kExpanding)
        made->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    into->addWidget(made);
}

QWidget *TMainForm::buildPage(std::size_t index)
{
    auto *page = new QWidget;
    auto *column = new QVBoxLayout(page);
    for (std::size_t child : zev::layoutChildren(index)) {
        auto *part = new QVBoxLayout;
        part->setContentsMargins(0, 0, 0, 0);
        addLayoutNode(child, part, 1);
        column->addLayout(part, 1);
    }
    return page;
}

void TMainForm::buildPages()
{
    for (std::size_t i = 0; i < zev::windowLayout().size(); ++i)
        if (zev::windowLayout()[i].kind == zev::LayoutKind::Page)
        {
            QWidget *page = buildPage(i);
            page->setAccessibleName(look::said(zev::windowLayout()[i].caption));
            m_pages->addTab(page, look::said(zev::windowLayout()[i].caption));
        }

    // Effect controls: the bars of echo, reverb, chorus and tremolo with all their labels.
    for (int a = 0; a < 256; ++a)
        if (zev::isEffectRegister(std::uint8_t(a)) && m_frameCaptions[a] &&
            !m_effectControls.contains(m_frameCaptions[a]))
            m_effectControls << m_frameCaptions[a];
    for (int a = 0; a < 256; ++a) {
        if (!zev::isEffectRegister(std::uint8_t(a))) continue;
        m_effectControls << m_bars[a] << m_valueLabels[a];
        for (QLabel *caption : m_captionLabels[a])
            m_effectControls << caption;
    }
}

// DSP modes beyond the K buttons: the fixed-mode button and its number.
QWidget *TMainForm::fixedModeControls()
{
    auto *controls = new QWidget;
    auto *column = new QVBoxLayout(controls);
    column->setContentsMargins(2, 0, 2, 2);
    m_fixedModeButton = new QRadioButton(tr("固定模式"));
    m_fixedModeButton->setObjectName("DSPMode5RadioButton");
    m_groups[zev::kDspModeRegister]->addButton(m_fixedModeButton, kFixedModeButtonId);
    column->addWidget(m_fixedModeButton);
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
    auto *number = new QLabel("P");
    number->setBuddy(m_fixedModeEdit);
    numberRow->addWidget(number);
    numberRow->addWidget(m_fixedModeEdit);
    numberRow->addStretch(1);
    column->addLayout(numberRow);
    return controls;
}
