#include "base/Failure.h"

#include <QDir>

#include <cerrno>

namespace kavlento {

namespace {
// What a message quotes is at most this long: a path read from a damaged
// setting may be megabytes long.
constexpr qsizetype kLongestQuote = 300;
constexpr qsizetype kLongestDescription = 2000;
} // namespace

QString shortened(const QString& text, qsizetype most) {
    if (text.size() <= most) {
        return text;
    }
    return text.left(most - 41) + QStringLiteral("…") + text.right(40);
}

Failure::Failure(FailureCode code, QString description)
    : code_(code), description_(shortened(description, kLongestDescription)),
      utf8_(description_.toStdString()) {}

namespace {

FailureCode codeForError(int error) {
    switch (error) {
    case ENOENT:
        return FailureCode::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return FailureCode::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return FailureCode::DiskFull;
    case EIO:
        return FailureCode::DeviceIoError;
    case ENAMETOOLONG:
    case EILSEQ:
        return FailureCode::BadFileName;
    case ENOMEM:
        return FailureCode::OutOfMemory;
    default:
        return FailureCode::PathFileAccess;
    }
}

} // namespace

QString describeSystemError(int error) {
    switch (error) {
    case 0:
        return QStringLiteral("bilinmeyen hata");
    case ENOENT:
        return QStringLiteral("dosya ya da klasör bulunamadı");
    case EACCES:
    case EPERM:
        return QStringLiteral("erişim izni yok");
    case EROFS:
        return QStringLiteral("disk yalnızca okunabilir");
    case ENOSPC:
        return QStringLiteral("diskte yer kalmadı");
    case EDQUOT:
        return QStringLiteral("disk kotası doldu");
    case EFBIG:
        return QStringLiteral("dosya izin verilen boyutu aşıyor");
    case EIO:
        return QStringLiteral("aygıt okuma/yazma hatası");
    case ENOTDIR:
        return QStringLiteral("yolun bir parçası klasör değil");
    case EISDIR:
        return QStringLiteral("bu bir klasör");
    case ENAMETOOLONG:
        return QStringLiteral("dosya adı çok uzun");
    case ENOMEM:
        return QStringLiteral("bellek yetersiz");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("dosya kullanımda");
    case EEXIST:
        return QStringLiteral("bu adla bir dosya zaten var");
    case EXDEV:
        return QStringLiteral("dosya başka bir diske taşınamıyor");
    case ENOTEMPTY:
        return QStringLiteral("klasör boş değil");
    case ELOOP:
        return QStringLiteral("yolda bir bağlantı var ya da bağlantılar döngü oluşturuyor");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("açık dosya sayısı sınırına ulaşıldı");
    case EAGAIN:
        return QStringLiteral("kaynak şu anda kullanılamıyor, daha sonra tekrar deneyin");
    case ETIMEDOUT:
        return QStringLiteral("bağlantı zaman aşımına uğradı");
    case EOPNOTSUPP:
    case ENOSYS:
        return QStringLiteral("bu işlem bu disk türünde yapılamıyor");
    case EINVAL:
        return QStringLiteral("geçersiz değer ya da işlem");
    case ENODEV:
    case ENXIO:
        return QStringLiteral("aygıt bulunamadı (disk çıkarılmış olabilir)");
    case ESTALE:
    case ENOTCONN:
        return QStringLiteral("ağ ya da disk bağlantısı koptu");
    case EINTR:
        return QStringLiteral("işlem yarıda kesildi");
    case ENOLCK:
        return QStringLiteral("kilit alınamadı");
    case EBADF:
        return QStringLiteral("dosya kullanılamıyor");
    default:
        break;
    }
    // Every other case in Turkish too; its number tells an expert the rest.
    return QStringLiteral("sistem hatası %1").arg(error);
}

Failure systemFailure(int error, const QString& action, const QString& path) {
    return Failure(codeForError(error),
                   QStringLiteral("%1: %2 (%3)")
                       .arg(action, shortened(QDir::toNativeSeparators(path), kLongestQuote),
                            describeSystemError(error)));
}

} // namespace kavlento
