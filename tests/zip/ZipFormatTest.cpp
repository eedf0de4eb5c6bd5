#include "zip/ZipFormat.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kavlento;
using namespace kavlento::zip;

// Whatever time a file has, the archive reads back exactly the time it says it
// keeps: a backup's check compares the two, and a file dated before 1601 or
// far in the future must not make every backup fail.
TEST(ZipFormat, EveryTimeReadsBackAsTheTimeItIsStoredAs) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const Timestamp times[] = {
        {0, 0},
        {1700000000, 123456789},
        {-1, 999999999},
        {-2147483648, 0},
        {4102444800, 7},
        {-11644473600, 0},
        {-11644473601, 5},
        {kMin, 0},
        {kMax, 999999999},
        {1844674407370 - 11644473600, 999999999},
    };
    for (const Timestamp t : times) {
        SCOPED_TRACE(t.seconds);
        const Timestamp stored = storedTime(t);
        EXPECT_EQ(fromNtfsTime(toNtfsTime(t)), stored);
        EXPECT_EQ(stored.nanoseconds % 100, 0u);
        if (t.seconds >= -11644473600 && t.seconds <= 1000000000000) {
            EXPECT_EQ(stored, (Timestamp{t.seconds, t.nanoseconds / 100 * 100}));
        }
    }
}
