#include "app/BackupJob.h"

#include "app/HistoryList.h"
#include "app/Retention.h"
#include "app/TargetFolder.h"
#include "app/WorkAside.h"
#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "base/Failure.h"
#include "base/Megabytes.h"
#include "fs/File.h"
#include "store/Codepage.h"

#include <QDir>
#include <QFileInfo>

namespace kavlento::app {

namespace {

const QString kChoosePrompt = QStringLiteral("Nereye Yedek Alınsın?");
const QString kNoTarget = QStringLiteral("YEDEKLEME HEDEFİ SEÇİN");
const QString kErrorTitle = QStringLiteral("HATA");
const QString kFinished =
    QStringLiteral("YEDEK ALMA İŞLEMİ TAMAMLANDI.") + QChar(u'\r') +
    QStringLiteral("SAĞLIKLI BİR KULLANIM İÇİN PROGRAMINIZI TEKRAR BAŞLATIN.");

QString twoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

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

// The separator the target is spelled with: a Windows target written with
// '/' (as Qt writes paths) keeps it, so no path has both; otherwise the system's.
QChar separatorIn(const QString& target) {
    return target.contains(u'/') && !target.contains(u'\\') ? QChar(u'/') : QDir::separator();
}

} // namespace

// The archives the history lists, which no backup packs wherever they lie.
QStringList listedArchives(const std::optional<store::History>& history) {
    QStringList archives;
    for (std::size_t i = 0; history && i < history->size(); ++i) {
        archives.append(history->archivePath(i));
    }
    return archives;
}

store::HistoryRecord backupRecord(const Moment& started, const QString& datedFolder,
                                  const QString& archivePath) {
    return {storableDate(started), storableTime(started),
            datedFolder + separatorIn(datedFolder) + QFileInfo(archivePath).fileName()};
}

BackupNames backupNames(const QString& target, const Moment& moment) {
    BackupNames names;
    names.dateText = storableDate(moment);
    const QChar separator = separatorIn(target);
    names.datedFolder = target + separator + names.dateText;
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
    names.archivePath = names.datedFolder + separator + names.archiveName;
    return names;
}

void BackupJob::chooseTarget() {
    const QString stored = folderIfPresent(p_.view.targetText());
    const QString chosen =
        p_.archiver.BrowseForFolder(kChoosePrompt, stored.isEmpty() ? QDir::homePath() : stored);
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

bool BackupJob::run() {
    const QString target = p_.view.targetText();
    if (target.isEmpty()) {
        p_.dialogs.inform(kNoTarget, kErrorTitle, MessageIcon::Error);
        return false;
    }
    if (const QString refusal = absentDiskRefusal(target); !refusal.isEmpty()) {
        p_.dialogs.inform(QStringLiteral("YEDEK ALINMADI. ") + refusal, kErrorTitle,
                          MessageIcon::Error);
        return false;
    }
    // A target that is not there fails before the progress window opens.
    p_.state.job = RunningJob::Backup;
    fs::requireFolder(fs::toSystemPath(target), QStringLiteral("Yedekleme klasörüne ulaşılamadı"));
    // One reading of the clock names the archive, dates its origin and its
    // record: across a second or midnight, readings apart would disagree.
    started_ = p_.clock.now();
    const BackupNames names = backupNames(target, started_);
    p_.state.archiveName = names.archiveName;
    p_.archiver.Compress(
        archive::backupCommand(p_.programFolder, names.datedFolder, names.archiveName),
        listedArchives(p_.history.load()), started_.seconds);

    running_.start();
    // Recorded only once the archive is complete and named: the history never
    // lists an archive that a failure, a stop or a kill left unfinished.
    datedFolder_ = names.datedFolder;
    p_.dialogs.showProgress();
    return true;
}

void BackupJob::appendRecordOrRemove(const QString& archivePath) {
    if (recorded_.exchange(true)) {
        return; // the other way of finishing came first
    }
    recordOrRemove(p_.history, record_, archivePath);
}

void recordOrRemove(const store::HistoryFile& history, const store::HistoryRecord& record,
                    const QString& archivePath) {
    try {
        history.append(record);
    } catch (const Failure& failure) {
        // An archive the history does not list is one nobody sees, restores
        // from or keeps in check: a backup is its archive and its record.
        QString description = failure.description();
        try {
            fs::removeFile(fs::toSystemPath(archivePath),
                           QStringLiteral("Kaydı yazılamayan yedek silinemedi"));
            description += QStringLiteral(" Yedek alınmadı.");
        } catch (const Failure& removal) {
            description += QStringLiteral(" %1").arg(removal.description());
        }
        throw Failure(failure.code(), description);
    }
}

void BackupJob::recordWithoutTheWindow(const QString& archivePath) {
    record_ = backupRecord(started_, datedFolder_, archivePath);
    appendRecordOrRemove(archivePath);
    p_.dialogs.note(QStringLiteral("yedek alındı ve kaydedildi: %1 (eski yedekler bu sefer "
                                   "silinmedi)")
                        .arg(record_.archivePath));
}

void BackupJob::finish(const QString& archivePath, int entryCount, qint64 archiveSize,
                       qint64 checkMilliseconds) {
    // The name the archive got (the next free one if another run took the
    // first), in the dated folder as the target spells it.
    record_ = backupRecord(started_, datedFolder_, archivePath);
    appendRecordOrRemove(archivePath);
    loadHistory(p_.history, p_.view);
    if (p_.commandLine.isUnattended() || p_.state.stopRequested) {
        const auto seconds = [](qint64 ms) { return static_cast<double>(ms) / 1000.0; };
        p_.dialogs.note(
            QStringLiteral("yedek alındı: %1 (%2, %3 girdi, %4 saniye, denetimi %5 saniye)")
                .arg(record_.archivePath, megabytes(static_cast<std::uint64_t>(archiveSize)))
                .arg(entryCount)
                .arg(seconds(running_.elapsed()), 0, 'f', 2)
                .arg(seconds(checkMilliseconds), 0, 'f', 2));
        if (const auto count = p_.commandLine.archivesToKeep();
            count && p_.commandLine.isUnattended() && !keepNewest(*count)) {
            p_.close.run(ExitStatus::RetentionIncomplete);
            return;
        }
    } else {
        p_.dialogs.inform(kFinished, QString(), MessageIcon::Information);
    }
    p_.close.run(p_.commandLine.isUnattended() && p_.state.optionIgnored ? ExitStatus::OptionIgnored
                                                                         : ExitStatus::Normal);
}

// The backup is taken and recorded whatever retention comes to: what it could
// not do is said, and ends the run with a status of its own, never as a
// failed backup.
bool BackupJob::keepNewest(int count) {
    const QString target = p_.view.targetText();
    bool complete = false;
    p_.state.keepingNewest = true;
    try {
        runAside([&] {
            complete = Retention(p_.history, p_.dialogs, p_.programFolder)
                           .keepNewest(count, target, record_.archivePath, p_.clock.now().seconds);
        });
    } catch (const Failure& failure) {
        p_.dialogs.note(QStringLiteral("yedek alındı, ama eski yedekler silinemedi: hata %1: %2")
                            .arg(failure.number())
                            .arg(failure.description()));
    }
    p_.state.keepingNewest = false;
    return complete;
}

} // namespace kavlento::app
