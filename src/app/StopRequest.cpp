#include "app/StopRequest.h"

#include "archive/ArchiveComponent.h"
#include "base/Failure.h"

namespace kavlento::app {

namespace {
const QString kBackupStopped =
    QStringLiteral("Yedek alma bir durdurma isteğiyle (%1) yarıda kesildi; %2, geçmişe kayıt "
                   "yazılmadı. Yedek alınmadı.");
const QString kNothingLeft = QStringLiteral("yarım kalan bir yedek dosyası bırakılmadı");
const QString kLeftBehind = QStringLiteral(
    "yarım kalan yedek dosyası silinemedi (%1; buraya alınacak bir sonraki yedek onu siler)");
const QString kRestoreStopped =
    QStringLiteral("Geri yükleme bir durdurma isteğiyle (%1) kesildi; program klasöründe hiçbir "
                   "şey değiştirilmedi.");
const QString kRetentionStopped =
    QStringLiteral("yedek alındı, ama eski yedeklerin silinmesi bir durdurma isteğiyle (%1) "
                   "yarıda kesildi");
} // namespace

void StopRequest::stop(const QString& signalName) {
    if (p_.state.keepingNewest) {
        // The backup is recorded; only the deleting of old ones is cut short.
        p_.dialogs.note(kRetentionStopped.arg(signalName));
        p_.close.run(ExitStatus::RetentionIncomplete);
        return;
    }
    switch (p_.archiver.stop()) {
    case archive::ArchiveComponent::Stop::Stopped: {
        if (p_.state.job == RunningJob::Restore) {
            throw Failure(FailureCode::Cancelled, kRestoreStopped.arg(signalName));
        }
        const QString left = p_.archiver.leftBehind();
        throw Failure(
            FailureCode::Cancelled,
            kBackupStopped.arg(signalName, left.isEmpty() ? kNothingLeft : kLeftBehind.arg(left)));
    }
    case archive::ArchiveComponent::Stop::Completed:
        // Too late to stop: the job completes and ends the program as completed.
        p_.state.stopRequested = true;
        p_.archiver.deliverPending();
        if (p_.state.job == RunningJob::Restore) {
            // Its completion has ended the program, or its message waits with
            // the marker written. The folder's setting is now the one the
            // restore kept or brought back, which the window's text predates.
            p_.close.endWithoutStoring();
            return;
        }
        break;
    case archive::ArchiveComponent::Stop::NoJob:
        break;
    }
    p_.close.run();
}

} // namespace kavlento::app
