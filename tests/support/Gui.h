// Helpers for driving the real widgets in tests.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstddef>
#include <functional>

class QSlider;
class QWidget;
class TMainForm;

namespace testing {

/// A main window started as the program starts it, with nothing behind port 1 unless the
/// test put something there (ZEV720_COM1), and real-time control as asked.
TMainForm *newMainForm(bool realTime = false);

/// Brings the page that holds a control to the front.
void showControl(QWidget *control);

/// Drags a bar's handle with the mouse, a pixel at a time, until it shows `position`.
void dragBar(QSlider *bar, int position);

/// Answers the next message box that appears while `action` runs by pressing the button
/// whose text contains `buttonText` (or the first one). Returns its text, or an empty string.
QString answerNextDialog(const std::function<void()> &action, const QString &buttonText = {});

/// Answers every message box that appears while `action` runs, in turn, with the next of
/// `buttons` (a text the button contains; empty: the first button). Returns their texts.
QStringList answerDialogs(const std::function<void()> &action, const QStringList &buttons);

/// Runs `action`, and when the file dialog opens, picks `name` with filter entry `filter`
/// (0 or 1) and accepts it, or cancels it when `name` is empty.
void chooseFile(const std::function<void()> &action, const QString &name, int filter = 0);

/// Runs the event loop for `ms`, or until `done` holds, and returns the longest time in
/// milliseconds between two of its passes: how long the window stopped answering at worst.
qint64 runEventLoop(int ms, const std::function<bool()> &done = {});

/// Runs the window's poll timer by hand, a tick every 2 ms or so, until `done` holds (true) or
/// 10 s have passed (false).
bool tickUntil(TMainForm &form, const std::function<bool()> &done);
/// Bytes the program holds from the heap right now.
std::size_t heapInUse();

} // namespace testing
