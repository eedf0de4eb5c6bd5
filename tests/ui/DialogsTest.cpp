#include "ui/QtUserDialogs.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
