#include "base/ThreadCache.h"

#include <array>
#include <stdexcept>

namespace kavlento {

namespace {

// Trivial types only, for the reason in the header.
thread_local std::array<void (*)(), 32> releases;
thread_local std::size_t kept = 0;

} // namespace

namespace detail {

void releaseWithScope(void (*release)()) {
    if (kept == releases.size()) {
        throw std::logic_error("more thread caches than there is room for");
    }
    releases[kept++] = release;
}

} // namespace detail

ThreadCacheScope::ThreadCacheScope() : keptBefore_(kept) {}

ThreadCacheScope::~ThreadCacheScope() {
    while (kept > keptBefore_) {
        releases[--kept]();
    }
}

} // namespace kavlento
