#include "ui/ProgressWindow.h"

#include "ui/Fonts.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace kavlento::ui {

namespace {
constexpr int kTickMilliseconds = 10;
// The designed window, and the margin of the lines a named step adds under the bar.
constexpr QSize kDesignedSize(398, 61);
constexpr int kStepMargin = 4;

QLabel* label(QWidget* parent, const QString& name, const QString& text, const QRect& geometry) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(geometry);
    l->setFont(sansSerifBold(9.75));
    l->setFocusPolicy(Qt::NoFocus);
    return l;
}
} // namespace

ProgressWindow::ProgressWindow(PercentSource lastPercent)
    : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint),
      tickTimer_(new QTimer(this)), bar_(new QProgressBar(this)),
      titleLabel_(label(this, QStringLiteral("Label2"), QStringLiteral("Kavlento"),
                        QRect(108, 2, 154, 18))),
      waitLabel_(label(this, QStringLiteral("Label1"),
                       QStringLiteral("İŞLEM YAPILIRKEN LÜTFEN BEKLEYİN..."),
                       QRect(38, 18, 313, 15))),
      stepLabel_(label(
          this, QStringLiteral("stepLabel"), QString(),
          QRect(kStepMargin, kDesignedSize.height(), kDesignedSize.width() - 2 * kStepMargin, 0))),
      lastPercent_(std::move(lastPercent)) {
    setObjectName(QStringLiteral("Progressing"));
    setWindowTitle(QString());
    setModal(true);
    setFixedSize(kDesignedSize);
    stepLabel_->setAlignment(Qt::AlignCenter);
    stepLabel_->setWordWrap(true); // a long step takes a second line, never clipped
    stepLabel_->hide();

    bar_->setObjectName(QStringLiteral("Cubuk"));
    bar_->setGeometry(0, 34, 399, 21); // one pixel wider than the window, clipped
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    bar_->setFocusPolicy(Qt::NoFocus);

    QPalette red = titleLabel_->palette();
    red.setColor(QPalette::WindowText, QColor(192, 0, 0));
    titleLabel_->setPalette(red);

    tickTimer_->setObjectName(QStringLiteral("Timer1"));
    tickTimer_->setInterval(kTickMilliseconds);
    connect(tickTimer_, &QTimer::timeout, this, &ProgressWindow::tick);
    tickTimer_->start();

    // What a screen reader says of the window while a job runs.
    setAccessibleName(QStringLiteral("Kavlento çalışıyor"));
    setAccessibleDescription(
        QStringLiteral("Yedekleme ya da geri yükleme sürüyor. Bitince program kapanır."));
    bar_->setAccessibleName(QStringLiteral("İşlemin ilerlemesi"));
    bar_->setAccessibleDescription(QStringLiteral("İşlemin yüzde kaçının bittiği."));
    titleLabel_->setAccessibleName(QStringLiteral("Kavlento"));
    titleLabel_->setAccessibleDescription(QStringLiteral("Programın adı."));
    waitLabel_->setAccessibleName(waitLabel_->text());
    waitLabel_->setAccessibleDescription(
        QStringLiteral("İşlem sürerken beklemek gerektiğini söyler."));
    stepLabel_->setAccessibleName(QStringLiteral("İşlemin adımı"));
    stepLabel_->setAccessibleDescription(QStringLiteral("Şu an hangi adımın sürdüğünü söyler."));
}

void ProgressWindow::tick() {
    const int percent = lastPercent_().value_or(0);
    if (stepFrom_ == stepTo_) {
        return; // a step of unknown length: the bar only moves
    }
    bar_->setValue(std::clamp((percent - stepFrom_) * 100 / (stepTo_ - stepFrom_), 0, 100));
}

void ProgressWindow::setStep(const QString& text, int from, int to) {
    stepFrom_ = from;
    stepTo_ = to;
    bar_->setRange(0, from == to ? 0 : 100);
    stepLabel_->setText(text);
    stepLabel_->setVisible(!text.isEmpty());
    const int lines = text.isEmpty() ? 0 : stepLabel_->heightForWidth(stepLabel_->width());
    stepLabel_->resize(stepLabel_->width(), lines);
    setFixedSize(kDesignedSize + QSize(0, text.isEmpty() ? 0 : lines + kStepMargin));
    tick();
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    event->accept(); // Escape among them: nothing here answers a key
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void ProgressWindow::moveToScreenCentre() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void ProgressWindow::runModal() {
    if (!isVisible()) {
        moveToScreenCentre();
    }
    exec();
}

void ProgressWindow::showAside() {
    if (!isVisible()) {
        moveToScreenCentre();
        show();
    }
}

} // namespace kavlento::ui
