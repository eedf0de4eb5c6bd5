#include "store/HistoryFile.h"

#include "fs/SmallFile.h"
#include "store/Codepage.h"
#include "store/DelimitedText.h"

#include <QDir>
#include <QLocale>
#include <QSet>

namespace kavlento::store {

HistoryFile::HistoryFile(const QString& programFolder)
    : path_(QDir(programFolder).filePath(QStringLiteral("yedekleme.lst"))),
      tempPath_(QDir(programFolder).filePath(QStringLiteral("yedek.yedek"))) {}

void HistoryFile::append(const HistoryRecord& record) const {
    fs::appendLine(path_, tempPath_, format(record));
}

std::optional<History> HistoryFile::load() const {
    // A piece at a time: a damaged history may be far larger than its records.
    constexpr std::size_t kPieceSize = 256 * 1024;
    HistoryReader reader;
    if (!fs::readOwnFileInPieces(path_, kPieceSize,
                                 [&](QByteArrayView piece) { reader.read(piece); })) {
        return std::nullopt;
    }
    return reader.finish();
}

bool HistoryFile::removeArchive(const QString& archivePath) const {
    return rewriteKeeping([&](std::size_t i, const History& history) {
        return !sameArchive(history.archivePath(i), archivePath);
    });
}

bool HistoryFile::removeArchives(const QStringList& archivePaths) const {
    // A set: retention may name thousands of records of a history of thousands.
    const QSet<QString> removed(archivePaths.begin(), archivePaths.end());
    return rewriteKeeping([&](std::size_t i, const History& history) {
        return !removed.contains(history.archivePath(i));
    });
}

bool HistoryFile::rewriteKeeping(
    const std::function<bool(std::size_t, const History&)>& keep) const {
    const std::optional<History> history = load();
    if (!history) {
        return false;
    }
    QByteArray kept;
    for (std::size_t i = 0; i < history->size(); ++i) {
        if (keep(i, *history)) {
            kept += format(history->record(i));
        }
    }
    fs::replaceFile(tempPath_, path_, kept);
    return true;
}

bool HistoryFile::sameArchive(const QString& a, const QString& b) {
    // Turkish letter case pairs i with İ; the rest of the world pairs i with I.
    static const QLocale turkish(QLocale::Turkish, QLocale::Turkey);
    return a.toUpper() == b.toUpper() || turkish.toUpper(a) == turkish.toUpper(b);
}

QByteArray HistoryFile::format(const HistoryRecord& record) {
    return quotedLine({toWindows1254(record.date), toWindows1254(record.time),
                       toWindows1254(record.archivePath)});
}

} // namespace kavlento::store
