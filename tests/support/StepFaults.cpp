#include "support/StepFaults.h"

#include "fs/File.h"

#include <cerrno>

namespace kavlento::testing {

void failAsTheDiskWould(const fs::Change& change) {
    fs::throwSystemError(EIO, QStringLiteral("Denemede istenen hata"), change.path);
}

FailingStep::FailingStep(fs::Step step, int count, std::function<void()> instead)
    : step_(step), remaining_(count), instead_(std::move(instead)) {}

void FailingStep::before(const fs::Change& change) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (change.step != step_ || remaining_ == 0 || --remaining_ > 0) {
        return;
    }
    if (instead_) {
        instead_();
        return;
    }
    failAsTheDiskWould(change);
}

bool FailingStep::reached() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return remaining_ == 0;
}

} // namespace kavlento::testing
