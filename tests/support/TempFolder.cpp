#include "support/TempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <stdexcept>

namespace kavlento::testing {

TempFolder::TempFolder() : dir_(QDir::tempPath() + QStringLiteral("/kavlento-test-XXXXXX")) {
    if (!dir_.isValid()) {
        throw std::runtime_error("cannot create a temporary folder");
    }
}

TempFolder::~TempFolder() {
    const QString path = dir_.path();
    if (!dir_.remove()) {
        QProcess::execute(QStringLiteral("rm"),
                          {QStringLiteral("-rf"), QStringLiteral("--"), path});
    }
}

QString TempFolder::file(const QString& relative) const {
    return dir_.filePath(relative);
}

void TempFolder::write(const QString& relative, const QByteArray& bytes) const {
    writeBytes(file(relative), bytes);
}

QByteArray TempFolder::read(const QString& relative) const {
    return readBytes(file(relative));
}

bool TempFolder::exists(const QString& relative) const {
    return QFileInfo::exists(file(relative));
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
    return f.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}

} // namespace kavlento::testing
