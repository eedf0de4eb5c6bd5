#pragma once

#include "store/History.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kavlento::store {

// The backup history `yedekleme.lst` in the program folder: one line per backup,
// oldest first, three quoted fields in Windows-1254, ended by CR LF.
class HistoryFile {
public:
    explicit HistoryFile(const QString& programFolder);

    // Appends a record, reading no more of the file than its last byte.
    void append(const HistoryRecord& record) const;

    // The history, or nothing when the file is absent. A link in its place is
    // not the folder's history: it counts as absent, and the next record
    // replaces it with a file of the folder's own.
    std::optional<History> load() const;

    // Removes every record of `archivePath` (letter case aside), keeping the
    // others in order, by writing them to `yedek.yedek` and renaming that over
    // the history in one step. Returns false, creating nothing, when the
    // history file is absent.
    bool removeArchive(const QString& archivePath) const;
    // Removes every record of the archives at exactly these paths, as files
    // deleted under these very names.
    bool removeArchives(const QStringList& archivePaths) const;

    const QString& path() const { return path_; }

    // Whether two archive paths name the same archive: equal once both are in
    // upper case, by the Turkish case mapping or the general one.
    static bool sameArchive(const QString& a, const QString& b);

    static QByteArray format(const HistoryRecord& record);

private:
    // Rewrites the history through `yedek.yedek` with the records `keep`
    // accepts (index, record); false, creating nothing, when the file is absent.
    bool rewriteKeeping(const std::function<bool(std::size_t, const History&)>& keep) const;

    QString path_;
    QString tempPath_;
};

} // namespace kavlento::store
