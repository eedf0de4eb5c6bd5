#include "fs/FaultInjection.h"

#include "fs/File.h"

#include <atomic>
#include <cerrno>

namespace kavlento::fs {

namespace {

std::atomic<Step> planned{Step::Rename};
std::atomic<int> remaining{0}; // steps of that kind until the failing one

} // namespace

void failStep(Step step, int count) {
    planned = step;
    remaining = count;
}

void beforeStep(Step step, const std::string& path) {
    if (remaining.load(std::memory_order_relaxed) == 0 || planned != step) {
        return;
    }
    if (--remaining == 0) {
        throwSystemError(EIO, QStringLiteral("Denemede istenen hata"), path);
    }
}

} // namespace kavlento::fs
