#include "base/Failure.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace kavlento;

TEST(Failure, SystemErrorsAreSaidInTurkishAndLongTextsAreShortened) {
    for (int error = 0; error < 140; ++error) {
        const QString english = QString::fromLocal8Bit(std::strerror(error));
        EXPECT_FALSE(describeSystemError(error).contains(english)) << error;
    }
    EXPECT_EQ(describeSystemError(EXDEV), QStringLiteral("dosya başka bir diske taşınamıyor"));

    // A path read from a damaged setting may be megabytes long.
    const QString path = QStringLiteral("/hedef/") + QString(10000000, QLatin1Char('a'));
    const Failure failure = systemFailure(ENAMETOOLONG, QStringLiteral("Okunamadı"), path);
    EXPECT_TRUE(failure.description().startsWith(
        QStringLiteral("Okunamadı: ") + QDir::toNativeSeparators(QStringLiteral("/hedef/aaaa"))));
    EXPECT_LT(failure.description().size(), 400);
    EXPECT_LE(Failure(FailureCode::Unexpected, path).description().size(), 2000);
}
