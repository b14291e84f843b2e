// The mark of the focused control, plain to see: a solid dark frame two pixels wide around a
// focused push button, check box, radio button, track bar or page tab, well over 3:1 against
// the sky blue.
// Unfocused controls look as the platform's style draws them.
#pragma once

#include <QProxyStyle>

class FocusStyle : public QProxyStyle {
    Q_OBJECT
public:
    /// The colour of the mark.
    static QColor markColor();

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget = nullptr) const override;
};

/// Gives the controls inside `root` (made so far) the focus mark.
void useFocusStyle(QWidget *root);
