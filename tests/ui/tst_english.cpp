// The window in English (--lang en): every text of the window, the port dialog and the
// progress window has its English, and it fits where the Chinese fits (the screen is the
// test's: a desktop's and a laptop's).
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"
#include "ui/Progress.h"
#include "ui/QtTexts.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QXmlStreamReader>

class TestEnglish : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(look::useLanguage(zev::Language::English)); }
    void everyTextOfTheWindowIsEnglish();
    void everyTranslationIsThere();

private:
    testing::WorkingFolder m_folder;
};

namespace {
bool chinese(const QString &text)
{
    return zev::hasChinese(text.toStdString());
}

// The texts that people and screen readers meet, of `root` and all inside it; whatever is not
// English, and whatever is cut (a text wider or taller than its place).
void inspect(QWidget *root, QStringList &notEnglish, QStringList &cut)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *widget : widgets) {
        QStringList texts = {widget->windowTitle(), widget->accessibleName(),
                             widget->accessibleDescription(), widget->toolTip()};
        if (auto *label = qobject_cast<QLabel *>(widget)) texts << label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget)) texts << button->text();
        if (auto *box = qobject_cast<QGroupBox *>(widget)) texts << box->title();
        if (auto *tabs = qobject_cast<QTabBar *>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        if (auto *list = qobject_cast<QComboBox *>(widget)) {
            texts << list->placeholderText();
            for (int i = 0; i < list->count(); ++i)
                texts << list->itemText(i);
        }
        for (const QString &text : texts)
            if (chinese(text)) notEnglish << widget->objectName() + ": " + text;
        if (!widget->isVisible()) continue;
        // The help panel clips a long help text by design.
        if (widget->objectName() == "StatusPanel3") continue;
        const auto *label = qobject_cast<QLabel *>(widget);
        const auto *button = qobject_cast<QAbstractButton *>(widget);
        if ((label && !label->wordWrap() && !label->text().isEmpty()) || (button && !button->text().isEmpty())) {
            const QSize needs = widget->sizeHint();
            if (needs.width() > widget->width() || needs.height() > widget->height())
                cut << QString("%1 \"%2\": %3x%4 in %5x%6")
                           .arg(widget->objectName(), label ? label->text() : button->text())
                           .arg(needs.width()).arg(needs.height())
                           .arg(widget->width()).arg(widget->height());
        }
    }
}
} // namespace

// Connected to the emulator and on each page: no Chinese anywhere, nothing cut; the port
// dialog and the progress window too. The register names are the one English table's.
void TestEnglish::everyTextOfTheWindowIsEnglish()
{
    testing::Sim sim;
    sim.becomePort(1);
    std::unique_ptr<TMainForm> form(testing::newMainForm(true));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QVERIFY(form->isConnected());
    QStringList notEnglish, cut;
    for (int page = 0; page < form->pages()->count(); ++page) {
        form->pages()->setCurrentIndex(page);
        QCoreApplication::processEvents();
        inspect(form.get(), notEnglish, cut);
    }
    TParaForm dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    inspect(&dialog, notEnglish, cut);
    TProgressForm progress;
    inspect(&progress, notEnglish, cut);
    notEnglish.removeDuplicates();
    cut.removeDuplicates();
    QVERIFY2(notEnglish.isEmpty(), qPrintable(notEnglish.join('\n')));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
    QCOMPARE(form->trackBar(16)->accessibleName(), QString("Music volume"));
    QCOMPARE(form->CommunicationBitBtn->text(), QString("Connected.."));
}

// Every text of translations/zev720_en.ts has its English: none left unfinished or empty.
void TestEnglish::everyTranslationIsThere()
{
    QFile file(QFINDTESTDATA("../../translations/zev720_en.ts"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int messages = 0;
    QString source;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == u"source") source = xml.readElementText();
        if (xml.name() == u"translation") {
            ++messages;
            const QString type = xml.attributes().value("type").toString();
            const QString english = xml.readElementText();
            QVERIFY2(type.isEmpty() && !english.isEmpty() && !chinese(english), qPrintable(source));
        }
    }
    QVERIFY(!xml.hasError());
    QVERIFY(messages > 90);
}

QTEST_MAIN(TestEnglish)
#include "tst_english.moc"
