#include "store/TargetSetting.h"

#include "fs/SmallFile.h"
#include "store/Codepage.h"
#include "store/DelimitedText.h"

#include <QDir>

namespace kavlento::store {

TargetSetting::TargetSetting(const QString& programFolder)
    : path_(QDir(programFolder).filePath(QStringLiteral("yedekleme.dat"))),
      tempPath_(QDir(programFolder).filePath(QStringLiteral("yedekleme.dat.tmp"))) {}

std::optional<QString> TargetSetting::load() const {
    const std::optional<QByteArray> bytes = fs::readOwnFile(path_);
    if (!bytes) {
        return std::nullopt;
    }
    return decode(*bytes);
}

void TargetSetting::save(const QString& target) const {
    fs::replaceFile(tempPath_, path_, encode(target));
}

QByteArray TargetSetting::encode(const QString& target) {
    return quotedLine({toWindows1254(target)});
}

QString TargetSetting::decode(QByteArrayView bytes) {
    const QList<QByteArrayView> lines = splitLines(bytes);
    if (lines.isEmpty()) {
        return QString();
    }
    const QList<TextField> fields = splitFields(lines.first());
    return fields.isEmpty() ? QString() : fromWindows1254(fields.first().bytes);
}

} // namespace kavlento::store
