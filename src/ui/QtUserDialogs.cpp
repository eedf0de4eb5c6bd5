#include "ui/QtUserDialogs.h"

#include "ui/Fonts.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>

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

// The columns of QFileSystemModel, as the dialogs' detail view shows them.
enum FileColumn { NameColumn = 0, SizeColumn = 1, DateColumn = 3 };

// QFileSystemModel writes sizes and dates in the system's locale (English
// month names under C or en_US), not in the program's: the dialogs write them
// in Turkish themselves.
class TurkishFileDetails final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files != nullptr) {
            const QModelIndex file = mapToSource(index);
            if (index.column() == DateColumn) {
                return turkish_.toString(files->lastModified(file), QLocale::ShortFormat);
            }
            if (index.column() == SizeColumn && !files->isDir(file)) {
                return turkish_.formattedDataSize(files->size(file), 1,
                                                  QLocale::DataSizeTraditionalFormat);
            }
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    const QLocale turkish_{QLocale::Turkish, QLocale::Turkey};
};

// Every column as wide as its longest text, the names taking the rest, and
// the places on the left as wide as theirs: Qt's fixed widths cut the sizes,
// the Turkish dates and column titles, and "Bilgisayar".
void fitToContents(QFileDialog& dialog) {
    if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    }
    auto* places = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
    auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
    if (places != nullptr && splitter != nullptr && splitter->count() == 2) {
        const int placesWidth = places->sizeHintForColumn(0) + 2 * places->frameWidth() +
                                places->verticalScrollBar()->sizeHint().width();
        splitter->setSizes({placesWidth, dialog.width()});
    }
}

void prepareInTurkish(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Konum:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Dosya adı:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Dosya türü:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Aç"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("İptal"));
    // Setting the model lays the header out anew: the columns come after it.
    dialog.setProxyModel(new TurkishFileDetails(&dialog));
    dialog.resize(820, 480);
    fitToContents(dialog);
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
    prepareInTurkish(*dialog);
    return dialog;
}

std::unique_ptr<QFileDialog> QtUserDialogs::folderDialog(const QString& prompt,
                                                         const QString& startFolder) {
    auto dialog = std::make_unique<QFileDialog>(nullptr, prompt, startFolder);
    dialog->setWindowTitle(prompt);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    prepareInTurkish(*dialog);
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
