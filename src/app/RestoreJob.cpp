#include "app/RestoreJob.h"

#include "app/BackupJob.h"
#include "app/HistoryList.h"
#include "app/TargetFolder.h"
#include "app/WorkAside.h"
#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "archive/FolderState.h"
#include "base/Failure.h"
#include "base/Megabytes.h"
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
// Files the program changes with every backup and restore: not what the user
// has, so they tell nothing of whether an archive holds the folder as it is.
const QStringList kStoredFiles{QStringLiteral("yedekleme.lst"), QStringLiteral("yedekleme.dat"),
                               QStringLiteral("yedek.yedek"), QStringLiteral("prgcik.dat")};
// Room for a backup beyond the folder's bytes: its records and directory.
constexpr std::uint64_t kArchiveOverhead = 16u << 20;
const QString kCompleted = QStringLiteral("VERİLERİN YEDEKTEN GERİ YÜKLENMESİ TAMAMLANDI.") +
                           QChar(u'\r') + QStringLiteral("ŞİMDİ PROGRAM SONLANDIRILACAK...");

const QString kComparing = QStringLiteral("ŞU ANKİ VERİLER SON YEDEKLE KARŞILAŞTIRILIYOR...");
const QString kCheckingStep = QStringLiteral("1/3: GERİ YÜKLENECEK YEDEK DENETLENİYOR...");
const QString kBackingUpStep = QStringLiteral("2/3: ŞU ANKİ VERİLER YEDEKLENİYOR...");
const QString kRestoringStep = QStringLiteral("3/3: VERİLER YEDEKTEN GERİ YÜKLENİYOR...");
const QString kRestoringOnly = QStringLiteral("VERİLER YEDEKTEN GERİ YÜKLENİYOR...");

// The question when the folder cannot be backed up first: why, what would
// let the backup be taken (for a No), and what a Yes costs.
const QString kNoSafetyBackup = QStringLiteral(
    "ŞU ANKİ VERİLERİN YEDEĞİ ALINAMIYOR: %1\r%2\r\"EVET\" DERSENİZ ŞU ANKİ VERİLERİN YERİNE "
    "YEDEKTEKİLER KONACAK; ŞU ANKİ VERİLERİN YEDEĞİ OLMAYACAK VE GERİ GETİRİLEMEYECEKLER.\r"
    "YEDEK ALINMADAN GERİ YÜKLENSİN Mİ?");
const QString kThenAgain = QStringLiteral(" VE GERİ YÜKLEMEYİ YENİDEN BAŞLATIN.");
const QString kSayNo = QStringLiteral("ÖNCE YEDEK ALINSIN İSTERSENİZ \"HAYIR\" DEYİN, ");
const QString kOrAnother =
    QStringLiteral(" YA DA YUKARIDAKİ GÖZAT... İLE BAŞKA BİR YEDEKLEME KLASÖRÜ SEÇİN");

// Why the folder cannot be backed up into `target`, and what the user can do.
std::pair<QString, QString> safetyRefusal(const QString& target, const TargetCheck& check) {
    switch (check.problem) {
    case TargetProblem::DiskAbsent:
        return {QStringLiteral("YEDEKLEME KLASÖRÜNÜN (%1) DİSKİ TAKILI DEĞİL.").arg(target),
                kSayNo + QStringLiteral("DİSKİ TAKIN") + kOrAnother + kThenAgain};
    case TargetProblem::ReadOnly:
        return {QStringLiteral("YEDEKLEME KLASÖRÜNÜN (%1) DİSKİ YALNIZCA OKUNABİLİR.").arg(target),
                kSayNo + QStringLiteral("DİSKİN YAZMA KORUMASINI KALDIRIN") + kOrAnother +
                    kThenAgain};
    case TargetProblem::NoPermission:
        return {QStringLiteral("YEDEKLEME KLASÖRÜNE (%1) YAZMA İZNİNİZ YOK.").arg(target),
                kSayNo +
                    QStringLiteral("YUKARIDAKİ GÖZAT... İLE YAZABİLDİĞİNİZ BİR YEDEKLEME "
                                   "KLASÖRÜ SEÇİN") +
                    kThenAgain};
    case TargetProblem::Missing:
        return {QStringLiteral("YEDEKLEME KLASÖRÜ (%1) YOK.").arg(target),
                kSayNo + QStringLiteral("KLASÖRÜN DİSKİ ÇIKARILDIYSA TAKIN") + kOrAnother +
                    kThenAgain};
    case TargetProblem::None:
    case TargetProblem::UnstorableMarks:
    case TargetProblem::UnstorableLetters:
    case TargetProblem::Unwritable:
        break;
    }
    return {QStringLiteral("YEDEKLEME KLASÖRÜNE (%1) YAZILAMIYOR (%2).")
                .arg(target, describeSystemError(check.error)),
            kSayNo + QStringLiteral("YUKARIDAKİ GÖZAT... İLE BAŞKA BİR YEDEKLEME KLASÖRÜ SEÇİN") +
                kThenAgain};
}

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
    const QStringList kept = programsOwnFiles();
    // One moment names the safety archive and its record.
    const Moment started = p_.clock.now();
    const std::optional<BackupFirst> first = safetyBackup(started);
    if (!first) {
        return;
    }
    p_.state.restoredArchive = archivePath;
    p_.state.job = RunningJob::Restore;
    backingUpFirst_ = first->command.has_value();
    const QString target = p_.view.targetText();
    std::optional<archive::SafetyRequest> safety;
    if (first->command) {
        const QString datedFolder = backupNames(target, started).datedFolder;
        safety = archive::SafetyRequest{*first->command, started.seconds,
                                        [this, datedFolder, started](const QString& path) {
                                            record(datedFolder, started, path);
                                        }};
    }
    p_.archiver.Extract(archive::restoreCommand(p_.state.restoredArchive, p_.programFolder),
                        {kept, target, listedArchives(p_.history.load())}, safety);
    p_.dialogs.showProgress();
}

void RestoreJob::stepBegun(archive::JobStep step, int from, int to) {
    switch (step) {
    case archive::JobStep::CheckingArchive:
        p_.dialogs.showStep({kCheckingStep, from, to});
        return;
    case archive::JobStep::BackingUpFirst:
        p_.dialogs.showStep({kBackingUpStep, from, to});
        return;
    case archive::JobStep::Restoring:
        // The backup just taken is recorded: its row shows before the restore.
        loadHistory(p_.history, p_.view);
        p_.dialogs.showStep({backingUpFirst_ ? kRestoringStep : kRestoringOnly, from, to});
        return;
    }
}

RestoreJob::SafetyCheck RestoreJob::checkSafety(const QString& target, const Moment& moment) const {
    const QStringList listed = listedArchives(p_.history.load());
    std::vector<std::string> listedPaths;
    for (const QString& path : listed) {
        listedPaths.push_back(fs::toSystemPath(path));
    }
    std::vector<std::string> ignored;
    for (const QString& name : kStoredFiles) {
        ignored.push_back(fs::toSystemPath(name));
    }
    const archive::FolderState now(fs::toSystemPath(p_.programFolder), fs::toSystemPath(target),
                                   listedPaths, ignored);
    for (auto path = listed.crbegin(); path != listed.crend(); ++path) {
        if (fs::isRegularFile(*path)) {
            if (now.isHeldBy(fs::toSystemPath(*path))) {
                return {}; // the newest archive that is there holds it already
            }
            break;
        }
    }
    if (target.isEmpty()) {
        return {std::nullopt,
                {QStringLiteral("YEDEKLEME KLASÖRÜ SEÇİLMEMİŞ."),
                 kSayNo + QStringLiteral("YUKARIDAKİ GÖZAT... İLE BİR YEDEKLEME KLASÖRÜ SEÇİN") +
                     kThenAgain}};
    }
    const TargetCheck check = checkTarget(target);
    if (check.problem != TargetProblem::None) {
        return {std::nullopt, safetyRefusal(target, check)};
    }
    // A disk that does not say its room is tried: the backup fails if it is full.
    const std::optional<std::uint64_t> available =
        fs::OpenFolder::open(fs::toSystemPath(target), {}).availableBytes();
    if (available && *available < now.bytes() + kArchiveOverhead) {
        return {std::nullopt,
                {QStringLiteral("YEDEKLEME KLASÖRÜNÜN (%1) DİSKİNDE YETERLİ YER YOK: %2 BOŞ, "
                                "%3 GEREKİYOR.")
                     .arg(target, megabytes(*available), megabytes(now.bytes() + kArchiveOverhead)),
                 kSayNo + QStringLiteral("DİSKTE YER AÇIN") + kOrAnother + kThenAgain}};
    }
    const BackupNames names = backupNames(target, moment);
    return {archive::backupCommand(p_.programFolder, names.datedFolder, names.archiveName), {}};
}

std::optional<RestoreJob::BackupFirst> RestoreJob::safetyBackup(const Moment& moment) {
    // The folder and the newest archive are read whole, which takes seconds
    // on a large folder: the window is drawn meanwhile and takes no input.
    p_.dialogs.showStep({kComparing, 0, 0});
    SafetyCheck check;
    runAside([&, target = p_.view.targetText()] { check = checkSafety(target, moment); });
    if (check.command || check.refusal.first.isEmpty()) {
        return BackupFirst{check.command};
    }
    p_.dialogs.hideProgress();
    if (!p_.dialogs.askYesNo(kNoSafetyBackup.arg(check.refusal.first, check.refusal.second),
                             QString(), MessageIcon::Question, DefaultAnswer::No)) {
        return std::nullopt;
    }
    return BackupFirst{};
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
