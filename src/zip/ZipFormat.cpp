#include "zip/ZipFormat.h"

#include "base/Clock.h"

#include <QStringDecoder>

#include <limits>
#include <vector>

namespace kavlento::zip {

bool isUtf8(std::string_view name) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    // The decoder runs only when its result becomes a string.
    const QString decoded =
        decoder(QByteArrayView(name.data(), static_cast<qsizetype>(name.size())));
    return !decoder.hasError();
}

DosTime toDosTime(std::time_t seconds) {
    const std::tm tm = localTime(seconds);
    if (tm.tm_year < 80) {
        return DosTime{0, (1 << 5) | 1}; // 1 January 1980
    }
    if (tm.tm_year > 207) {
        return DosTime{(23 << 11) | (59 << 5) | 29, (127 << 9) | (12 << 5) | 31};
    }
    DosTime dos;
    dos.time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    dos.date =
        static_cast<std::uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    return dos;
}

std::time_t fromDosTime(DosTime dos) {
    std::tm tm{};
    tm.tm_sec = (dos.time & 0x1f) * 2;
    tm.tm_min = (dos.time >> 5) & 0x3f;
    tm.tm_hour = dos.time >> 11;
    tm.tm_mday = dos.date & 0x1f;
    tm.tm_mon = ((dos.date >> 5) & 0x0f) - 1;
    tm.tm_year = (dos.date >> 9) + 80;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

namespace {
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
} // namespace

Timestamp storedTime(Timestamp t) {
    constexpr std::int64_t kFirst = -kSecondsFrom1601To1970;
    constexpr std::int64_t kLast = static_cast<std::int64_t>(
        std::numeric_limits<std::uint64_t>::max() / kTicksPerSecond - 1 - kSecondsFrom1601To1970);
    if (t.seconds < kFirst) {
        return {kFirst, 0};
    }
    if (t.seconds > kLast) {
        return {kLast, 0};
    }
    return {t.seconds, t.nanoseconds / 100 * 100};
}

std::uint64_t toNtfsTime(Timestamp t) {
    const Timestamp stored = storedTime(t);
    return static_cast<std::uint64_t>(stored.seconds + kSecondsFrom1601To1970) * kTicksPerSecond +
           stored.nanoseconds / 100;
}

Timestamp fromNtfsTime(std::uint64_t ticks) {
    const auto seconds = static_cast<std::int64_t>(ticks / kTicksPerSecond);
    return {seconds - kSecondsFrom1601To1970,
            static_cast<std::uint32_t>(ticks % kTicksPerSecond) * 100};
}

std::string encodeOrigin(const ArchiveOrigin& origin) {
    // Room for the field's own header and the other fields of the record.
    constexpr std::size_t kMost = 60000;
    if (origin.host.size() + origin.folder.size() + origin.machine.size() > kMost) {
        return std::string();
    }
    std::string out = origin.machine.empty() ? "1" : "2";
    put64(out, static_cast<std::uint64_t>(origin.moment));
    const auto putText = [&out](const std::string& text) {
        put16(out, static_cast<std::uint16_t>(text.size()));
        out += text;
    };
    putText(origin.host);
    putText(origin.folder);
    if (!origin.machine.empty()) {
        putText(origin.machine);
    }
    return out;
}

std::optional<ArchiveOrigin> decodeOrigin(const unsigned char* data, std::size_t size) {
    if (size < 13 || (data[0] != '1' && data[0] != '2')) {
        return std::nullopt;
    }
    ArchiveOrigin origin;
    origin.moment = static_cast<std::int64_t>(get64(data + 1));
    std::vector<std::string*> texts{&origin.host, &origin.folder};
    if (data[0] == '2') {
        texts.push_back(&origin.machine);
    }
    std::size_t at = 9;
    for (std::string* text : texts) {
        if (at + 2 > size || at + 2 + get16(data + at) > size) {
            return std::nullopt;
        }
        const std::size_t length = get16(data + at);
        text->assign(reinterpret_cast<const char*>(data + at + 2), length);
        at += 2 + length;
    }
    if (at != size) {
        return std::nullopt;
    }
    return origin;
}

void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xffff));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

void put64(std::string& out, std::uint64_t value) {
    put32(out, static_cast<std::uint32_t>(value & 0xffffffffu));
    put32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint16_t get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(get16(p)) | (static_cast<std::uint32_t>(get16(p + 2)) << 16);
}

std::uint64_t get64(const unsigned char* p) {
    return static_cast<std::uint64_t>(get32(p)) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}

} // namespace kavlento::zip
