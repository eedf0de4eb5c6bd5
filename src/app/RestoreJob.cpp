#include "app/RestoreJob.h"

#include "app/HistoryList.h"
#include "app/TargetFolder.h"
#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "fs/SmallFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kavlento::app {

namespace {

const QString kQuestion = QStringLiteral("SEÇİLİ YEDEK GERİ YÜKLENSİN Mİ?");
const QString kNotFound = QStringLiteral("YEDEK DOSYASINA ULAŞILAMIYOR.SİLİNMEDİĞİNDEN EMİN OLUN!");
const QString kUnusableName = QStringLiteral(
    "YEDEK DOSYASININ YOLUNDA '>' İŞARETİ VAR, BU DOSYA GERİ YÜKLENEMEZ. LÜTFEN DOSYAYI "
    "ADINDA '>' OLMAYAN BİR KLASÖRE TAŞIYIP TEKRAR DENEYİN.");
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
    p_.state.restoredArchive = archivePath;
    p_.state.job = RunningJob::Restore;
    p_.zip.Extract(archive::buildExtractCommand(p_.state.restoredArchive, p_.programFolder),
                   programsOwnFiles());
    p_.dialogs.showProgress();
}

// The history tells of this folder's backups and the setting where the next
// one goes, the running program is the one to keep, and the marker is written
// at the end: a restore brings back the data, never another day's or another
// folder's copies of these. A folder that had none of them gets none.
QStringList RestoreJob::programsOwnFiles() const {
    QStringList names{QStringLiteral("yedekleme.lst"), QStringLiteral("yedekleme.dat"),
                      QStringLiteral("prgcik.dat")};
    const QFileInfo running(QCoreApplication::applicationFilePath());
    if (QDir(running.absolutePath()).canonicalPath() == QDir(p_.programFolder).canonicalPath()) {
        names.append(running.fileName());
    }
    return names;
}

void RestoreJob::completionTest() {
    if (p_.state.lastPercent != 100 || p_.state.job != RunningJob::Restore) {
        return;
    }
    if (p_.state.stopRequested) {
        p_.dialogs.note(kCompleted);
    } else {
        p_.dialogs.inform(kCompleted, QString(), MessageIcon::Information);
    }
    fs::writeEmptyFile(QDir(p_.programFolder).filePath(QStringLiteral("prgcik.dat")));
    p_.end.end(ExitStatus::Normal);
}

} // namespace kavlento::app
