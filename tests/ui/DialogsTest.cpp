#include "support/TempFolder.h"
#include "ui/QtUserDialogs.h"
#include "ui/Translations.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::app;
using namespace kavlento::ui;

namespace {
QStringList buttonTexts(QMessageBox& box) {
    QStringList texts;
    for (QAbstractButton* b : box.buttons()) {
        texts.append(b->text());
    }
    texts.sort();
    return texts;
}

// What the user sees and a screen reader says of a window: every name, value
// and description of it and of what it shows, down to each cell of its lists.
QStringList spokenTexts(QAccessibleInterface& node) {
    QStringList texts{node.text(QAccessible::Name), node.text(QAccessible::Value),
                      node.text(QAccessible::Description)};
    for (int i = 0; i < node.childCount(); ++i) {
        texts += spokenTexts(*node.child(i));
    }
    return texts;
}
} // namespace

TEST(Dialogs, QuestionsAnswerInTurkishAndEscapeMeansNo) {
    auto box =
        QtUserDialogs::messageBox(QStringLiteral("SEÇİLİ YEDEK GERİ YÜKLENSİN Mİ?"), QString(),
                                  MessageIcon::Question, QtUserDialogs::Buttons::YesNo);
    EXPECT_EQ(buttonTexts(*box), (QStringList{QStringLiteral("Evet"), QStringLiteral("Hayır")}));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Kavlento"));
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->escapeButton()->text(), QStringLiteral("Hayır"));
    EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Evet"));

    QTimer::singleShot(0, box.get(), [&box] { QTest::keyClick(box.get(), Qt::Key_Escape); });
    box->exec();
    EXPECT_EQ(box->buttonRole(box->clickedButton()), QMessageBox::NoRole);
}

TEST(Dialogs, InformationHasTamamAndItsOwnTitleWhenGiven) {
    auto box =
        QtUserDialogs::messageBox(QStringLiteral("YEDEKLEME HEDEFİ SEÇİN"), QStringLiteral("HATA"),
                                  MessageIcon::Error, QtUserDialogs::Buttons::Ok);
    EXPECT_EQ(buttonTexts(*box), QStringList{QStringLiteral("Tamam")});
    EXPECT_EQ(box->windowTitle(), QStringLiteral("HATA"));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
}

TEST(Dialogs, ACarriageReturnStartsASecondLine) {
    auto box = QtUserDialogs::messageBox(QStringLiteral("BİR.\rİKİ."), QString(),
                                         MessageIcon::Information, QtUserDialogs::Buttons::Ok);
    EXPECT_EQ(box->text(), QStringLiteral("BİR.\nİKİ."));
}

TEST(Dialogs, FailureTextCarriesNumberAndDescription) {
    const QString text = QtUserDialogs::failureText(61, QStringLiteral("diskte yer kalmadı"));
    EXPECT_TRUE(text.contains(QStringLiteral("61")));
    EXPECT_TRUE(text.contains(QStringLiteral("diskte yer kalmadı")));
}

TEST(Dialogs, FileDialogsShowOnlyBackupsAndSpeakTurkish) {
    auto files = QtUserDialogs::archiveFileDialog(QString());
    EXPECT_EQ(files->nameFilters(), QStringList{QStringLiteral("Yedek Dosyası (*.ksd)")});
    EXPECT_EQ(files->labelText(QFileDialog::Reject), QStringLiteral("İptal"));
    EXPECT_EQ(files->labelText(QFileDialog::Accept), QStringLiteral("Aç"));
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFile);

    auto folders = QtUserDialogs::folderDialog(QStringLiteral("Nereye Yedek Alınsın?"), QString());
    EXPECT_EQ(folders->windowTitle(), QStringLiteral("Nereye Yedek Alınsın?"));
    EXPECT_EQ(folders->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(folders->labelText(QFileDialog::Reject), QStringLiteral("İptal"));
}

// What a person sees of both file dialogs on a folder with a sub-folder and a
// 90 MB backup: Qt's own texts, the types and the dates in Turkish, and no
// column narrower than what it shows.
TEST(Dialogs, FileDialogsShowEveryTextInTurkishAndUncut) {
    installTurkishTranslations(*qApp);
    // Qt keeps the dialogs' last layout in the user's settings: none here.
    const kavlento::testing::TempFolder settings, folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    folder.write(QStringLiteral("Alt Klasör/notlar.txt"), "not");
    folder.write(QStringLiteral("yedek.ksd"), QByteArray());
    ASSERT_TRUE(QFile::resize(folder.file(QStringLiteral("yedek.ksd")), 90'000'000)); // sparse
    const QRegularExpression english(
        QStringLiteral(
            "\\b(Folder|File|Name|Size|Type|Date Modified|Look in|Cancel|Open|Detail View|"
            "List View|Back|Forward|Parent Directory|Create New Folder|Jan(uary)?|"
            "Feb(ruary)?|Mar(ch)?|Apr(il)?|May|June?|July?|Aug(ust)?|Sep(tember)?|"
            "Oct(ober)?|Nov(ember)?|Dec(ember)?)\\b"),
        QRegularExpression::UseUnicodePropertiesOption);
    const std::unique_ptr<QFileDialog> dialogs[] = {
        QtUserDialogs::archiveFileDialog(folder.path()),
        QtUserDialogs::folderDialog(QStringLiteral("Nereye Yedek Alınsın?"), folder.path())};
    for (const auto& dialog : dialogs) {
        dialog->show();
        const auto* details = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
        const QAbstractItemView& view = *details; // where sizeHintForColumn is public
        const auto fits = [&](int c) {
            return details->header()->sectionSize(c) >=
                   qMax(view.sizeHintForColumn(c), details->header()->sectionSizeHint(c));
        };
        // The folder is read on a thread of its own, and the columns laid out after.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return view.model()->rowCount(view.rootIndex()) == (dialog == dialogs[0] ? 2 : 1) &&
                   fits(0) && fits(1) && fits(2) && fits(3);
        }));
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(dialog.get());
        ASSERT_NE(spoken, nullptr);
        for (const QString& text : spokenTexts(*spoken)) {
            EXPECT_FALSE(text.contains(english)) << text.toStdString();
        }
    }
}

// A question that prefers No answers No to a mere Enter; and where nobody may
// be watching, every box closes by itself, a question with No.
TEST(Dialogs, AQuestionMayPreferNoAndBoxesOfAnUnwatchedRunCloseByThemselves) {
    auto box =
        QtUserDialogs::messageBox(QStringLiteral("YİNE DE GERİ YÜKLENSİN Mİ?"), QString(),
                                  MessageIcon::Question, QtUserDialogs::Buttons::YesNoPreferringNo);
    EXPECT_EQ(box->defaultButton()->text(), QStringLiteral("Hayır"));

    QtUserDialogs dialogs([] { return std::optional<int>(); });
    dialogs.closeBoxesAfter(std::chrono::milliseconds(50));
    dialogs.inform(
        QStringLiteral("YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK YEDEKLEME ÇALIŞMAYACAK"),
        QStringLiteral("Kavlento"), MessageIcon::Information);
    EXPECT_FALSE(dialogs.askYesNo(QStringLiteral("?"), QString(), MessageIcon::Question,
                                  DefaultAnswer::Yes));
    dialogs.reportFailure(61, QStringLiteral("diskte yer kalmadı"));
}
