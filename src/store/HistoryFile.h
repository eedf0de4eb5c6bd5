#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace kavlento::store {

struct HistoryRecord {
    QString date;
    QString time;
    QString archivePath;

    bool operator==(const HistoryRecord& other) const {
        return date == other.date && time == other.time && archivePath == other.archivePath;
    }
};

// The backup history `yedekleme.lst` in the program folder: one line per backup,
// oldest first, three quoted fields in Windows-1254, ended by CR LF.
class HistoryFile {
public:
    explicit HistoryFile(const QString& programFolder);

    void append(const HistoryRecord& record) const;

    // The complete records in file order, or nothing when the file is absent. A
    // record cut short (fewer than three complete fields) is left out.
    std::optional<QList<HistoryRecord>> load() const;

    // Removes every record of `archivePath`, keeping the others in order, by
    // writing them to `yedek.yedek` and renaming that over the history in one
    // step. Returns false, creating nothing, when the history file is absent.
    bool removeArchive(const QString& archivePath) const;

    const QString& path() const { return path_; }

    // Whether two archive paths name the same archive: exact where the file
    // system tells letter case apart, ignoring case where it does not.
    static bool sameArchive(const QString& a, const QString& b);

    static QList<HistoryRecord> parse(QByteArrayView bytes);
    static QByteArray format(const HistoryRecord& record);

private:
    QString path_;
    QString tempPath_;
};

} // namespace kavlento::store
