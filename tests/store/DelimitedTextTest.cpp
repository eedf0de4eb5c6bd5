#include "store/DelimitedText.h"

#include <gtest/gtest.h>

using namespace kavlento::store;

namespace {
QList<QByteArray> texts(const QList<TextField>& fields) {
    QList<QByteArray> result;
    for (const TextField& f : fields) {
        result.append(f.bytes);
    }
    return result;
}

QList<QByteArray> lines(QByteArrayView content) {
    QList<QByteArray> result;
    for (QByteArrayView line : splitLines(content)) {
        result.append(line.toByteArray());
    }
    return result;
}
} // namespace

TEST(DelimitedText, LinesEndAtCrLfCrOrLf) {
    EXPECT_EQ(lines("a\r\nb\rc\nd"), (QList<QByteArray>{"a", "b", "c", "d"}));
    EXPECT_EQ(lines("a\r\n"), (QList<QByteArray>{"a"}));
    EXPECT_EQ(lines("a\r\n\r\nb\r\n"), (QList<QByteArray>{"a", "", "b"}));
    EXPECT_TRUE(lines("").isEmpty());
}

TEST(DelimitedText, QuotedFieldsKeepCommasAndBlanks) {
    EXPECT_EQ(texts(splitFields(R"("D:\ARŞ, ESKİ","x")")),
              (QList<QByteArray>{R"(D:\ARŞ, ESKİ)", "x"}));
    EXPECT_EQ(texts(splitFields(R"("  a  ",  "b")")), (QList<QByteArray>{"  a  ", "b"}));
    EXPECT_EQ(texts(splitFields(R"("")")), (QList<QByteArray>{""}));
}

TEST(DelimitedText, UnquotedFieldsRunToTheCommaWithoutTrailingBlanks) {
    EXPECT_EQ(texts(splitFields(R"(  D:\YEDEK  ,"b")")), (QList<QByteArray>{R"(D:\YEDEK)", "b"}));
    EXPECT_EQ(texts(splitFields("a,")), (QList<QByteArray>{"a", ""}));
    EXPECT_TRUE(splitFields("").isEmpty());
}

TEST(DelimitedText, TextBetweenAClosingQuoteAndTheCommaIsIgnored) {
    EXPECT_EQ(texts(splitFields(R"("a"xyz,"b")")), (QList<QByteArray>{"a", "b"}));
}

TEST(DelimitedText, AFieldWithoutItsClosingQuoteIsMarkedIncomplete) {
    const QList<TextField> fields = splitFields(R"("a","b","D:\YED)");
    ASSERT_EQ(fields.size(), 3);
    EXPECT_TRUE(fields[1].complete);
    EXPECT_FALSE(fields[2].complete);
    EXPECT_EQ(fields[2].bytes, QByteArray(R"(D:\YED)"));
}

TEST(DelimitedText, QuotedLineIsTheStoredFormat) {
    EXPECT_EQ(quotedLine({"a", "b,c", ""}), QByteArray("\"a\",\"b,c\",\"\"\r\n"));
}
