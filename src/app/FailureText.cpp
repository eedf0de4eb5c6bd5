#include "app/FailureText.h"

#include "fs/File.h"

#include <QDir>

#include <cerrno>

namespace kavlento::app {

namespace {

const QString kNewLine = QStringLiteral("\r");
const QString kChooseAnother =
    QStringLiteral("ya da ana penceredeki GÖZAT... düğmesiyle başka bir klasör seçin.");
const QString kNothingChanged = QStringLiteral("Program klasöründe hiçbir şey değiştirilmedi.");

bool isThere(const QString& path, fs::PathKind kind) {
    try {
        return fs::lookUpFollowing(fs::toSystemPath(path)).kind == kind;
    } catch (const Failure&) {
        return false; // a folder on the way cannot be looked into
    }
}

QString backupText(const Failure& failure, const QString& target) {
    const QString shown = QDir::toNativeSeparators(target);
    const FailureCode code = failure.code();
    const bool notFound = code == FailureCode::PathNotFound || code == FailureCode::FileNotFound ||
                          code == FailureCode::DeviceIoError || code == FailureCode::PathFileAccess;
    if (notFound && !isThere(target, fs::PathKind::Folder)) {
        return QStringLiteral("Yedek alınamadı: yedekleme klasörü (%1) bulunamıyor.").arg(shown) +
               kNewLine + QStringLiteral("Yedekleme diski takılı değilse takıp yeniden deneyin ") +
               kChooseAnother;
    }
    switch (code) {
    case FailureCode::DiskFull:
        return QStringLiteral("Yedek alınamadı: yedekleme klasörünün (%1) bulunduğu diskte yer "
                              "kalmadı.")
                   .arg(shown) +
               kNewLine +
               QStringLiteral("Diskte yer açıp yeniden deneyin ya da ana penceredeki GÖZAT... "
                              "düğmesiyle boş yeri olan başka bir disk seçin. Yarım yedek "
                              "bırakılmadı.");
    case FailureCode::DeviceIoError:
        return QStringLiteral("Yedek alınamadı: yedekleme diskine (%1) ulaşılırken aygıt hatası "
                              "oluştu.")
                   .arg(shown) +
               kNewLine +
               QStringLiteral("Disk çıkarılmış ya da arızalı olabilir: diski yeniden takıp "
                              "deneyin ") +
               kChooseAnother;
    case FailureCode::PermissionDenied:
        switch (fs::creationRefusal(fs::toSystemPath(target))) {
        case EROFS:
            return QStringLiteral("Yedek alınamadı: yedekleme diski (%1) yalnızca okunabilir.")
                       .arg(shown) +
                   kNewLine + QStringLiteral("Diskin yazma korumasını kaldırıp yeniden deneyin ") +
                   kChooseAnother;
        case EACCES:
        case EPERM:
            return QStringLiteral("Yedek alınamadı: yedekleme klasörüne (%1) yazma izniniz yok.")
                       .arg(shown) +
                   kNewLine + QStringLiteral("Klasörün izinlerini yöneticinize düzelttirin ") +
                   kChooseAnother;
        default:
            break; // the target takes files: the file is elsewhere, and named below
        }
        return QStringLiteral("Yedek alınamadı: bir dosyaya erişim izni yok.") + kNewLine +
               failure.description() + kNewLine +
               QStringLiteral("Dosyayı kullanan programı kapatıp yeniden deneyin; olmazsa "
                              "izinleri yöneticinize düzelttirin.");
    default:
        return QStringLiteral("Yedek alınamadı.") + kNewLine + failure.description();
    }
}

QString restoreText(const Failure& failure, const QString& archive) {
    const QString shown = QDir::toNativeSeparators(archive);
    switch (failure.code()) {
    case FailureCode::InvalidArchive:
    case FailureCode::WrongPassword:
    case FailureCode::UnsafeArchive:
    case FailureCode::InputPastEnd:
        return QStringLiteral("Yedek geri yüklenemedi: seçilen dosya (%1) bozuk ya da bir "
                              "Kavlento yedeği değil.")
                   .arg(shown) +
               kNewLine + kNothingChanged + QStringLiteral(" Başka bir yedek seçin.") + kNewLine +
               QStringLiteral("Ayrıntı: ") + failure.description();
    case FailureCode::FileNotFound:
    case FailureCode::PathNotFound:
    case FailureCode::DeviceIoError:
        if (isThere(archive, fs::PathKind::File)) {
            break;
        }
        return QStringLiteral("Yedek geri yüklenemedi: yedek dosyasına (%1) ulaşılamıyor.")
                   .arg(shown) +
               kNewLine + kNothingChanged +
               QStringLiteral(" Dosya silinmiş ya da diski çıkarılmış olabilir: diski takıp "
                              "yeniden deneyin.");
    case FailureCode::DiskFull:
        return QStringLiteral("Yedek geri yüklenemedi: program klasörünün bulunduğu diskte yer "
                              "kalmadı.") +
               kNewLine + kNothingChanged + QStringLiteral(" Diskte yer açıp yeniden deneyin.");
    case FailureCode::PermissionDenied:
        return QStringLiteral("Yedek geri yüklenemedi: %1")
                   .arg(fs::readingRefusal(fs::toSystemPath(archive)) != 0
                            ? QStringLiteral("yedek dosyasını (%1) okuma izniniz yok.").arg(shown)
                            : QStringLiteral("program klasörüne yazılamıyor (izin yok ya da "
                                             "disk yalnızca okunabilir).")) +
               kNewLine + kNothingChanged +
               QStringLiteral(" İzinleri yöneticinize düzelttirip yeniden deneyin.") + kNewLine +
               QStringLiteral("Ayrıntı: ") + failure.description();
    default:
        break;
    }
    return QStringLiteral("Yedek geri yüklenemedi.") + kNewLine + failure.description();
}

} // namespace

QString plainDescription(const Failure& failure, const FailureScene& scene) {
    switch (scene.job) {
    case RunningJob::Backup:
        return backupText(failure, scene.target);
    case RunningJob::Restore:
        return restoreText(failure, scene.archive);
    case RunningJob::None:
        break;
    }
    return failure.description();
}

} // namespace kavlento::app
