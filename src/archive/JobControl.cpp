#include "archive/JobControl.h"

#include "base/Failure.h"

#include <algorithm>

namespace kavlento::archive {

JobControl::JobControl(PercentReport report) : report_(std::move(report)) {}

namespace {
[[noreturn]] void stopped() {
    throw Failure(FailureCode::Cancelled, QStringLiteral("İşlem durduruldu"));
}
} // namespace

bool JobControl::cancel() {
    State running = State::Running;
    return state_.compare_exchange_strong(running, State::Cancelled) || running == State::Cancelled;
}

void JobControl::throwIfCancelled() const {
    if (cancelled()) {
        stopped();
    }
}

void JobControl::commit() {
    State running = State::Running;
    if (!state_.compare_exchange_strong(running, State::Committed) && running == State::Cancelled) {
        stopped();
    }
}

void JobControl::noteLeftBehind(const QString& what) {
    const std::lock_guard<std::mutex> lock(reportMutex_);
    leftBehind_ = what;
}

QString JobControl::leftBehind() const {
    const std::lock_guard<std::mutex> lock(reportMutex_);
    return leftBehind_;
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
