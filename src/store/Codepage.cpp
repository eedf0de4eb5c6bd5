#include "store/Codepage.h"

#include "base/Failure.h"

#include <QStringDecoder>
#include <QStringEncoder>

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
    QStringDecoder decoder(kCodepage);
    return decoder.decode(bytes);
}

} // namespace kavlento::store
