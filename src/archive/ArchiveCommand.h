#pragma once

#include <QString>

namespace kavlento::archive {

// Commands to the archive component are one text each: a run of items
// "<key>" or "<key=value>" with nothing between them; a value runs to the
// next ">", unquoted and unescaped.

// The fixed password of every backup archive.
inline const QString kArchivePassword = QStringLiteral("6150937284");

struct CompressCommand {
    QString password;
    bool recurse = false;       // include sub-folders
    bool includeHidden = false; // include hidden files and folders
    int level = 6;              // deflate level, 0 to 9
    QString sourceFolder;
    QString destinationFolder;
    QString archiveFileName;
};

struct ExtractCommand {
    QString archivePath;
    QString password; // empty for archives without encryption
    QString destinationFolder;
};

// Both throw Failure(InvalidCommand) for an unknown, repeated or missing key, a
// value where none belongs (or none where one does), or anything outside items.
CompressCommand parseCompressCommand(const QString& command);
ExtractCommand parseExtractCommand(const QString& command);

// The commands of a backup and of a restore. A text that the grammar cannot
// carry (one with ">") is refused with Failure(InvalidCommand).
QString buildCompressCommand(const QString& sourceFolder, const QString& destinationFolder,
                             const QString& archiveFileName);
// The destination is `destinationFolder` followed by exactly one separator.
QString buildExtractCommand(const QString& archivePath, const QString& destinationFolder);

// Whether the grammar can carry `value` as the value of an item.
bool fitsCommandValue(const QString& value);

} // namespace kavlento::archive
