#include "store/Codepage.h"
#include "base/Failure.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace kavlento;
using namespace kavlento::store;

TEST(Codepage, TurkishLettersTakeTheirSingleBytes) {
    EXPECT_EQ(toWindows1254(QStringLiteral("ĞİŞğış")), QByteArray("\xD0\xDD\xDE\xF0\xFD\xFE"));
    EXPECT_EQ(toWindows1254(QStringLiteral("ÇÖÜçöü")), QByteArray("\xC7\xD6\xDC\xE7\xF6\xFC"));
}

TEST(Codepage, EveryByteReadsBackToTheSameByte) {
    QByteArray all;
    for (int b = 1; b < 256; ++b) {
        all.append(static_cast<char>(b));
    }
    EXPECT_EQ(toWindows1254(fromWindows1254(all)), all);
    const QString turkish = QStringLiteral("D:\\ARŞİV, ESKİ ğüşöçı");
    EXPECT_EQ(fromWindows1254(toWindows1254(turkish)), turkish);
}

TEST(Codepage, TextOutsideTheCodePageIsRefusedNotDamaged) {
    const QString japanese = QStringLiteral("/yedek/日本");
    EXPECT_FALSE(fitsWindows1254(japanese));
    EXPECT_TRUE(fitsWindows1254(QStringLiteral("/yedek/ARŞİV")));
    try {
        toWindows1254(japanese);
        FAIL() << "expected a failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::UnsupportedText);
        EXPECT_TRUE(failure.description().contains(japanese));
    }
}

// The table is our own; where the system's converter knows the code page
// (ICU on Linux), both must read every byte and take every character alike.
TEST(Codepage, AgreesWithTheSystemsConverterOnEveryByteAndCharacter) {
    if (!QStringDecoder("windows-1254").isValid()) {
        GTEST_SKIP() << "no converter for Windows-1254 here to compare with";
    }
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        QStringDecoder decoder("windows-1254");
        const QString system = decoder.decode(QByteArrayView(&byte, 1));
        EXPECT_EQ(fromWindows1254(QByteArrayView(&byte, 1)), system) << "byte " << b;
    }
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (QChar::isSurrogate(c)) {
            continue; // halves of a character, not characters
        }
        const QString text(QChar(static_cast<char16_t>(c)));
        QStringEncoder encoder("windows-1254");
        const QByteArray system = encoder.encode(text);
        ASSERT_EQ(fitsWindows1254(text), !encoder.hasError()) << "U+" << std::hex << c;
        if (!encoder.hasError()) {
            EXPECT_EQ(toWindows1254(text), system) << "U+" << std::hex << c;
        }
    }
}
