#include "app/SingleInstance.h"

#include "app/Failure.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace kavlento {

SingleInstance::SingleInstance(const QString& programFolder)
    : lock_(std::make_unique<QLockFile>(lockPathFor(programFolder))) {
    // Only a lock whose process has gone is stale, however long a backup runs.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPathFor(const QString& programFolder) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
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

} // namespace kavlento
