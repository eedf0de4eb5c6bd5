#include "app/BackupJob.h"

#include "app/HistoryList.h"
#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "fs/File.h"
#include "fs/FolderScanner.h"
#include "store/Codepage.h"

#include <QDir>

namespace kavlento::app {

namespace {

const QString kChoosePrompt = QStringLiteral("Nereye Yedek Alınsın?");
const QString kNoTarget = QStringLiteral("YEDEKLEME HEDEFİ SEÇİN");
const QString kErrorTitle = QStringLiteral("HATA");
const QString kFinished =
    QStringLiteral("YEDEK ALMA İŞLEMİ TAMAMLANDI.") + QChar(u'\r') +
    QStringLiteral("SAĞLIKLI BİR KULLANIM İÇİN PROGRAMINIZI TEKRAR BAŞLATIN.");

void createFolderIfAbsent(const QString& folder) {
    // Anything of that name counts, a file too; only this one level is made.
    const std::string path = fs::toSystemPath(folder);
    if (fs::lookUpFollowing(path).kind != fs::PathKind::Missing) {
        return;
    }
    fs::makeFolder(path, 0777, QStringLiteral("Yedekleme klasörü oluşturulamadı"));
}

} // namespace

QString folderSafeDate(const QString& dateText) {
    return QString(dateText).replace(QLatin1Char('/'), QLatin1Char('-'));
}

BackupNames backupNames(const QString& target, const Moment& moment) {
    BackupNames names;
    names.dateText = folderSafeDate(moment.dateText);
    names.datedFolder = target + QDir::separator() + names.dateText;
    names.archiveName = QStringLiteral("%1%2%3.%4%5%6.ksd")
                            .arg(moment.day)
                            .arg(moment.month)
                            .arg(moment.year)
                            .arg(moment.hour)
                            .arg(moment.minute)
                            .arg(moment.second);
    names.archivePath = names.datedFolder + QDir::separator() + names.archiveName;
    return names;
}

QStringList foldersNotToPack(const QString& programFolder, const QString& target) {
    const std::string program = fs::toSystemPath(programFolder);
    const std::string chosen = fs::toSystemPath(target);
    // A target that holds the program folder, or is it, cannot be left out whole.
    if (fs::isSameOrInside(chosen, program) && !fs::isSameOrInside(program, chosen)) {
        return {target};
    }
    return {};
}

QString targetRefusal(const QString& folder) {
    if (!archive::fitsCommandValue(folder)) {
        return QStringLiteral("SEÇTİĞİNİZ KLASÖRÜN YOLUNDA '>' İŞARETİ VAR, BU KLASÖRE YEDEK "
                              "ALINAMAZ. LÜTFEN BAŞKA BİR KLASÖR SEÇİN.");
    }
    if (folder.contains(QLatin1Char('"')) || folder.contains(QLatin1Char('\r')) ||
        folder.contains(QLatin1Char('\n'))) {
        return QStringLiteral("SEÇTİĞİNİZ KLASÖRÜN YOLUNDA KAYDEDİLEMEYEN İŞARETLER VAR (TIRNAK "
                              "YA DA SATIR SONU). LÜTFEN BAŞKA BİR KLASÖR SEÇİN.");
    }
    if (!store::fitsWindows1254(folder)) {
        return QStringLiteral("SEÇTİĞİNİZ KLASÖRÜN YOLUNDA KAYDEDİLEMEYEN HARFLER VAR. LÜTFEN "
                              "YOLUNDA YALNIZCA TÜRKÇE VE LATİN HARFLERİ OLAN BİR KLASÖR SEÇİN.");
    }
    return QString();
}

void BackupJob::chooseTarget() {
    const QString chosen = p_.zip.BrowseForFolder(kChoosePrompt, QString());
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
    createFolderIfAbsent(names.datedFolder);
    p_.state.archiveName = names.archiveName;
    p_.state.job = RunningJob::Backup;
    p_.zip.Compress(
        archive::buildCompressCommand(p_.programFolder, names.datedFolder, p_.state.archiveName),
        foldersNotToPack(p_.programFolder, target));

    const Moment recorded = p_.clock.now();
    p_.history.append({folderSafeDate(recorded.dateText), recorded.timeText, names.archivePath});
    loadHistory(p_.history, p_.view);
    p_.dialogs.showProgress();
}

void BackupJob::finish() {
    if (!p_.commandLine.isUnattended()) {
        p_.dialogs.inform(kFinished, QString(), MessageIcon::Information);
    }
    p_.close.run();
}

} // namespace kavlento::app
