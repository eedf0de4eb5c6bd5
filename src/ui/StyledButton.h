#pragma once

#include <QColor>
#include <QPushButton>

#include <optional>

namespace kavlento::ui {

enum class ButtonCorners { Rounded, Square };

// The saved appearance of a button: face, text and border colours, the face
// while the pointer is over it, its corners, and whether keyboard focus is drawn.
struct ButtonLook {
    QColor face = QColor(255, 255, 255);
    std::optional<QColor> text; // empty: the default button text colour
    QColor faceWhileHovered = QColor(255, 255, 255);
    QColor border = QColor(0, 60, 116);
    QColor borderMedium = QColor(0, 0, 127);
    ButtonCorners corners = ButtonCorners::Square;
    bool showFocus = true;
};

// The push button of both windows, drawn from its saved look.
class StyledButton : public QPushButton {
    Q_OBJECT
public:
    StyledButton(const QString& objectName, const QString& caption, const ButtonLook& look,
                 QWidget* parent);

    const ButtonLook& look() const { return look_; }
    QColor textColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ButtonLook look_;
    bool hovered_ = false;
};

} // namespace kavlento::ui
