#include "ui/StyledButton.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace kavlento::ui {

namespace {
const QColor kDefaultText(0, 0, 0);
const QColor kDisabledText(128, 128, 128);
constexpr qreal kRoundedRadius = 4.0;
} // namespace

StyledButton::StyledButton(const QString& objectName, const QString& caption,
                           const ButtonLook& look, QWidget* parent)
    : QPushButton(caption, parent), look_(look) {
    setObjectName(objectName);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

QColor StyledButton::textColor() const {
    if (!isEnabled()) {
        return kDisabledText;
    }
    return look_.text.value_or(kDefaultText);
}

void StyledButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, look_.corners == ButtonCorners::Rounded);
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QRectF inner = outer.adjusted(1, 1, -1, -1);
    const qreal radius = look_.corners == ButtonCorners::Rounded ? kRoundedRadius : 0.0;
    const bool pressed = isDown();

    QPainterPath face;
    face.addRoundedRect(inner, radius, radius);
    painter.fillPath(face, hovered_ && isEnabled() ? look_.faceWhileHovered : look_.face);

    painter.setPen(QPen(look_.border, 1));
    painter.drawRoundedRect(outer, radius, radius);
    painter.setPen(QPen(look_.borderMedium, 1));
    painter.drawRoundedRect(inner, radius, radius);

    painter.setPen(textColor());
    painter.setFont(font());
    const QRect textRect = rect().translated(pressed ? 1 : 0, pressed ? 1 : 0);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic, text());

    if (look_.showFocus && hasFocus()) {
        QPen focusPen(look_.borderMedium, 1, Qt::DotLine);
        painter.setPen(focusPen);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.drawRect(rect().adjusted(3, 3, -4, -4));
    }
}

// Enter presses the focused button too, as Space does, in the main window as
// in dialogs.
void StyledButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void StyledButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QPushButton::enterEvent(event);
}

void StyledButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QPushButton::leaveEvent(event);
}

} // namespace kavlento::ui
