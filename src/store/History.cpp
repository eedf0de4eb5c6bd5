#include "store/History.h"

#include "base/Failure.h"
#include "store/Codepage.h"
#include "store/DelimitedText.h"

#include <algorithm>
#include <limits>

namespace kavlento::store {

namespace {

// What trimming takes away: a line of nothing else holds nothing.
bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

History History::parse(QByteArrayView bytes) {
    HistoryReader reader;
    reader.read(bytes);
    return reader.finish();
}

std::vector<History::UnreadLine> History::unreadLines() const {
    std::vector<UnreadLine> lines;
    for (const Unread& line : unread_) {
        QString text = fromWindows1254(line.start);
        if (line.cut) {
            text += QStringLiteral("…");
        }
        lines.push_back({line.number, text});
    }
    return lines;
}

QString History::field(std::size_t record, int column) const {
    const Record& fields = records_.at(record);
    const auto index = static_cast<std::size_t>(column);
    qsizetype start = fields.start;
    for (std::size_t i = 0; i < index; ++i) {
        start += fields.lengths.at(i);
    }
    return fromWindows1254(QByteArrayView(fields_).sliced(start, fields.lengths.at(index)));
}

HistoryRecord History::record(std::size_t index) const {
    return {field(index, 0), field(index, 1), archivePath(index)};
}

void HistoryReader::read(QByteArrayView piece) {
    const char* next = piece.data();
    const char* const end = next + piece.size();
    if (afterCr_ && next != end) {
        afterCr_ = false;
        if (*next == '\n') {
            ++next; // the rest of a CR LF the last piece ended in
        }
    }
    while (next != end) {
        const char* const lineEnd = std::find_if(next, end, isLineEnd);
        takePart(QByteArrayView(next, lineEnd));
        if (lineEnd == end) {
            return;
        }
        endLine();
        next = lineEnd + 1;
        if (*lineEnd == '\r') {
            if (next == end) {
                afterCr_ = true;
            } else if (*next == '\n') {
                ++next;
            }
        }
    }
}

History HistoryReader::finish() {
    if (lineSize_ > 0) {
        endLine(); // the last line has no line end
    }
    // What is kept is kept for long, without the room it grew in.
    history_.fields_.squeeze();
    history_.records_.shrink_to_fit();
    return std::move(history_);
}

void HistoryReader::takePart(QByteArrayView part) {
    lineSize_ += part.size();
    holdsSomething_ = holdsSomething_ || !std::all_of(part.begin(), part.end(), isSpace);
    line_.append(part.first(std::min(part.size(), kLongestRecordLine - line_.size())));
}

void HistoryReader::endLine() {
    ++lines_;
    if (!keepRecord(line_, lineSize_ == line_.size()) && holdsSomething_) {
        keepUnread(line_, lineSize_);
    }
    line_.resize(0); // keeps its room for the next line
    lineSize_ = 0;
    holdsSomething_ = false;
}

// Keeps the record `line` holds, if any. Where `whole` is false, `line` is
// only the start of the line, and a record counts only when its third field
// ends within it.
bool HistoryReader::keepRecord(QByteArrayView line, bool whole) {
    const QVarLengthArray<FieldSpan, 3> fields = fieldSpans(line, 3);
    if (fields.size() < 3 || !fields[0].complete || !fields[1].complete || !fields[2].complete) {
        return false;
    }
    const FieldSpan& last = fields[2];
    const bool quoted = last.start > 0 && line[last.start - 1] == '"';
    if (!whole && !quoted && line.indexOf(',', last.start) < 0) {
        return false; // it may go on past what was kept
    }
    QByteArray& bytes = history_.fields_;
    if (static_cast<std::uint64_t>(bytes.size() + fields[0].length + fields[1].length +
                                   last.length) > std::numeric_limits<std::uint32_t>::max()) {
        throw Failure(FailureCode::OutOfMemory,
                      QStringLiteral("Yedekleme geçmişi (yedekleme.lst) okunamayacak kadar büyük"));
    }
    History::Record record;
    record.start = static_cast<std::uint32_t>(bytes.size());
    for (qsizetype i = 0; i < 3; ++i) {
        record.lengths[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(fields[i].length);
        bytes.append(line.sliced(fields[i].start, fields[i].length));
    }
    history_.records_.push_back(record);
    return true;
}

void HistoryReader::keepUnread(QByteArrayView start, qsizetype lineSize) {
    ++history_.unreadCount_;
    if (history_.unread_.size() < History::kKeptUnreadLines) {
        history_.unread_.push_back(
            {lines_, start.first(std::min(start.size(), History::kKeptUnreadBytes)).toByteArray(),
             lineSize > History::kKeptUnreadBytes});
    }
}

} // namespace kavlento::store
