#include "ui/QtUserDialogs.h"

#include "ui/Fonts.h"

#include <QFileDialog>
#include <QPushButton>
#include <QTimer>

namespace kavlento::ui {

namespace {

const QString kProgramTitle = QStringLiteral("Kavlento");

QMessageBox::Icon qtIcon(app::MessageIcon icon) {
    switch (icon) {
    case app::MessageIcon::Information:
        return QMessageBox::Information;
    case app::MessageIcon::Question:
        return QMessageBox::Question;
    case app::MessageIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

void setTurkishLabels(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Konum:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Dosya adı:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Dosya türü:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Aç"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("İptal"));
}

QString chosenPath(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return QString();
    }
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

} // namespace

QtUserDialogs::QtUserDialogs(ProgressWindow::PercentSource lastPercent)
    : lastPercent_(std::move(lastPercent)) {}

QtUserDialogs::~QtUserDialogs() = default;

std::unique_ptr<QMessageBox> QtUserDialogs::messageBox(const QString& text, const QString& title,
                                                       app::MessageIcon icon, Buttons buttons) {
    auto box = std::make_unique<QMessageBox>();
    // The desktop's default font draws the dots of Ü, Ö and İ as one pixel of
    // light grey at 100 %; the main window's bold face draws every Turkish
    // letter clearly.
    box->setFont(sansSerifBold(9.75));
    box->setWindowTitle(title.isEmpty() ? kProgramTitle : title);
    box->setText(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    box->setIcon(qtIcon(icon));
    box->setTextFormat(Qt::PlainText);
    if (buttons == Buttons::Ok) {
        QPushButton* ok = box->addButton(QStringLiteral("Tamam"), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
    } else {
        QPushButton* yes = box->addButton(QStringLiteral("Evet"), QMessageBox::YesRole);
        QPushButton* no = box->addButton(QStringLiteral("Hayır"), QMessageBox::NoRole);
        box->setDefaultButton(buttons == Buttons::YesNo ? yes : no);
        box->setEscapeButton(no);
    }
    return box;
}

QString QtUserDialogs::failureText(int number, const QString& description) {
    return QStringLiteral("%1\r\r(hata %2) Program kapatılacak.")
        .arg(description, QString::number(number));
}

void QtUserDialogs::exec(QMessageBox& box) const {
    if (closeAfter_.count() > 0) {
        QTimer::singleShot(closeAfter_, &box, [&box] { box.escapeButton()->click(); });
    }
    box.exec();
}

void QtUserDialogs::inform(const QString& text, const QString& title, app::MessageIcon icon) {
    exec(*messageBox(text, title, icon, Buttons::Ok));
}

bool QtUserDialogs::askYesNo(const QString& text, const QString& title, app::MessageIcon icon,
                             app::DefaultAnswer preferred) {
    const auto box = messageBox(text, title, icon,
                                preferred == app::DefaultAnswer::No ? Buttons::YesNoPreferringNo
                                                                    : Buttons::YesNo);
    exec(*box);
    return box->buttonRole(box->clickedButton()) == QMessageBox::YesRole;
}

void QtUserDialogs::reportFailure(int number, const QString& description) {
    exec(*messageBox(failureText(number, description), QString(), app::MessageIcon::Error,
                     Buttons::Ok));
}

std::unique_ptr<QFileDialog> QtUserDialogs::archiveFileDialog(const QString& startFolder) {
    auto dialog = std::make_unique<QFileDialog>(nullptr, QString(), startFolder);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilter(QStringLiteral("Yedek Dosyası (*.ksd)"));
    setTurkishLabels(*dialog);
    return dialog;
}

std::unique_ptr<QFileDialog> QtUserDialogs::folderDialog(const QString& prompt,
                                                         const QString& startFolder) {
    auto dialog = std::make_unique<QFileDialog>(nullptr, prompt, startFolder);
    dialog->setWindowTitle(prompt);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    setTurkishLabels(*dialog);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Seç"));
    return dialog;
}

QString QtUserDialogs::pickArchiveFile(const QString& startFolder) {
    return chosenPath(*archiveFileDialog(startFolder));
}

QString QtUserDialogs::pickFolder(const QString& prompt, const QString& startFolder) {
    return chosenPath(*folderDialog(prompt, startFolder));
}

ProgressWindow& QtUserDialogs::progressWindow() {
    if (!progress_) {
        progress_ = std::make_unique<ProgressWindow>(lastPercent_);
    }
    return *progress_;
}

void QtUserDialogs::showProgress() {
    progressWindow().runModal();
}

void QtUserDialogs::showStep(const app::ProgressStep& step) {
    progressWindow().setStep(step.text, step.from, step.to);
    progress_->showAside();
}

void QtUserDialogs::hideProgress() {
    if (progress_) {
        progress_->hide();
    }
}

} // namespace kavlento::ui
