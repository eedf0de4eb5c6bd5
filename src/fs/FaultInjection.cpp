#include "fs/FaultInjection.h"

#include "fs/File.h"

#include <atomic>
#include <cerrno>

namespace kavlento::fs {

namespace {

std::atomic<Step> planned{Step::Rename};
std::atomic<int> remaining{0}; // steps of that kind until the planned one
std::function<void()> action;  // what happens there instead of a failure

} // namespace

void failStep(Step step, int count, std::function<void()> instead) {
    remaining = 0;
    planned = step;
    action = std::move(instead);
    remaining = count;
}

bool stepReached() {
    return remaining == 0;
}

void beforeStep(Step step, const std::string& path) {
    if (remaining.load(std::memory_order_relaxed) == 0 || planned != step) {
        return;
    }
    if (--remaining == 0) {
        if (action) {
            action();
            return;
        }
        throwSystemError(EIO, QStringLiteral("Denemede istenen hata"), path);
    }
}

} // namespace kavlento::fs
