#include "base/Failure.h"

#include <QDir>

#include <cerrno>
#include <cstring>

namespace kavlento {

Failure::Failure(FailureCode code, QString description)
    : code_(code), description_(std::move(description)), utf8_(description_.toStdString()) {}

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
    default:
        return QStringLiteral("sistem hatası %1 (%2)")
            .arg(error)
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

Failure systemFailure(int error, const QString& action, const QString& path) {
    return Failure(codeForError(error),
                   QStringLiteral("%1: %2 (%3)")
                       .arg(action, QDir::toNativeSeparators(path), describeSystemError(error)));
}

} // namespace kavlento
