#include "app/SingleInstance.h"

#include "base/Failure.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kavlento::app {

SingleInstance::SingleInstance(const QString& programFolder)
    : lock_(std::make_unique<QLockFile>(lockPathFor(programFolder))) {
    // Only a lock whose process has gone is stale, however long a backup runs.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::runtimeFolder() {
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        return runtime;
    }
    const QString own = QDir::temp().filePath(QStringLiteral("kavlento-%1").arg(::getuid()));
    const QByteArray path = QFile::encodeName(own);
    ::mkdir(path.constData(), 0700);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        throw Failure(FailureCode::PermissionDenied,
                      QStringLiteral("Çalışma klasörü kullanılamıyor: %1").arg(own));
    }
    return own;
#else
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
#endif
}

QString SingleInstance::lockPathFor(const QString& programFolder) {
    const QString folder = runtimeFolder();
    const QByteArray hash = QCryptographicHash::hash(QDir(programFolder).canonicalPath().toUtf8(),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(24);
    return QDir(folder).filePath(QStringLiteral("kavlento-%1.lock").arg(QLatin1String(hash)));
}

bool SingleInstance::acquire() {
    if (lock_->tryLock(0)) {
        return true;
    }
    if (lock_->error() == QLockFile::LockFailedError) {
        return false;
    }
    throw Failure(FailureCode::PermissionDenied,
                  QStringLiteral("Çalışma kilidi oluşturulamadı: %1")
                      .arg(QDir::toNativeSeparators(lock_->fileName())));
}

} // namespace kavlento::app
