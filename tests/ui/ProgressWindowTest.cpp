#include "ui/ProgressWindow.h"
#include "ui/MainWindow.h"

#include "support/Controls.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kavlento::ui;
using kavlento::testing::control;

TEST(ProgressWindow, LayoutAndTexts) {
    ProgressWindow window([] { return std::optional<int>(); });
    EXPECT_EQ(window.size(), QSize(398, 61));
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowTitleHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->geometry(), QRect(0, 34, 399, 21));
    EXPECT_EQ(control<QLabel>(window, "Label2")->geometry(), QRect(108, 2, 154, 18));
    EXPECT_EQ(control<QLabel>(window, "Label1")->geometry(), QRect(38, 18, 313, 15));
    EXPECT_EQ(control<QLabel>(window, "Label2")->text(), QStringLiteral("Kavlento"));
    EXPECT_EQ(control<QLabel>(window, "Label1")->text(),
              QStringLiteral("İŞLEM YAPILIRKEN LÜTFEN BEKLEYİN..."));
    EXPECT_EQ(control<QLabel>(window, "Label2")->palette().color(QPalette::WindowText),
              QColor(192, 0, 0));
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->minimum(), 0);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->maximum(), 100);
    EXPECT_EQ(control<QTimer>(window, "Timer1")->interval(), 10);
    EXPECT_TRUE(control<QTimer>(window, "Timer1")->isActive());
}

TEST(ProgressWindow, TheBarFollowsTheLastReportedPercentage) {
    std::optional<int> lastPercent;
    ProgressWindow window([&lastPercent] { return lastPercent; });
    window.show();

    QTest::qWait(40);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->value(),
              0); // nothing reported yet reads as 0

    lastPercent = 37;
    QTest::qWait(40);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->value(), 37);
    lastPercent = 37;
    QTest::qWait(40);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->value(), 37);

    lastPercent = 100;
    QTest::qWait(40);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->value(), 100);
    EXPECT_TRUE(window.isVisible()); // it never closes itself

    // A step named under the bar runs the bar once over its own share; the
    // designed texts stay where they are.
    window.setStep(QStringLiteral("3/3: VERİLER YEDEKTEN GERİ YÜKLENİYOR..."), 60, 100);
    lastPercent = 80;
    QTest::qWait(40);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->value(), 50);
    const QLabel* step = control<QLabel>(window, "stepLabel");
    EXPECT_TRUE(step->isVisible());
    EXPECT_GE(step->y(), 55);
    EXPECT_EQ(window.height(), step->geometry().bottom() + 1 + 4);
    EXPECT_LE(QFontMetrics(step->font()).horizontalAdvance(step->text()), step->width());
    EXPECT_EQ(control<QLabel>(window, "Label1")->geometry(), QRect(38, 18, 313, 15));
    window.setStep(QStringLiteral("KARŞILAŞTIRILIYOR..."), 0, 0); // of unknown length
    QTest::qWait(40);
    EXPECT_EQ(control<QProgressBar>(window, "Cubuk")->maximum(), 0);
}

TEST(ProgressWindow, NoKeyAndNoCloseRequestTakesItAwayAndTheMainWindowWaits) {
    MainWindow main;
    main.showCentered();
    QSignalSpy backups(&main, &MainWindow::backupClicked);
    const QPushButton* backup = control<QPushButton>(main, "Command2");
    const auto clickBackup = [&] {
        // A click as the window system delivers it, to the main window.
        QTest::mouseClick(main.windowHandle(), Qt::LeftButton, {},
                          backup->mapTo(&main, backup->rect().center()));
    };
    clickBackup();
    ASSERT_EQ(backups.count(), 1); // reaches the button while nothing is modal
    ProgressWindow window([] { return std::optional<int>(42); });
    bool checked = false;
    QTimer::singleShot(50, [&] {
        for (const int key :
             {int(Qt::Key_Escape), int(Qt::Key_Return), int(Qt::Key_Space), int(Qt::Key_F4)}) {
            QTest::keyClick(&window, Qt::Key(key));
            QTest::keyClick(&window, Qt::Key(key), Qt::AltModifier);
        }
        window.close(); // as a window manager's close request arrives
        window.reject();
        QTest::qWait(20);
        EXPECT_TRUE(window.isVisible());
        clickBackup();
        EXPECT_EQ(backups.count(), 1);
        checked = true;
        window.done(0); // the test's own way out; the program ends instead
    });
    window.runModal();
    EXPECT_TRUE(checked);
    window.showAside(); // while work runs before the job: the main window waits too
    clickBackup();
    EXPECT_EQ(backups.count(), 1);
}

TEST(ProgressWindow, ItsTextsFitTheirLabels) {
    ProgressWindow window([] { return std::optional<int>(); });
    for (QLabel* label : {control<QLabel>(window, "Label1"), control<QLabel>(window, "Label2")}) {
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
        EXPECT_LE(metrics.height(), label->height() + 2) << label->objectName().toStdString();
    }
}
