#include "store/HistoryFile.h"

#include "fs/SmallFile.h"
#include "store/Codepage.h"
#include "store/DelimitedText.h"

#include <QDir>

namespace kavlento::store {

HistoryFile::HistoryFile(const QString& programFolder)
    : path_(QDir(programFolder).filePath(QStringLiteral("yedekleme.lst"))),
      tempPath_(QDir(programFolder).filePath(QStringLiteral("yedek.yedek"))) {}

void HistoryFile::append(const HistoryRecord& record) const {
    fs::appendLine(path_, format(record));
}

std::optional<QList<HistoryRecord>> HistoryFile::load() const {
    if (!fs::isRegularFile(path_)) {
        return std::nullopt;
    }
    return parse(fs::readWholeFile(path_));
}

bool HistoryFile::removeArchive(const QString& archivePath) const {
    if (!fs::isRegularFile(path_)) {
        return false;
    }
    QByteArray kept;
    for (const HistoryRecord& record : parse(fs::readWholeFile(path_))) {
        if (!sameArchive(record.archivePath, archivePath)) {
            kept += format(record);
        }
    }
    fs::replaceFile(tempPath_, path_, kept);
    return true;
}

bool HistoryFile::sameArchive(const QString& a, const QString& b) {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return a.compare(b, Qt::CaseInsensitive) == 0;
#else
    return a == b;
#endif
}

QList<HistoryRecord> HistoryFile::parse(QByteArrayView bytes) {
    QList<HistoryRecord> records;
    for (const QByteArrayView line : splitLines(bytes)) {
        const QList<TextField> fields = splitFields(line);
        if (fields.size() < 3 || !fields[0].complete || !fields[1].complete ||
            !fields[2].complete) {
            continue;
        }
        records.append({fromWindows1254(fields[0].bytes), fromWindows1254(fields[1].bytes),
                        fromWindows1254(fields[2].bytes)});
    }
    return records;
}

QByteArray HistoryFile::format(const HistoryRecord& record) {
    return quotedLine({toWindows1254(record.date), toWindows1254(record.time),
                       toWindows1254(record.archivePath)});
}

} // namespace kavlento::store
