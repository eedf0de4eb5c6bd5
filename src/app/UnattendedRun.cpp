#include "app/UnattendedRun.h"

namespace kavlento::app {

namespace {
const QString kNoTargetForUnattended =
    QStringLiteral("YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK YEDEKLEME ÇALIŞMAYACAK");
const QString kProgramTitle = QStringLiteral("Kavlento");
const QString kInterrupted =
    QStringLiteral("yedek tamamlanmadan ilerleme penceresi kapatıldı; yedek alınmadı.");
} // namespace

void UnattendedRun::run() {
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

} // namespace kavlento::app
