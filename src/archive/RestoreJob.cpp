#include "archive/RestoreJob.h"

#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "store/FileIO.h"

#include <QDir>

namespace kavlento::archive {

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
    const auto selected = p_.view.selectedHistoryRecord();
    if (!selected) {
        return; // an empty list, or no item selected: nothing to ask about
    }
    if (!p_.dialogs.askYesNo(kQuestion, QString(), MessageIcon::Question)) {
        return;
    }
    YEDEKLEE_BASLA(selected->archivePath);
}

void RestoreJob::restorePicked() {
    const QString picked = p_.dialogs.pickArchiveFile();
    if (picked.isEmpty()) {
        return; // cancelled: nothing is restored, nothing asked
    }
    if (!p_.dialogs.askYesNo(kQuestion, QString(), MessageIcon::Information)) {
        return;
    }
    p_.state.dosyaAdi = picked;
    p_.state.sayac = 0;
    YEDEKLEE_BASLA(p_.state.dosyaAdi);
}

void RestoreJob::YEDEKLEE_BASLA(const QString& archivePath) {
    if (!store::isRegularFile(archivePath)) {
        p_.dialogs.inform(kNotFound, QString(), MessageIcon::Error);
        return;
    }
    if (!fitsCommandValue(archivePath)) {
        p_.dialogs.inform(kUnusableName, QString(), MessageIcon::Error);
        return;
    }
    p_.state.dosyaAdi = archivePath;
    p_.state.jobMode = kJobModeRestore;
    p_.zip.Extract(buildExtractCommand(p_.state.dosyaAdi, p_.programFolder));
    p_.dialogs.showProgress();
}

void RestoreJob::completionTest() {
    if (p_.state.sayac != 100 || p_.state.jobMode != kJobModeRestore) {
        return;
    }
    p_.dialogs.inform(kCompleted, QString(), MessageIcon::Information);
    store::writeEmptyFile(QDir(p_.programFolder).filePath(QStringLiteral("prgcik.dat")));
    p_.end.end(ExitStatus::Normal);
}

} // namespace kavlento::archive
