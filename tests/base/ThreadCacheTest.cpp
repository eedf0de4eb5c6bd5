#include "base/ThreadCache.h"
#include "base/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace kavlento;

namespace {

std::atomic<int> living{0};

struct Counted {
    Counted() { ++living; }
    ~Counted() { --living; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
};

// Two places in the code.
Counted& here() {
    return threadCache([] { return Counted(); });
}
Counted& there() {
    return threadCache([] { return Counted(); });
}

} // namespace

// Each place keeps one object per thread, and each thread's go when its scope
// ends: an inner scope's with it, the outer one's only with the outer scope.
TEST(ThreadCache, EachThreadKeepsOnePerPlaceAndFreesThemWhenItsScopeEnds) {
    std::thread([] {
        const ThreadCacheScope outer;
        EXPECT_EQ(&here(), &here());
        {
            const ThreadCacheScope inner;
            EXPECT_NE(&here(), &there());
            EXPECT_EQ(living, 2);
        }
        EXPECT_EQ(living, 1);
    }).join();
    EXPECT_EQ(living, 0);

    // A pool's threads free theirs as they end.
    {
        WorkerPool pool(4);
        std::vector<std::future<void>> done;
        for (int task = 0; task < 64; ++task) {
            done.push_back(pool.submit([] { here(); }));
        }
        for (std::future<void>& each : done) {
            each.get();
        }
        EXPECT_GE(living, 1);
        EXPECT_LE(living, 4);
    }
    EXPECT_EQ(living, 0);
}
