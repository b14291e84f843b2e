#include "ui/ErrorBox.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <cstdio>

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

void showErrorBox(const QString &message)
{
    if (sessionEnding) {
        std::fprintf(stderr, "zev720: %s\n", message.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), message,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName("ErrorBox");
    box.exec();
}

AppError notAWholeNumber(const QString &text)
{
    return AppError(QStringLiteral("'%1' 不是有效的整数值").arg(text));
}

int wholeNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    bool ok = false;
    const int value = pattern.match(text).hasMatch() ? text.trimmed().toInt(&ok) : 0;
    if (!ok) throw notAWholeNumber(text);
    return value;
}
