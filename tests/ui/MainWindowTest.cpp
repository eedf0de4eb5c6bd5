#include "ui/MainWindow.h"
#include "store/HistoryFile.h"
#include "ui/Fonts.h"
#include "ui/MainWindowLayout.h"
#include "ui/ProgressWindow.h"
#include "ui/StyledButton.h"

#include <QAccessible>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <set>

#include "support/Controls.h"

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::ui;
using namespace kavlento::testing;

namespace {

store::History historyOf(const QList<store::HistoryRecord>& records) {
    QByteArray bytes;
    for (const store::HistoryRecord& record : records) {
        bytes += store::HistoryFile::format(record);
    }
    return store::History::parse(bytes);
}

QList<store::HistoryRecord> threeRecords() {
    return {{"06.12.2026", "08:24:34", "/yedek/06.12.2026/6122026.82434.ksd"},
            {"06.12.2026", "09:05:03", "/yedek/06.12.2026/6122026.953.ksd"},
            {"07.12.2026", "10:00:00", "/yedek/07.12.2026/7122026.1000.ksd"}};
}

} // namespace

TEST(MainWindow, EveryControlSitsAtItsDesignedPlace) {
    MainWindow window;
    EXPECT_EQ(window.size(), QSize(558, 583));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(designedGeometry("Frame2"), QRect(0, -2, 553, 99));
    for (const DesignedPlace& p : kMainWindowLayout) {
        auto* control = window.findChild<QWidget*>(QString::fromLatin1(p.name));
        ASSERT_NE(control, nullptr) << p.name;
        EXPECT_EQ(control->geometry(), designedGeometry(p.name)) << p.name;
    }
    EXPECT_EQ(control<QLineEdit>(window, "Text1")->parentWidget(),
              control<QGroupBox>(window, "Frame2"));
    EXPECT_EQ(control<StyledButton>(window, "Command5")->parentWidget(),
              control<QGroupBox>(window, "Frame3"));
}

TEST(MainWindow, CaptionsTitleAndWindowButtons) {
    MainWindow window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Kavlento"));
    EXPECT_EQ(control<QGroupBox>(window, "Frame2")->title(),
              QStringLiteral("Yedekleme Seçenekleri"));
    EXPECT_EQ(control<QGroupBox>(window, "Frame3")->title(), QString());
    EXPECT_EQ(control<StyledButton>(window, "Command1")->text(), QStringLiteral("GÖZAT..."));
    EXPECT_EQ(control<StyledButton>(window, "Command2")->text(), QStringLiteral("YEDEK AL"));
    EXPECT_EQ(control<StyledButton>(window, "Command3")->text(), QStringLiteral("İPTAL ET"));
    EXPECT_EQ(control<StyledButton>(window, "Command4")->text(), QStringLiteral("GERİ YÜKLE"));
    EXPECT_EQ(control<StyledButton>(window, "Command5")->text(), QStringLiteral("KAPAT"));
    EXPECT_EQ(control<StyledButton>(window, "Command6")->text(), QStringLiteral("GÖZAT..."));
    EXPECT_EQ(control<QLabel>(window, "Label1")->text(), QStringLiteral("Nereye Yedeklensin"));
    EXPECT_EQ(control<QLabel>(window, "Label3")->text(), QStringLiteral("Yedeklenen:"));
    EXPECT_TRUE(control<QLabel>(window, "Label2")
                    ->text()
                    .startsWith(QStringLiteral("UYARI: Eğerki Sitemizden")));
    EXPECT_TRUE(control<QLabel>(window, "Label2")
                    ->text()
                    .endsWith(QStringLiteral("Veri Kayıpları Yaşanacaktır.")));
    EXPECT_TRUE(control<QLabel>(window, "Label2")->wordWrap());
    EXPECT_EQ(control<QLabel>(window, "Image2")->pixmap().size(), QSize(290, 49));
    EXPECT_EQ(window.windowIcon().availableSizes().value(0), QSize(48, 48));

    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(control<QLineEdit>(window, "Text1")->isReadOnly());
    EXPECT_TRUE(control<QLineEdit>(window, "Text2")->isReadOnly());
}

TEST(MainWindow, ColoursAndFonts) {
    MainWindow window;
    const QColor grey(181, 182, 181);
    EXPECT_EQ(window.palette().color(QPalette::Window), grey);
    EXPECT_EQ(control<QGroupBox>(window, "Frame2")->palette().color(QPalette::Window), grey);
    EXPECT_EQ(control<QGroupBox>(window, "Frame3")->palette().color(QPalette::Window), grey);
    EXPECT_EQ(control<QLabel>(window, "Label1")->palette().color(QPalette::WindowText),
              QColor(255, 0, 0));
    EXPECT_EQ(control<QLabel>(window, "Label3")->palette().color(QPalette::WindowText),
              QColor(255, 0, 0));
    EXPECT_EQ(control<QLabel>(window, "Label2")->palette().color(QPalette::WindowText),
              QColor(255, 255, 255));
    EXPECT_EQ(control<StyledButton>(window, "Command2")->textColor(), QColor(255, 0, 0));
    EXPECT_EQ(control<StyledButton>(window, "Command2")->look().corners, ButtonCorners::Rounded);
    EXPECT_EQ(control<StyledButton>(window, "Command5")->look().corners, ButtonCorners::Square);
    EXPECT_EQ(control<StyledButton>(window, "Command5")->look().border, QColor(0, 60, 116));
    EXPECT_EQ(control<StyledButton>(window, "Command5")->look().borderMedium, QColor(0, 0, 127));
    EXPECT_EQ(control<StyledButton>(window, "Command5")->look().face, QColor(255, 255, 255));

    EXPECT_TRUE(control<StyledButton>(window, "Command3")->font().bold());
    EXPECT_DOUBLE_EQ(control<StyledButton>(window, "Command3")->font().pointSizeF(), 8.25);
    EXPECT_DOUBLE_EQ(control<QLabel>(window, "Label2")->font().pointSizeF(), 9.75);
    EXPECT_TRUE(drawsTurkishLetters(control<StyledButton>(window, "Command3")->font().family()));
    EXPECT_TRUE(drawsTurkishLetters(control<QLabel>(window, "Label2")->font().family()));
}

TEST(MainWindow, ListHasThreeNamedColumnsOfTheDesignedWidths) {
    MainWindow window;
    QTreeView* list = control<QTreeView>(window, "ListView1");
    EXPECT_EQ(historyHeaders(window), (QStringList{QStringLiteral("TARİH"), QStringLiteral("SAAT"),
                                                   QStringLiteral("YEDEKLEME YERİ")}));
    EXPECT_EQ(list->columnWidth(0), 1440 / 15);
    EXPECT_EQ(list->columnWidth(1), 1440 / 15);
    EXPECT_EQ(list->columnWidth(2), 6000 / 15);
    EXPECT_FALSE(list->rootIsDecorated());
}

TEST(MainWindow, FocusStartsOnTheListAndFollowsTheTabOrder) {
    MainWindow window;
    window.showCentered();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const QList<QWidget*> order = {
        control<QTreeView>(window, "ListView1"),   control<StyledButton>(window, "Command3"),
        control<StyledButton>(window, "Command4"), control<StyledButton>(window, "Command6"),
        control<StyledButton>(window, "Command5"), control<StyledButton>(window, "Command2"),
        control<QLineEdit>(window, "Text2"),       control<QLineEdit>(window, "Text1"),
        control<StyledButton>(window, "Command1")};
    EXPECT_EQ(QApplication::focusWidget(), control<QTreeView>(window, "ListView1"));
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), order[i]) << i;
    }
    EXPECT_EQ(control<QLabel>(window, "Label1")->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(control<QGroupBox>(window, "Frame2")->focusPolicy(), Qt::NoFocus);
}

TEST(MainWindow, HistoryShowsRecordsInOrderAndSelectionIsRead) {
    MainWindow window;
    window.showHistory(historyOf(threeRecords()));
    ASSERT_EQ(window.historyCount(), 3);
    EXPECT_EQ(historyRows(window)[1],
              (QStringList{QStringLiteral("06.12.2026"), QStringLiteral("09:05:03"),
                           QStringLiteral("/yedek/06.12.2026/6122026.953.ksd")}));
    EXPECT_EQ(window.selectedHistoryRecord(), std::nullopt);

    QTreeView* list = control<QTreeView>(window, "ListView1");
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(window.selectedHistoryRecord(), threeRecords()[2]);

    window.showHistory(historyOf({threeRecords()[0]})); // rebuilt in full
    EXPECT_EQ(window.historyCount(), 1);
}

TEST(MainWindow, ClickingAnItemEnablesTheEntryButtons) {
    MainWindow window;
    window.showHistory(historyOf(threeRecords()));
    window.showCentered();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(control<StyledButton>(window, "Command3")->isEnabled());
    EXPECT_TRUE(control<StyledButton>(window, "Command4")->isEnabled());

    window.setEntryButtonsEnabled(false);
    EXPECT_FALSE(control<StyledButton>(window, "Command3")->isEnabled());
    EXPECT_FALSE(control<StyledButton>(window, "Command4")->isEnabled());

    // Neither a reload (after a backup) nor a current row the program sets
    // counts as the user's choice.
    QTreeView* list = control<QTreeView>(window, "ListView1");
    window.showHistory(historyOf(threeRecords()));
    list->setCurrentIndex(list->model()->index(0, 0));
    // Below the last item there is no item to click: nothing changes.
    QWidget* viewport = list->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(50, viewport->height() - 5));
    EXPECT_FALSE(control<StyledButton>(window, "Command3")->isEnabled());

    clickHistoryRow(window, 1);
    EXPECT_TRUE(control<StyledButton>(window, "Command3")->isEnabled());
    EXPECT_TRUE(control<StyledButton>(window, "Command4")->isEnabled());
    EXPECT_EQ(window.selectedHistoryRecord(), threeRecords()[1]);

    // A row chosen from the keyboard counts as a click (it enables both
    // buttons together): from row 1 each key moves, and Space chooses the row
    // it is on.
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_Space}) {
        window.setEntryButtonsEnabled(false);
        QTest::keyClick(list, key);
        EXPECT_TRUE(control<StyledButton>(window, "Command4")->isEnabled()) << key;
    }
}

TEST(MainWindow, ACloseRequestIsAnnounced) {
    MainWindow window;
    window.showCentered();
    QSignalSpy closing(&window, &MainWindow::closeRequested);
    window.close();
    EXPECT_EQ(closing.count(), 1);
}

TEST(MainWindow, EnterAndSpacePressTheFocusedButton) {
    MainWindow window;
    window.showCentered();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QSignalSpy clicked(control<StyledButton>(window, "Command5"), &QPushButton::clicked);
    control<StyledButton>(window, "Command5")->setFocus();
    // Each press shows as a click of its own, which takes its time to complete.
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        const qsizetype before = clicked.count();
        QTest::keyClick(control<StyledButton>(window, "Command5"), key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return clicked.count() == before + 1; })) << key;
    }
}

TEST(MainWindow, EveryCaptionFitsInsideItsControl) {
    MainWindow window;
    for (StyledButton* button : window.findChildren<StyledButton*>()) {
        const QFontMetrics metrics(button->font());
        EXPECT_LE(metrics.horizontalAdvance(button->text()) + 8, button->width())
            << button->objectName().toStdString();
        EXPECT_LE(metrics.height() + 4, button->height()) << button->objectName().toStdString();
    }
    for (QLabel* label : {control<QLabel>(window, "Label1"), control<QLabel>(window, "Label3"),
                          control<QLabel>(window, "Label2")}) {
        const QFontMetrics metrics(label->font());
        const QRect needed = metrics.boundingRect(QRect(0, 0, label->width(), 10000),
                                                  Qt::TextWordWrap, label->text());
        EXPECT_LE(needed.width(), label->width()) << label->objectName().toStdString();
        // The notice's last line may sit under the lower group box, as designed;
        // and the lowest pixel row of a line is descent space no letter here uses.
        const int visible =
            label == control<QLabel>(window, "Label2") ? label->height() - 5 : label->height();
        EXPECT_LE(needed.height() - 1, visible) << label->objectName().toStdString();
    }
    const QFontMetrics title(control<QGroupBox>(window, "Frame2")->font());
    EXPECT_LE(title.horizontalAdvance(control<QGroupBox>(window, "Frame2")->title()),
              control<QGroupBox>(window, "Frame2")->width());
}

TEST(MainWindow, AScreenReaderHearsWhatEachControlIsAndDoes) {
    MainWindow window;
    ProgressWindow progress([] { return std::optional<int>(); });
    std::set<QString> names;
    for (QWidget* top : {static_cast<QWidget*>(&window), static_cast<QWidget*>(&progress)}) {
        for (QWidget* control : top->findChildren<QWidget*>()) {
            if (control->objectName().isEmpty() ||
                control->objectName().startsWith(QLatin1String("qt_"))) {
                continue; // Qt's own parts of a control (scroll bars, header)
            }
            QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(control);
            ASSERT_NE(spoken, nullptr);
            const QString name = spoken->text(QAccessible::Name);
            EXPECT_FALSE(name.isEmpty()) << control->objectName().toStdString();
            EXPECT_FALSE(spoken->text(QAccessible::Description).isEmpty())
                << control->objectName().toStdString();
            if (control->focusPolicy() != Qt::NoFocus) {
                EXPECT_TRUE(names.insert(name).second)
                    << "two controls called " << name.toStdString();
            }
        }
    }
    EXPECT_GE(names.size(), 9u); // the list, the six buttons, the two fields
}

TEST(MainWindow, ClickingARowSelectsItWithoutScrollingSideways) {
    MainWindow window;
    window.showHistory(historyOf(threeRecords()));
    window.showCentered();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTreeView* list = control<QTreeView>(window, "ListView1");
    ASSERT_GT(list->horizontalScrollBar()->maximum(), 0); // the columns are wider than the list
    // On the archive's location, whose column reaches past the list's edge.
    const QRect cell = list->visualRect(list->model()->index(1, 2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(list->viewport()->width() - 20, cell.center().y()));
    // A view scrolls to its clicked cell once no double click can follow.
    QTest::qWait(QApplication::doubleClickInterval() + 300);
    EXPECT_EQ(list->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(window.selectedHistoryRecord(), threeRecords()[1]);
}
