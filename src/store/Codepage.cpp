#include "store/Codepage.h"

#include "base/Failure.h"

#include <algorithm>
#include <array>
#include <optional>

namespace kavlento::store {

namespace {

// Windows-1254 written out, not asked of Qt: Qt knows it only through ICU,
// which its Windows build lacks. Bytes below 0x80 are ASCII; 0xA0 and above
// are Latin-1 but for the six Turkish letters; the five bytes the code page
// leaves undefined read as the control characters of their own value, as
// Windows and ICU read them, so that every byte reads back to itself.
constexpr std::array<char16_t, 32> kFrom80 = {
    u'\u20ac', 0,         u'\u201a', u'\u0192', u'\u201e', u'\u2026', u'\u2020', u'\u2021',
    u'\u02c6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', 0,         0,         0,
    0,         u'\u2018', u'\u2019', u'\u201c', u'\u201d', u'\u2022', u'\u2013', u'\u2014',
    u'\u02dc', u'\u2122', u'\u0161', u'\u203a', u'\u0153', 0,         0,         u'\u0178'};

constexpr std::array<char16_t, 256> makeTable() {
    std::array<char16_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        table[byte] = static_cast<char16_t>(byte);
    }
    for (int i = 0; i < 32; ++i) {
        if (kFrom80[i] != 0) {
            table[0x80 + i] = kFrom80[i];
        }
    }
    table[0xd0] = u'\u011e'; // Ğ
    table[0xdd] = u'\u0130'; // İ
    table[0xde] = u'\u015e'; // Ş
    table[0xf0] = u'\u011f'; // ğ
    table[0xfd] = u'\u0131'; // ı
    table[0xfe] = u'\u015f'; // ş
    return table;
}
constexpr std::array<char16_t, 256> kTable = makeTable();

std::optional<char> byteOf(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80) {
        return static_cast<char>(u);
    }
    const auto found = std::find(kTable.begin() + 0x80, kTable.end(), u);
    if (found == kTable.end()) {
        return std::nullopt;
    }
    return static_cast<char>(found - kTable.begin());
}

bool encode(const QString& text, QByteArray& bytes) {
    bytes.resize(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const std::optional<char> byte = byteOf(text[i]);
        if (!byte) {
            return false;
        }
        bytes[i] = *byte;
    }
    return true;
}

} // namespace

QByteArray toWindows1254(const QString& text) {
    QByteArray bytes;
    if (!encode(text, bytes)) {
        throw Failure(
            FailureCode::UnsupportedText,
            QStringLiteral("Bu metin Türkçe karakter kümesinde yazılamıyor: %1").arg(text));
    }
    return bytes;
}

bool fitsWindows1254(const QString& text) {
    QByteArray bytes;
    return encode(text, bytes);
}

QString fromWindows1254(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        *out++ = QChar(kTable[static_cast<unsigned char>(c)]);
    }
    return text;
}

} // namespace kavlento::store
