#include "ui/ErrorBox.h"
#include "files/TextFile.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <cstdio>
#include <string_view>

namespace {
bool sessionEnding = false;
}

void endOfSessionErrors()
{
    sessionEnding = true;
    // Boxes and dialogs open now wait for a click that never comes: their exec() returns.
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QDialog *>(window);
            dialog && dialog->isModal() && dialog->isVisible())
            dialog->done(QDialog::Rejected);
}

bool isSessionEnding()
{
    return sessionEnding;
}

namespace {
// The file layer's "not a regular file", as the window's translation knows it.
constexpr const char *kNotARegularFileSaid = QT_TRANSLATE_NOOP("ErrorBox", "不是普通文件");
static_assert(std::string_view(kNotARegularFileSaid) == zev::kNotARegularFile);
} // namespace

void showErrorBox(const QString &message)
{
    if (sessionEnding) {
        std::fprintf(stderr, "zev720: %s\n", message.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    // The file layer's words are the window's: said in the window's language.
    const QString said = QString(message).replace(
        zev::kNotARegularFile, QCoreApplication::translate("ErrorBox", kNotARegularFileSaid));
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), said,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName("ErrorBox");
    box.exec();
}

AppError notAWholeNumber(const QString &text)
{
    return AppError(QCoreApplication::translate("ErrorBox", "'%1' 不是有效的整数值").arg(text));
}

int wholeNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    bool ok = false;
    const int value = pattern.match(text).hasMatch() ? text.trimmed().toInt(&ok) : 0;
    if (!ok) throw notAWholeNumber(text);
    return value;
}
