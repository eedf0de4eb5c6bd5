#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace kavlento::store {

struct HistoryRecord {
    QString date;
    QString time;
    QString archivePath;

    bool operator==(const HistoryRecord& other) const {
        return date == other.date && time == other.time && archivePath == other.archivePath;
    }
};

// The backup history as read from its file: the bytes of each complete
// record's three fields, one after another, and where each field lies. Texts
// are decoded only when asked for. Whatever else the file holds costs no
// memory beyond a count and the first few of its lines, so a damaged history
// costs what its records cost, not what its size is.
class History {
public:
    // Lines that hold something but no record are counted; this many of them
    // are kept, and each only up to this many bytes.
    static constexpr std::size_t kKeptUnreadLines = 100;
    static constexpr qsizetype kKeptUnreadBytes = 200;

    // The complete records of `bytes` in file order; a record cut short (fewer
    // than three complete fields) is left out, and listed by unreadLines().
    static History parse(QByteArrayView bytes);

    // A line that holds something, but no record.
    struct UnreadLine {
        std::size_t number = 0; // from 1
        QString text;           // ends in "…" where the line goes on
    };
    // The first kKeptUnreadLines of them; unreadCount() says how many there are.
    std::vector<UnreadLine> unreadLines() const;
    std::size_t unreadCount() const { return unreadCount_; }

    std::size_t size() const { return records_.size(); }
    // Field 0 (date), 1 (time) or 2 (archive path) of a record.
    QString field(std::size_t record, int column) const;
    QString archivePath(std::size_t record) const { return field(record, 2); }
    HistoryRecord record(std::size_t index) const;

private:
    friend class HistoryReader;

    struct Record {
        std::uint32_t start = 0; // of its first field; the others follow it
        std::array<std::uint32_t, 3> lengths{};
    };
    struct Unread {
        std::size_t number = 0;
        QByteArray start; // its first kKeptUnreadBytes
        bool cut = false;
    };

    QByteArray fields_;
    std::vector<Record> records_;
    std::vector<Unread> unread_;
    std::size_t unreadCount_ = 0;
};

// Reads a history from its file's bytes handed over in pieces of any size, cut
// anywhere (inside a record, between CR and LF), holding no more than one line
// of at most kLongestRecordLine bytes besides what it keeps.
class HistoryReader {
public:
    // The three fields of a record lie within this many bytes of its line's
    // start: an archive path longer than any system takes names no archive.
    // Whatever follows them on a longer line is ignored, as on a short one.
    static constexpr qsizetype kLongestRecordLine = 64 * 1024;

    void read(QByteArrayView piece);
    // The history read, after the last piece.
    History finish();

private:
    void takePart(QByteArrayView part);
    void endLine();
    bool keepRecord(QByteArrayView line, bool whole);
    void keepUnread(QByteArrayView start, qsizetype lineSize);

    History history_;
    // The line being read: its start, up to kLongestRecordLine.
    QByteArray line_;
    qsizetype lineSize_ = 0; // all of it so far
    bool holdsSomething_ = false;
    bool afterCr_ = false;  // the last piece ended in CR: an LF first ends no line
    std::size_t lines_ = 0; // ended so far
};

} // namespace kavlento::store
