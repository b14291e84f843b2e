#include "app/ErrorBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>

void showErrorBox(const QString &message)
{
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
