#include "ui/ProgressWindow.h"

#include "ui/Fonts.h"

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

ProgressWindow::ProgressWindow(PercentSource sayac)
    : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint),
      Timer1(new QTimer(this)), Cubuk(new QProgressBar(this)),
      Label2(label(this, QStringLiteral("Label2"), QStringLiteral("Kavlento"),
                   QRect(108, 2, 154, 18))),
      Label1(label(this, QStringLiteral("Label1"),
                   QStringLiteral("İŞLEM YAPILIRKEN LÜTFEN BEKLEYİN..."), QRect(38, 18, 313, 15))),
      sayac_(std::move(sayac)) {
    setObjectName(QStringLiteral("Progressing"));
    setWindowTitle(QString());
    setModal(true);
    setFixedSize(398, 61);

    Cubuk->setObjectName(QStringLiteral("Cubuk"));
    Cubuk->setGeometry(0, 34, 399, 21); // one pixel wider than the window, clipped
    Cubuk->setRange(0, 100);
    Cubuk->setValue(0);
    Cubuk->setTextVisible(false);
    Cubuk->setFocusPolicy(Qt::NoFocus);

    QPalette red = Label2->palette();
    red.setColor(QPalette::WindowText, QColor(192, 0, 0));
    Label2->setPalette(red);

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTickMilliseconds);
    connect(Timer1, &QTimer::timeout, this, &ProgressWindow::tick);
    Timer1->start();
}

void ProgressWindow::tick() {
    Cubuk->setValue(sayac_().value_or(0));
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
