#include "store/Codepage.h"
#include "base/Failure.h"

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
    const QString text = fromWindows1254(all);
    EXPECT_EQ(text.size(), all.size());
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
