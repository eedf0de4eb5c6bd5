#pragma once

#include <QByteArray>
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

// The backup history as read from its file: the file's bytes, and where each
// complete record's three fields lie in them. Texts are decoded only when
// asked for, so a history of a million records costs about twice its file's
// size in memory.
class History {
public:
    // The complete records of `bytes` in file order; a record cut short (fewer
    // than three complete fields) is left out, and listed by unreadLines().
    static History parse(QByteArray bytes);

    // A line that holds something, but no record.
    struct UnreadLine {
        std::size_t number = 0; // from 1
        QString text;
    };
    std::vector<UnreadLine> unreadLines() const;

    std::size_t size() const { return records_.size(); }
    // Field 0 (date), 1 (time) or 2 (archive path) of a record.
    QString field(std::size_t record, int column) const;
    QString archivePath(std::size_t record) const { return field(record, 2); }
    HistoryRecord record(std::size_t index) const;

private:
    struct Span {
        std::uint32_t start = 0;
        std::uint32_t length = 0;
    };

    QByteArray bytes_;
    std::vector<std::array<Span, 3>> records_;
    std::vector<std::pair<std::size_t, Span>> unread_; // line number, where it lies
};

} // namespace kavlento::store
