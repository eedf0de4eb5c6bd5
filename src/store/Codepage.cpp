#include "store/Codepage.h"

#include "base/Failure.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>

namespace kavlento::store {

namespace {
constexpr const char* kCodepage = "windows-1254";

bool encode(const QString& text, QByteArray& bytes) {
    QStringEncoder encoder(kCodepage);
    bytes = encoder.encode(text);
    return encoder.isValid() && !encoder.hasError();
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
    // One character per byte: a table made once, instead of a converter per
    // text (a history of a million records decodes three million texts).
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> characters{};
        for (int byte = 0; byte < 256; ++byte) {
            QStringDecoder decoder(kCodepage);
            const char c = static_cast<char>(byte);
            const QString decoded = decoder.decode(QByteArrayView(&c, 1));
            characters[static_cast<std::size_t>(byte)] =
                decoded.size() == 1 ? decoded.front().unicode() : u'\ufffd';
        }
        return characters;
    }();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        *out++ = QChar(table[static_cast<unsigned char>(c)]);
    }
    return text;
}

} // namespace kavlento::store
