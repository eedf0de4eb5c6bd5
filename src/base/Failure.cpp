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

// What the user is told of a system error (an errno value): the failure's
// number and a short Turkish text.
struct SystemError {
    int error;
    FailureCode code;
    const char* text;
};

constexpr SystemError kSystemErrors[] = {
    {0, FailureCode::PathFileAccess, "bilinmeyen hata"},
    {ENOENT, FailureCode::PathNotFound, "dosya ya da klasör bulunamadı"},
    {EACCES, FailureCode::PermissionDenied, "erişim izni yok"},
    {EPERM, FailureCode::PermissionDenied, "erişim izni yok"},
    {EROFS, FailureCode::PermissionDenied, "disk yalnızca okunabilir"},
    {ENOSPC, FailureCode::DiskFull, "diskte yer kalmadı"},
// EDQUOT and ESTALE are not in MinGW's errno.h: on Windows a full quota is
// told as a full disk (ENOSPC), a lost network share as ENOTCONN.
#ifdef EDQUOT
    {EDQUOT, FailureCode::DiskFull, "disk kotası doldu"},
#endif
    {EFBIG, FailureCode::DiskFull, "dosya izin verilen boyutu aşıyor"},
    {EIO, FailureCode::DeviceIoError, "aygıt okuma/yazma hatası"},
    {ENOTDIR, FailureCode::PathFileAccess, "yolun bir parçası klasör değil"},
    {EISDIR, FailureCode::PathFileAccess, "bu bir klasör"},
    {ENAMETOOLONG, FailureCode::BadFileName, "dosya adı çok uzun"},
    {EILSEQ, FailureCode::BadFileName, nullptr}, // said by its number
    {ENOMEM, FailureCode::OutOfMemory, "bellek yetersiz"},
    {EBUSY, FailureCode::PathFileAccess, "dosya kullanımda"},
    {ETXTBSY, FailureCode::PathFileAccess, "dosya kullanımda"},
    {EEXIST, FailureCode::PathFileAccess, "bu adla bir dosya zaten var"},
    {EXDEV, FailureCode::PathFileAccess, "dosya başka bir diske taşınamıyor"},
    {ENOTEMPTY, FailureCode::PathFileAccess, "klasör boş değil"},
    {ELOOP, FailureCode::PathFileAccess,
     "yolda bir bağlantı var ya da bağlantılar döngü oluşturuyor"},
    {EMFILE, FailureCode::PathFileAccess, "açık dosya sayısı sınırına ulaşıldı"},
    {ENFILE, FailureCode::PathFileAccess, "açık dosya sayısı sınırına ulaşıldı"},
    {EAGAIN, FailureCode::PathFileAccess,
     "kaynak şu anda kullanılamıyor, daha sonra tekrar deneyin"},
    {ETIMEDOUT, FailureCode::PathFileAccess, "bağlantı zaman aşımına uğradı"},
    {EOPNOTSUPP, FailureCode::PathFileAccess, "bu işlem bu disk türünde yapılamıyor"},
    {ENOSYS, FailureCode::PathFileAccess, "bu işlem bu disk türünde yapılamıyor"},
    {EINVAL, FailureCode::PathFileAccess, "geçersiz değer ya da işlem"},
    {ENODEV, FailureCode::PathFileAccess, "aygıt bulunamadı (disk çıkarılmış olabilir)"},
    {ENXIO, FailureCode::PathFileAccess, "aygıt bulunamadı (disk çıkarılmış olabilir)"},
#ifdef ESTALE
    {ESTALE, FailureCode::PathFileAccess, "ağ ya da disk bağlantısı koptu"},
#endif
    {ENOTCONN, FailureCode::PathFileAccess, "ağ ya da disk bağlantısı koptu"},
    {EINTR, FailureCode::PathFileAccess, "işlem yarıda kesildi"},
    {ENOLCK, FailureCode::PathFileAccess, "kilit alınamadı"},
    {EBADF, FailureCode::PathFileAccess, "dosya kullanılamıyor"},
};

const SystemError* findSystemError(int error) {
    for (const SystemError& known : kSystemErrors) {
        if (known.error == error) {
            return &known;
        }
    }
    return nullptr;
}

} // namespace

QString describeSystemError(int error) {
    const SystemError* known = findSystemError(error);
    if (known != nullptr && known->text != nullptr) {
        return QString::fromUtf8(known->text);
    }
    // Every other case in Turkish too; its number tells an expert the rest.
    return QStringLiteral("sistem hatası %1").arg(error);
}

Failure systemFailure(int error, const QString& action, const QString& path) {
    const SystemError* known = findSystemError(error);
    return Failure(known != nullptr ? known->code : FailureCode::PathFileAccess,
                   QStringLiteral("%1: %2 (%3)")
                       .arg(action, shortened(QDir::toNativeSeparators(path), kLongestQuote),
                            describeSystemError(error)));
}

} // namespace kavlento
