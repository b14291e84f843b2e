// The window for someone who cannot see it or uses no mouse: what assistive technology finds
// in the whole window and the port dialog, the keys on a bar and between pages, the focus
// mark, and a start that writes nothing outside the working folder.
#include "model/Encoding.h"
#include "model/Layout.h"
#include "model/RegisterMap.h"
#include "model/Shown.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/FocusStyle.h"
#include "ui/Look.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"
#include "ui/Widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTabBar>
#include <QTest>
#include <cmath>

class TestAccess : public QObject {
    Q_OBJECT
private slots:
    // The user's settings go here: nothing may write them unless a file dialog was used.
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path())); }
    void cleanupTestCase();
    void init() { m_form = testing::newMainForm(); }
    void cleanup() { delete m_form; }
    void everyEntryOfTheTreeIsNamed();
    void barsTellTheValueThatIsShown();
    void upRaisesEveryValue();
    void theDialogsFieldsAreLabelled();
    void keysOnABar();
    void pagesChangeFromAnywhere();
    void theFocusMarkIsPlain();

private:
    QTemporaryDir m_config;
    testing::WorkingFolder m_folder;
    TMainForm *m_form = nullptr;
};

// Windows made, used from the keyboard, closed, dialogs opened: no settings file anywhere.
void TestAccess::cleanupTestCase()
{
    QCOMPARE(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
}

namespace {
// Every entry of the accessibility tree under `root`.
void walk(QAccessibleInterface *face, QList<QAccessibleInterface *> &out)
{
    out << face;
    for (int i = 0; i < face->childCount(); ++i)
        if (QAccessibleInterface *child = face->child(i)) walk(child, out);
}

QList<QAccessibleInterface *> treeOf(QWidget *root)
{
    QList<QAccessibleInterface *> all;
    walk(QAccessible::queryAccessibleInterface(root), all);
    return all;
}

// Entries that a screen reader reads out by name; plain containers (Client) are passed over.
bool isNamedRole(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Slider:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::PushButton:
    case QAccessible::Grouping:
    case QAccessible::StaticText:
    case QAccessible::PageTab:
    case QAccessible::PageTabList:
    case QAccessible::StatusBar:
    case QAccessible::ProgressBar:
    case QAccessible::EditableText:
        return true;
    default:
        return false;
    }
}

QString describe(QAccessibleInterface *face)
{
    QString path;
    for (QAccessibleInterface *at = face; at; at = at->parent()) {
        const QObject *object = at->object();
        path.prepend("/" + (object ? object->objectName() + ":" + object->metaObject()->className()
                                   : QString("?")));
        if (object && object->isWidgetType() && static_cast<const QWidget *>(object)->isWindow())
            break;
    }
    return path;
}

double numberOf(const QString &shown)
{
    return zev::numberShown(shown.toStdString()).value_or(NAN);
}
} // namespace

// Over the whole window and the dialog: no named kind of entry without a name, and no group,
// panel or page left unnamed.
void TestAccess::everyEntryOfTheTreeIsNamed()
{
    TParaForm dialog;
    dialog.show(); // it tells what the port number stands for once shown
    for (QWidget *root : {static_cast<QWidget *>(m_form), static_cast<QWidget *>(&dialog)}) {
        int groups = 0;
        for (QAccessibleInterface *face : treeOf(root)) {
            if (face->role() == QAccessible::Grouping) ++groups;
            if (!isNamedRole(face->role())) continue;
            QVERIFY2(!face->text(QAccessible::Name).trimmed().isEmpty(),
                     qPrintable(describe(face)));
        }
        if (root == m_form) QCOMPARE(groups, 16); // every group and panel of the three pages
    }
    for (int i = 0; i < m_form->pages()->count(); ++i)
        QCOMPARE(QAccessible::queryAccessibleInterface(m_form->pages()->widget(i))
                     ->text(QAccessible::Name),
                 m_form->pages()->tabText(i));
}

// Each of the 48 bars: named as the tool names it, its value the number its label shows and
// its value text that label, both following the label as the bar moves.
void TestAccess::barsTellTheValueThatIsShown()
{
    QSet<QString> names;
    int bars = 0;
    for (const zev::RegisterRow &row : zev::registerMap()) {
        QSlider *bar = m_form->trackBar(row.address);
        if (!bar) continue;
        ++bars;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(bar);
        QAccessibleValueInterface *value = face->valueInterface();
        QVERIFY(value);
        const QString name = face->text(QAccessible::Name);
        QCOMPARE(name, QString::fromStdString(zev::nameForPeople(row.address)));
        names << name;
        for (int position :
             {bar->minimum(), (bar->minimum() + bar->maximum()) / 2, bar->maximum()}) {
            bar->setValue(position);
            const QString shown = m_form->valueLabel(row.address)
                                      ? m_form->valueLabel(row.address)->text()
                                      : QString::fromStdString(zev::shownValue(
                                            row, zev::encodePosition(row, position)));
            QCOMPARE(face->text(QAccessible::Value), shown);
            QCOMPARE(value->currentValue().toDouble(), numberOf(shown));
        }
        const auto numberAt = [&row](int position) {
            return numberOf(
                QString::fromStdString(zev::shownValue(row, zev::encodePosition(row, position))));
        };
        const double top = numberAt(bar->minimum()), bottom = numberAt(bar->maximum());
        QCOMPARE(value->maximumValue().toDouble(), std::max(top, bottom));
        QCOMPARE(value->minimumValue().toDouble(), std::min(top, bottom));
        // Set from outside, by the number: the bar goes where its label shows it.
        value->setCurrentValue(value->minimumValue());
        QCOMPARE(numberOf(face->text(QAccessible::Value)), value->minimumValue().toDouble());
    }
    QCOMPARE(bars, 48);
    QCOMPARE(names.size(), 48);
}

// Up raises every enabled bar's value, as it raises the number shown, from its lowest.
void TestAccess::upRaisesEveryValue()
{
    // Up on the microphone volume: 0dB to 1dB, and the value rises with it.
    QSlider *volume = m_form->trackBar(32);
    testing::showControl(volume);
    volume->setValue(volume->maximum());
    QAccessibleValueInterface *volumeValue =
        QAccessible::queryAccessibleInterface(volume)->valueInterface();
    QCOMPARE(m_form->valueLabel(32)->text(), QString("0dB"));
    QCOMPARE(volumeValue->currentValue().toDouble(), 0.0);
    QTest::keyClick(volume, Qt::Key_Up);
    QCOMPARE(m_form->valueLabel(32)->text(), QString("1dB"));
    QCOMPARE(volumeValue->currentValue().toDouble(), 1.0);

    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    for (const zev::RegisterRow &row : zev::registerMap()) {
        QSlider *bar = m_form->trackBar(row.address);
        if (!bar || !bar->isEnabled()) continue;
        testing::showControl(bar);
        QAccessibleValueInterface *value =
            QAccessible::queryAccessibleInterface(bar)->valueInterface();
        value->setCurrentValue(value->minimumValue());
        const double before = value->currentValue().toDouble();
        QTest::keyClick(bar, Qt::Key_Up);
        QVERIFY2(value->currentValue().toDouble() > before, qPrintable(bar->objectName()));
    }
}

// The port dialog's fields are labelled by the caption beside them (the label relation that
// screen readers follow), the hidden interval field too; the number "P" labels its spin box.
void TestAccess::theDialogsFieldsAreLabelled()
{
    TParaForm dialog;
    const auto labelOf = [](QWidget *field) {
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(field);
        const auto labels = face->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    };
    const QList<std::pair<QWidget *, QString>> fields = {
        {dialog.BaudComboBox, QString("Rate")},
        {dialog.DataBitsComboBox, QString("Data")},
        {dialog.StopsBitsComboBox, QString("Stop")},
        {dialog.ParityComboBox, QString("奇偶校验 (Parity)")}, // the caption says "Prity"
        {dialog.FlowControlComboBox, QString("Flow")},
        {dialog.ComPortEdit, QString("COMM(USB)NO.")},
        {dialog.TimeTimeInterval, QString("定时器间隔（ms）")}};
    for (const auto &[field, caption] : fields) {
        QCOMPARE(labelOf(field), caption);
        QVERIFY(!QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name).isEmpty());
    }
    QCOMPARE(labelOf(m_form->DSPModeCSpinEdit()), QString("P"));
}

// Home and End go to an end at once only where that end is the quiet one; towards the loud
// end they move a tenth of the range. The page keys move one step, as the arrows do.
void TestAccess::keysOnABar()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QSlider *volume = m_form->trackBar(16); // 88dB at the top
    testing::showControl(volume);
    volume->setFocus();
    volume->setValue(40);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("48dB"));
    QTest::keyClick(volume, Qt::Key_Home);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("57dB"));
    QTest::keyClick(volume, Qt::Key_End);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("0dB"));
    QTest::keyClick(volume, Qt::Key_PageUp);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("1dB"));
    QTest::keyClick(volume, Qt::Key_PageDown);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("0dB"));

    QSlider *keyShift = m_form->trackBar(21); // #4 at the top, b4 at the bottom: no label
    testing::showControl(keyShift);
    QAccessibleValueInterface *shift =
        QAccessible::queryAccessibleInterface(keyShift)->valueInterface();
    shift->setCurrentValue(0.0);
    QTest::keyClick(keyShift, Qt::Key_Home); // a tenth of 8 positions: one
    QCOMPARE(shift->currentValue().toDouble(), 1.0);
    QTest::keyClick(keyShift, Qt::Key_End);
    QCOMPARE(shift->currentValue().toDouble(), -4.0);

    // Every bar: no single key takes it from the quiet end to the loud end.
    for (const zev::RegisterRow &row : zev::registerMap()) {
        QSlider *bar = m_form->trackBar(row.address);
        if (!bar || bar->maximum() - bar->minimum() < 10) continue;
        QAccessibleValueInterface *value =
            QAccessible::queryAccessibleInterface(bar)->valueInterface();
        for (Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Up,
                            Qt::Key_Down}) {
            value->setCurrentValue(value->minimumValue());
            QTest::keyClick(bar, key);
            QVERIFY2(value->currentValue() != value->maximumValue(),
                     qPrintable(bar->objectName() + " " + QKeySequence(key).toString()));
        }
    }
}

// Ctrl+PageDown and Ctrl+PageUp change pages with the focus on a bar, leaving the bar alone.
void TestAccess::pagesChangeFromAnywhere()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    QSlider *volume = m_form->trackBar(16);
    testing::showControl(volume);
    const int page = m_form->pages()->currentIndex();
    volume->setFocus();
    const int position = volume->value();
    QTest::keyClick(volume, Qt::Key_PageDown, Qt::ControlModifier);
    QCOMPARE(m_form->pages()->currentIndex(), (page + 1) % 3);
    QCOMPARE(volume->value(), position);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
    QCOMPARE(m_form->pages()->currentIndex(), (page + 2) % 3);
}

namespace {
double luminance(QColor c)
{
    const auto channel = [](double v) {
        v /= 255;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The pixels of `focused` that differ from `plain`, and how many of them stand out from the
// background by 3:1 or more.
struct Mark {
    QRect around; ///< the pixels that changed
    int plainToSee = 0;
};
Mark markOf(const QImage &plain, const QImage &focused)
{
    Mark mark;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            if (plain.pixel(x, y) != focused.pixel(x, y)) {
                mark.around |= QRect(x, y, 1, 1);
                if (contrast(focused.pixelColor(x, y), look::skyBlue()) >= 3) ++mark.plainToSee;
            }
    return mark;
}
} // namespace

// A focused radio button, check box, bar, push button or page tab carries a mark of 3:1 or more against the sky blue,
// all round it; unfocused, each looks as the platform's style draws it.
void TestAccess::theFocusMarkIsPlain()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    QList<QWidget *> controls = {m_form->radioButton(44, 1), m_form->checkBox(22),
                                 m_form->trackBar(16), m_form->SaveFileBitBtn,
                                 m_form->findChild<QTabBar *>()};
    for (QWidget *control : controls) {
        testing::showControl(control);
        m_form->CommunicationBitBtn->setFocus();
        QCoreApplication::processEvents();
        const QImage plain = control->grab().toImage();
        QStyle *focusStyle = control->style();
        control->setStyle(QApplication::style());
        QCOMPARE(control->grab().toImage(), plain);
        control->setStyle(focusStyle);
        control->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QVERIFY(control->hasFocus());
        const QImage focused = control->grab().toImage();
        // A frame all round what it marks, at least one pixel of 3:1 at every point of it.
        const Mark mark = markOf(plain, focused);
        QVERIFY(mark.around.width() >= 12 && mark.around.height() >= 12);
        const int outline = 2 * (mark.around.width() + mark.around.height());
        QVERIFY2(mark.plainToSee >= outline,
                 qPrintable(control->objectName() + ": " + QString::number(mark.plainToSee)));
    }
    QVERIFY(contrast(FocusStyle::markColor(), look::skyBlue()) >= 3);
}

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
