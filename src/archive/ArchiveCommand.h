#pragma once

#include <QString>

namespace kavlento::archive {

// What the archive component is asked to do. The jobs hand it these values
// themselves, never a text to be parsed again, so that any path the system
// can hold (one with '<', '>' or '=' among them) reaches it as it is.

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

// The backup of a whole folder: sub-folders and hidden files included, at
// level 6, with the fixed password.
CompressCommand backupCommand(const QString& sourceFolder, const QString& destinationFolder,
                              const QString& archiveFileName);
// The restore of a backup archive into a folder.
ExtractCommand restoreCommand(const QString& archivePath, const QString& destinationFolder);

} // namespace kavlento::archive
