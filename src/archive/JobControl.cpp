#include "archive/JobControl.h"

#include "base/Failure.h"

#include <algorithm>

namespace kavlento::archive {

JobControl::JobControl(PercentReport report) : report_(std::move(report)) {}

void JobControl::throwIfCancelled() const {
    if (cancelled_) {
        throw Failure(FailureCode::Cancelled, QStringLiteral("İşlem durduruldu"));
    }
}

void JobControl::setTotal(std::uint64_t units) {
    total_ = units;
    report(0);
}

void JobControl::advance(std::uint64_t units) {
    const std::uint64_t done = done_ += units;
    const std::uint64_t total = std::max<std::uint64_t>(total_, 1);
    report(static_cast<int>(std::min<std::uint64_t>(99, done * 100 / total)));
}

void JobControl::complete() {
    report(100);
}

void JobControl::report(int percent) {
    const std::lock_guard<std::mutex> lock(reportMutex_);
    if (percent <= lastReported_) {
        return;
    }
    lastReported_ = percent;
    if (report_) {
        report_(percent);
    }
}

} // namespace kavlento::archive
