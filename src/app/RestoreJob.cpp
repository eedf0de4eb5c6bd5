#include "app/RestoreJob.h"

#include "app/BackupJob.h"
#include "app/HistoryList.h"
#include "app/TargetFolder.h"
#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "archive/FolderState.h"
#include "base/Failure.h"
#include "fs/OpenFolder.h"
#include "fs/SmallFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdint>

namespace kavlento::app {

namespace {

const QString kQuestion = QStringLiteral("SEÇİLİ YEDEK GERİ YÜKLENSİN Mİ?");
const QString kNotFound = QStringLiteral("YEDEK DOSYASINA ULAŞILAMIYOR.SİLİNMEDİĞİNDEN EMİN OLUN!");
const QString kUnusableName = QStringLiteral(
    "YEDEK DOSYASININ YOLUNDA '>' İŞARETİ VAR, BU DOSYA GERİ YÜKLENEMEZ. LÜTFEN DOSYAYI "
    "ADINDA '>' OLMAYAN BİR KLASÖRE TAŞIYIP TEKRAR DENEYİN.");
const QString kNoSafetyBackup =
    QStringLiteral("ŞU ANKİ VERİLERİN YEDEĞİ ALINAMIYOR: %1\rGERİ YÜKLEME ŞU ANKİ VERİLERİN YERİNE "
                   "YEDEKTEKİLERİ KOYACAK; ŞU ANKİ VERİLER SAKLANAMAYACAK VE YERİNE KONANLARLA "
                   "DEĞİŞTİRİLECEK. YİNE DE GERİ YÜKLENSİN Mİ?");
// Files the program changes with every backup and restore: not what the user
// has, so they tell nothing of whether an archive holds the folder as it is.
const QStringList kStoredFiles{QStringLiteral("yedekleme.lst"), QStringLiteral("yedekleme.dat"),
                               QStringLiteral("yedek.yedek"), QStringLiteral("prgcik.dat")};
// Room for a backup beyond the folder's bytes: its records and directory.
constexpr std::uint64_t kArchiveOverhead = 16u << 20;
const QString kCompleted = QStringLiteral("VERİLERİN YEDEKTEN GERİ YÜKLENMESİ TAMAMLANDI.") +
                           QChar(u'\r') + QStringLiteral("ŞİMDİ PROGRAM SONLANDIRILACAK...");

} // namespace

void RestoreJob::restoreSelected() {
    const auto selected = selectedEntry(p_.view, p_.dialogs);
    if (!selected) {
        return; // an empty list, or none selected: nothing to ask about
    }
    if (!p_.dialogs.askYesNo(kQuestion, QString(), MessageIcon::Question)) {
        return;
    }
    startRestore(selected->archivePath);
}

void RestoreJob::restorePicked() {
    // Where the backups are: the stored target.
    const QString picked = p_.dialogs.pickArchiveFile(folderIfPresent(p_.view.targetText()));
    if (picked.isEmpty()) {
        return; // cancelled: nothing is restored, nothing asked
    }
    if (!p_.dialogs.askYesNo(kQuestion, QString(), MessageIcon::Information)) {
        return;
    }
    p_.state.restoredArchive = picked;
    p_.state.lastPercent = 0;
    startRestore(p_.state.restoredArchive);
}

void RestoreJob::startRestore(const QString& archivePath) {
    if (!fs::isRegularFile(archivePath)) {
        p_.dialogs.inform(kNotFound, QString(), MessageIcon::Error);
        return;
    }
    if (!archive::fitsCommandValue(archivePath)) {
        p_.dialogs.inform(kUnusableName, QString(), MessageIcon::Error);
        return;
    }
    const QStringList kept = programsOwnFiles();
    // One moment names the safety archive and its record.
    const Moment started = p_.clock.now();
    const std::optional<QString> safety = safetyBackup(started);
    if (!safety) {
        return;
    }
    p_.state.restoredArchive = archivePath;
    p_.state.job = RunningJob::Restore;
    const QString target = p_.view.targetText();
    const QString datedFolder = backupNames(target, started).datedFolder;
    p_.archiver.Extract(
        archive::buildExtractCommand(p_.state.restoredArchive, p_.programFolder),
        {kept, target, listedArchives(p_.history.load())},
        {*safety, started.seconds, [this, datedFolder, started](const QString& path) {
             record(datedFolder, started, path);
         }});
    p_.dialogs.showProgress();
}

std::optional<QString> RestoreJob::safetyBackup(const Moment& moment) {
    const std::optional<store::History> history = p_.history.load();
    const QStringList listed = listedArchives(history);
    std::vector<std::string> listedPaths;
    for (const QString& path : listed) {
        listedPaths.push_back(fs::toSystemPath(path));
    }
    std::vector<std::string> ignored;
    for (const QString& name : kStoredFiles) {
        ignored.push_back(fs::toSystemPath(name));
    }
    const QString target = p_.view.targetText();
    const archive::FolderState now(fs::toSystemPath(p_.programFolder), fs::toSystemPath(target),
                                   listedPaths, ignored);
    for (auto path = listed.crbegin(); path != listed.crend(); ++path) {
        if (fs::isRegularFile(*path)) {
            if (now.isHeldBy(fs::toSystemPath(*path))) {
                return QString(); // the newest archive that is there holds it already
            }
            break;
        }
    }
    QString refusal =
        target.isEmpty() ? QStringLiteral("YEDEKLEME HEDEFİ SEÇİLMEMİŞ.") : targetRefusal(target);
    // A disk that does not say its room is tried: the backup fails if it is full.
    const std::optional<std::uint64_t> available =
        refusal.isEmpty() ? fs::OpenFolder::open(fs::toSystemPath(target), {}).availableBytes()
                          : std::nullopt;
    if (available && *available < now.bytes() + kArchiveOverhead) {
        refusal = QStringLiteral("YEDEKLEME DİSKİNDE YETERLİ YER YOK: %1.").arg(target);
    }
    if (refusal.isEmpty()) {
        const BackupNames names = backupNames(target, moment);
        return archive::buildCompressCommand(p_.programFolder, names.datedFolder,
                                             names.archiveName);
    }
    if (!p_.dialogs.askYesNo(kNoSafetyBackup.arg(refusal), QString(), MessageIcon::Question,
                             DefaultAnswer::No)) {
        return std::nullopt;
    }
    return QString();
}

void RestoreJob::record(const QString& datedFolder, const Moment& started,
                        const QString& archivePath) {
    // The restore does not go on without the record.
    recordOrRemove(p_.history, backupRecord(started, datedFolder, archivePath), archivePath);
}

// The history tells of this folder's backups and the setting where the next
// one goes, the running program is the one to keep, and the marker is written
// at the end: a restore brings back the data, never another day's or another
// folder's copies of these. A folder that has neither the history nor the
// setting (one installed anew after a disaster) takes the archive's, so that
// its nightly backups go on.
QStringList RestoreJob::programsOwnFiles() const {
    const QDir folder(p_.programFolder);
    QStringList names{QStringLiteral("yedek.yedek"), QStringLiteral("prgcik.dat")};
    if (fs::isOwnFile(folder.filePath(QStringLiteral("yedekleme.lst"))) ||
        fs::isOwnFile(folder.filePath(QStringLiteral("yedekleme.dat")))) {
        names += {QStringLiteral("yedekleme.lst"), QStringLiteral("yedekleme.dat")};
    }
    const QFileInfo running(QCoreApplication::applicationFilePath());
    if (QDir(running.absolutePath()).canonicalPath() == folder.canonicalPath()) {
        names.append(running.fileName());
    }
    return names;
}

void RestoreJob::completionTest() {
    if (p_.state.lastPercent != 100 || p_.state.job != RunningJob::Restore) {
        return;
    }
    // The folder is restored: the host learns it from the marker, which is
    // there before the message waits, whatever ends the program meanwhile.
    const QDir folder(p_.programFolder);
    fs::writeEmptyFile(folder.filePath(QStringLiteral("prgcik.dat.tmp")),
                       folder.filePath(QStringLiteral("prgcik.dat")));
    if (p_.state.stopRequested) {
        p_.dialogs.note(kCompleted);
    } else {
        p_.dialogs.inform(kCompleted, QString(), MessageIcon::Information);
    }
    p_.end.end(ExitStatus::Normal);
}

} // namespace kavlento::app
