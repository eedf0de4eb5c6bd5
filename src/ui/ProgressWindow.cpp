#include "ui/ProgressWindow.h"

#include "ui/Fonts.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

namespace kavlento::ui {

namespace {
constexpr int kTickMilliseconds = 10;

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
      lastPercent_(std::move(lastPercent)) {
    setObjectName(QStringLiteral("Progressing"));
    setWindowTitle(QString());
    setModal(true);
    setFixedSize(398, 61);

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
}

void ProgressWindow::tick() {
    bar_->setValue(lastPercent_().value_or(0));
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    event->accept(); // Escape among them: nothing here answers a key
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void ProgressWindow::runModal() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    exec();
}

} // namespace kavlento::ui
