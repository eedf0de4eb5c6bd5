#include "archive/ArchiveCommand.h"

namespace kavlento::archive {

CompressCommand backupCommand(const QString& sourceFolder, const QString& destinationFolder,
                              const QString& archiveFileName) {
    CompressCommand command;
    command.password = kArchivePassword;
    command.recurse = true;
    command.includeHidden = true;
    command.level = 6;
    command.sourceFolder = sourceFolder;
    command.destinationFolder = destinationFolder;
    command.archiveFileName = archiveFileName;
    return command;
}

ExtractCommand restoreCommand(const QString& archivePath, const QString& destinationFolder) {
    return {archivePath, kArchivePassword, destinationFolder};
}

} // namespace kavlento::archive
