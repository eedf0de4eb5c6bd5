#include "app/Shell.h"

#include "app/BackupJob.h"
#include "app/HistoryList.h"
#include "app/RestoreJob.h"
#include "archive/ArchiveCommand.h"
#include "archive/ArchiveComponent.h"
#include "base/Failure.h"
#include "fs/File.h"
#include "fs/FolderTransaction.h"

#include <QDir>

namespace kavlento::app {

namespace {
const QString kNoTargetForUnattended =
    QStringLiteral("YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK YEDEKLEME ÇALIŞMAYACAK");
const QString kRemoveQuestion = QStringLiteral("Seçmiş Olduğunuz Yedek Birimi Silinsin mi?");
const QString kRemoveTitle = QStringLiteral("UYARI");
const QString kProgramTitle = QStringLiteral("Kavlento");
const QString kErrorTitle = QStringLiteral("HATA");
const QString kAlreadyRunning =
    QStringLiteral("bu klasörde zaten çalışıyor; bu başlatma hiçbir şey yapmadan kapandı (yedek "
                   "alınmadı). Açık kalan Kavlento penceresini kapatıp yeniden deneyin.");
const QString kInterrupted =
    QStringLiteral("yedek tamamlanmadan ilerleme penceresi kapatıldı; yedek alınmadı.");
const QString kUnusableProgramFolder = QStringLiteral(
    "PROGRAM KLASÖRÜNÜN YOLUNDA '>' İŞARETİ VAR; BU KLASÖR YEDEKLENEMEZ VE GERİ YÜKLENEMEZ. "
    "LÜTFEN PROGRAMI YOLUNDA '>' OLMAYAN BİR KLASÖRE TAŞIYIN: %1");
const QString kBackupStopped =
    QStringLiteral("Yedek alma bir durdurma isteğiyle (%1) yarıda kesildi; %2, geçmişe kayıt "
                   "yazılmadı. Yedek alınmadı.");
const QString kNothingLeft = QStringLiteral("yarım kalan bir yedek dosyası bırakılmadı");
const QString kLeftBehind = QStringLiteral(
    "yarım kalan yedek dosyası silinemedi (%1; buraya alınacak bir sonraki yedek onu siler)");
const QString kRestoreStopped =
    QStringLiteral("Geri yükleme bir durdurma isteğiyle (%1) kesildi; program klasöründe hiçbir "
                   "şey değiştirilmedi.");
} // namespace

bool Shell::startUp() {
    if (p_.commandLine.adminCommand() == AdminCommand::Help) {
        p_.output.line(p_.commandLine.help());
        p_.end.end(ExitStatus::Normal);
        return false;
    }
    if (!p_.instance.acquire()) {
        // A start without the launch code stays silent in every case.
        if (p_.commandLine.hasLaunchCode()) {
            p_.dialogs.note(kAlreadyRunning);
        }
        p_.end.end(ExitStatus::AlreadyRunning);
        return false;
    }
    loadHistory(p_.history, p_.view);
    if (const auto target = p_.target.load()) {
        p_.view.setTargetText(*target);
    }
    p_.view.setProgramFolderText(QDir::toNativeSeparators(p_.programFolder).toUpper());

    if (!p_.commandLine.hasLaunchCode()) {
        p_.end.end(ExitStatus::NoLaunchCode); // writes nothing, says nothing
        return false;
    }
    // A restore cut off by a crash is undone before anything else; it never
    // touches the history or the setting read above.
    fs::FolderTransaction::recover(fs::toSystemPath(p_.programFolder));
    if (!archive::fitsCommandValue(p_.programFolder)) {
        // No backup or restore command can carry this folder: say so now,
        // before anything is made.
        p_.dialogs.inform(kUnusableProgramFolder.arg(p_.programFolder), kErrorTitle,
                          MessageIcon::Error);
        p_.end.end(ExitStatus::Failure);
        return false;
    }
    if (const QString warning = p_.commandLine.warning(); !warning.isEmpty()) {
        p_.dialogs.note(warning);
    }
    if (!p_.commandLine.refusal().isEmpty()) {
        p_.output.line(QStringLiteral("Kavlento: %1 Seçenekler: kavlento --yardım")
                           .arg(p_.commandLine.refusal()));
        p_.end.end(ExitStatus::UsageError);
        return false;
    }
    if (p_.commandLine.isUnattended()) {
        runUnattended();
        return false;
    }
    switch (p_.commandLine.adminCommand()) {
    case AdminCommand::StoreTarget: {
        const auto stored = p_.admin.storeTarget(p_.commandLine.targetToStore());
        p_.output.line(QStringLiteral("Kavlento: ") + stored.said);
        p_.end.end(stored.folder ? ExitStatus::Normal : ExitStatus::UsageError);
        return false;
    }
    case AdminCommand::CheckBackups:
        p_.end.end(p_.admin.checkBackups());
        return false;
    case AdminCommand::Status:
        p_.end.end(p_.admin.showStatus(p_.commandLine.daysAllowed()));
        return false;
    case AdminCommand::Help:
    case AdminCommand::None:
        break;
    }
    p_.state.lastPercent = 0;
    return true;
}

void Shell::runUnattended() {
    p_.state.optionIgnored = p_.commandLine.ignoresAnOption();
    if (!p_.commandLine.targetToStore().isEmpty()) {
        // The backup goes to the stored target when the new one is refused.
        const auto stored = p_.admin.storeTarget(p_.commandLine.targetToStore());
        if (stored.folder) {
            p_.view.setTargetText(*stored.folder);
        } else {
            p_.state.optionIgnored = true;
        }
        p_.dialogs.note(stored.folder
                            ? stored.said
                            : QStringLiteral("uyarı: --hedef yok sayıldı: ") + stored.said);
    }
    if (p_.view.targetText().isEmpty()) {
        p_.dialogs.inform(kNoTargetForUnattended, kProgramTitle, MessageIcon::Information);
        p_.end.end(ExitStatus::NoTarget);
        return;
    }
    if (!p_.backup.run()) {
        p_.end.end(ExitStatus::Failure); // it said why
        return;
    }
    // Reached only when the progress window was taken away (nothing in the
    // program closes it) before the backup completed.
    p_.dialogs.note(kInterrupted);
    p_.end.end(ExitStatus::Interrupted);
}

void Shell::unload() {
    p_.target.save(p_.view.targetText());
}

void Shell::stop(const QString& signalName) {
    switch (p_.zip.stop()) {
    case archive::ArchiveComponent::Stop::Stopped: {
        if (p_.state.job == RunningJob::Restore) {
            throw Failure(FailureCode::Cancelled, kRestoreStopped.arg(signalName));
        }
        const QString left = p_.zip.leftBehind();
        throw Failure(
            FailureCode::Cancelled,
            kBackupStopped.arg(signalName, left.isEmpty() ? kNothingLeft : kLeftBehind.arg(left)));
    }
    case archive::ArchiveComponent::Stop::Completed:
        // Too late to stop: the job completes and ends the program as completed.
        p_.state.stopRequested = true;
        p_.zip.deliverPending();
        break;
    case archive::ArchiveComponent::Stop::NoJob:
        break;
    }
    unload();
    p_.end.end(ExitStatus::Normal);
}

void Shell::removeSelectedEntry() {
    const auto selected = selectedEntry(p_.view, p_.dialogs);
    if (!selected) {
        return; // an empty list, or none selected: nothing to ask about
    }
    if (!p_.dialogs.askYesNo(kRemoveQuestion, kRemoveTitle, MessageIcon::Question)) {
        return;
    }
    if (p_.history.removeArchive(selected->archivePath)) {
        loadHistory(p_.history, p_.view);
    }
    p_.view.setEntryButtonsEnabled(false);
}

void Shell::onProgress(int percent) {
    p_.state.lastPercent = percent;
    p_.restore.completionTest();
}

void Shell::onFailed(int number, const QString& description) {
    throw Failure(static_cast<FailureCode>(number), description);
}

} // namespace kavlento::app
