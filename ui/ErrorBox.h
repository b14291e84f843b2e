// The application's error box: errors that a command does not handle itself (a file that
// cannot be opened or created, a text that is not a number) stop the command and end here,
// as one message box that names the file or the text. The program goes on running.
#pragma once

#include <QAbstractButton>
#include <QString>
#include <stdexcept>

/// An error that ends a command and is shown in the error box.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

/// Shows the error box (modal) with the message; once the session is ending, writes it to
/// standard error instead.
void showErrorBox(const QString &message);

/// The session is ending (a signal: logout, shutdown, a closed terminal): nobody is there to
/// answer a box, so from now on errors go to standard error and open boxes are dismissed.
void endOfSessionErrors();
bool isSessionEnding();

/// Runs a handler; an exception that escapes it is shown in the error box and goes no
/// further, so that none ever crosses the event loop.
template <typename Handler> void guarded(Handler &&handler) noexcept
{
    try {
        handler();
    } catch (const std::exception &error) {
        showErrorBox(QString::fromUtf8(error.what()));
    } catch (...) {
        showErrorBox(QStringLiteral("未知错误"));
    }
}

/// Runs `handler` of `owner` on every click of `button`, guarded as above.
template <typename Owner>
void bindClick(QAbstractButton *button, Owner *owner, void (Owner::*handler)())
{
    QObject::connect(button, &QAbstractButton::clicked, owner,
                     [owner, handler] { guarded([owner, handler] { (owner->*handler)(); }); });
}

/// "'text' 不是有效的整数值": the error of a text that is not a whole number.
AppError notAWholeNumber(const QString &text);

/// Reads a whole decimal number (optional sign, spaces around it) that fits 32 bits.
/// Throws notAWholeNumber otherwise.
int wholeNumber(const QString &text);
