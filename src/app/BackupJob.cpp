#include "app/BackupJob.h"

#include "app/HistoryList.h"
#include "app/Retention.h"
#include "app/TargetFolder.h"
#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "fs/File.h"
#include "fs/FolderScanner.h"
#include "fs/NewFile.h"
#include "fs/SmallFile.h"
#include "store/Codepage.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace kavlento::app {

namespace {

const QString kChoosePrompt = QStringLiteral("Nereye Yedek Alınsın?");
const QString kNoTarget = QStringLiteral("YEDEKLEME HEDEFİ SEÇİN");
const QString kErrorTitle = QStringLiteral("HATA");
const QString kFinished =
    QStringLiteral("YEDEK ALMA İŞLEMİ TAMAMLANDI.") + QChar(u'\r') +
    QStringLiteral("SAĞLIKLI BİR KULLANIM İÇİN PROGRAMINIZI TEKRAR BAŞLATIN.");

// A dated folder of a target holds archives of ours (or one being written).
bool isDatedBackupFolder(const std::string& folder) {
    for (const std::string& name :
         fs::listFolder(folder, QStringLiteral("Yedekleme klasörü okunamadı"))) {
        if (isArchiveFileName(fs::fromSystemPath(name)) || fs::isUnfinishedFileName(name)) {
            return true;
        }
    }
    return false;
}

QString twoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

void createFolderIfAbsent(const QString& folder) {
    // Anything of that name counts, a file too; only this one level is made.
    const std::string path = fs::toSystemPath(folder);
    if (fs::lookUpFollowing(path).kind != fs::PathKind::Missing) {
        return;
    }
    fs::makeFolder(path, 0777, QStringLiteral("Yedekleme klasörü oluşturulamadı"));
}

} // namespace

bool isArchiveFileName(const QString& name) {
    static const QRegularExpression archiveName(
        QStringLiteral("^[0-9]+\\.[0-9]+(-[0-9]+)?\\.ksd$"));
    return archiveName.match(name).hasMatch();
}

namespace {

// The date and time texts as the stored files can hold them: the regional
// texts, or, where the code page lacks their letters, dd-mm-yyyy and HH:MM:SS.
QString folderSafeDate(const QString& dateText) {
    return QString(dateText).replace(QLatin1Char('/'), QLatin1Char('-'));
}

QString storableDate(const Moment& moment) {
    const QString date = folderSafeDate(moment.dateText);
    if (store::fitsWindows1254(date)) {
        return date;
    }
    return QStringLiteral("%1-%2-%3")
        .arg(twoDigits(moment.day), twoDigits(moment.month))
        .arg(moment.year);
}

QString storableTime(const Moment& moment) {
    if (store::fitsWindows1254(moment.timeText)) {
        return moment.timeText;
    }
    return QStringLiteral("%1:%2:%3")
        .arg(twoDigits(moment.hour), twoDigits(moment.minute), twoDigits(moment.second));
}

} // namespace

BackupNames backupNames(const QString& target, const Moment& moment) {
    BackupNames names;
    names.dateText = storableDate(moment);
    names.datedFolder = target + QDir::separator() + names.dateText;
    const QString stem = QStringLiteral("%1%2%3.%4%5%6")
                             .arg(moment.day)
                             .arg(moment.month)
                             .arg(moment.year)
                             .arg(moment.hour)
                             .arg(moment.minute)
                             .arg(moment.second);
    // The digits have no leading zeros, so two moments of a day can give one
    // name; a backup never changes an archive that is there.
    names.archiveName = stem + QStringLiteral(".ksd");
    for (int n = 2;
         fs::lookUp(fs::toSystemPath(names.datedFolder + QDir::separator() + names.archiveName))
             .kind != fs::PathKind::Missing;
         ++n) {
        names.archiveName = QStringLiteral("%1-%2.ksd").arg(stem).arg(n);
    }
    names.archivePath = names.datedFolder + QDir::separator() + names.archiveName;
    return names;
}

QStringList foldersNotToPack(const QString& programFolder, const QString& target,
                             const store::History& history) {
    const std::string program = fs::toSystemPath(programFolder);
    QStringList folders;
    const auto leaveOut = [&](const QString& folder) {
        const std::string path = fs::toSystemPath(folder);
        if (fs::isSameOrInside(path, program) && !fs::isSameOrInside(program, path) &&
            !folders.contains(folder)) {
            folders.append(folder);
        }
    };
    leaveOut(target); // a folder of its own inside the program folder
    if (fs::isSameOrInside(program, fs::toSystemPath(target))) {
        // The target is the program folder itself: every dated folder of
        // earlier days holds archives that would go into the next one.
        for (const std::string& name :
             fs::listFolder(program, QStringLiteral("Yedeklenecek klasör okunamadı"))) {
            const std::string path = fs::joinPath(program, name);
            if (fs::lookUp(path).kind == fs::PathKind::Folder && isDatedBackupFolder(path)) {
                leaveOut(fs::fromSystemPath(path));
            }
        }
    }
    // Archives of earlier targets that lay inside the program folder.
    QSet<QString> archiveFolders;
    for (std::size_t i = 0; i < history.size(); ++i) {
        archiveFolders.insert(QFileInfo(history.field(i, 2)).path());
    }
    for (const QString& folder : archiveFolders) {
        leaveOut(folder);
    }
    return folders;
}

void BackupJob::chooseTarget() {
    const QString stored = folderIfPresent(p_.view.targetText());
    const QString chosen =
        p_.zip.BrowseForFolder(kChoosePrompt, stored.isEmpty() ? QDir::homePath() : stored);
    if (chosen.isEmpty()) {
        return; // cancelled: the stored target stays
    }
    const QString refusal = targetRefusal(chosen);
    if (!refusal.isEmpty()) {
        p_.dialogs.inform(refusal, kErrorTitle, MessageIcon::Error);
        return;
    }
    p_.view.setTargetText(chosen);
    p_.target.save(chosen);
}

void BackupJob::run() {
    const QString target = p_.view.targetText();
    if (target.isEmpty()) {
        p_.dialogs.inform(kNoTarget, kErrorTitle, MessageIcon::Error);
        return;
    }
    const BackupNames names = backupNames(target, p_.clock.now());
    // Built first: a path the command cannot carry is refused before anything is made.
    const QString command =
        archive::buildCompressCommand(p_.programFolder, names.datedFolder, names.archiveName);
    p_.state.job = RunningJob::Backup;
    createFolderIfAbsent(names.datedFolder);
    p_.state.archiveName = names.archiveName;
    p_.zip.Compress(command, foldersNotToPack(p_.programFolder, target,
                                              p_.history.load().value_or(store::History())));

    running_.start();
    const Moment recorded = p_.clock.now();
    const store::HistoryRecord record{storableDate(recorded), storableTime(recorded),
                                      names.archivePath};
    p_.history.append(record);
    appended_ = record;
    loadHistory(p_.history, p_.view);
    p_.dialogs.showProgress();
}

void BackupJob::finish(const QString& archivePath, int entryCount, qint64 archiveSize,
                       qint64 checkMilliseconds) {
    appended_.reset(); // complete: its record stays
    if (p_.commandLine.isUnattended()) {
        const auto seconds = [](qint64 ms) { return static_cast<double>(ms) / 1000.0; };
        p_.dialogs.note(
            QStringLiteral("yedek alındı: %1 (%2 MB, %3 girdi, %4 saniye, denetimi %5 saniye)")
                .arg(archivePath)
                .arg(static_cast<double>(archiveSize) / 1048576.0, 0, 'f', 1)
                .arg(entryCount)
                .arg(seconds(running_.elapsed()), 0, 'f', 2)
                .arg(seconds(checkMilliseconds), 0, 'f', 2));
        if (const auto count = p_.commandLine.archivesToKeep()) {
            Retention(p_.history, p_.dialogs).keepNewest(*count, p_.view.targetText());
        }
    } else {
        p_.dialogs.inform(kFinished, QString(), MessageIcon::Information);
    }
    p_.close.run();
}

void BackupJob::abandon() {
    p_.zip.cancelAndWait();
    // Only a complete archive gets the record's name, and nothing else takes it.
    if (appended_ && !fs::isRegularFile(appended_->archivePath)) {
        const store::HistoryRecord record = *appended_;
        appended_.reset();
        p_.history.removeLastRecord(record);
    }
}

} // namespace kavlento::app
