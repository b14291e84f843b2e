// Helpers for driving the real widgets in tests.
#pragma once

#include <QString>
#include <functional>

class QSlider;
class QWidget;

namespace testing {

/// Brings the page that holds a control to the front.
void showControl(QWidget *control);

/// Drags a bar's handle with the mouse, a pixel at a time, until it shows `position`.
void dragBar(QSlider *bar, int position);

/// Answers the next modal dialog or message box that appears while `action` runs by
/// pressing the button whose text contains `buttonText` (or accepting it when empty).
/// Returns the text of the message box, or an empty string when none appeared.
QString answerNextDialog(const std::function<void()> &action, const QString &buttonText = {});

} // namespace testing
