#include "archive/JobControl.h"

#include "base/Failure.h"

#include <algorithm>

namespace kavlento::archive {

JobControl::JobControl(PercentReport report, StepReport stepReport)
    : report_(std::move(report)), stepReport_(std::move(stepReport)) {}

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
    if (whole_ != nullptr) {
        whole_->throwIfCancelled();
    }
    State running = State::Running;
    if (!state_.compare_exchange_strong(running, State::Committed) && running == State::Cancelled) {
        stopped();
    }
}

void JobControl::noteLeftBehind(const QString& what) {
    if (whole_ != nullptr) {
        whole_->noteLeftBehind(what);
        return;
    }
    const std::lock_guard<std::mutex> lock(reportMutex_);
    leftBehind_ = what;
}

QString JobControl::leftBehind() const {
    const std::lock_guard<std::mutex> lock(reportMutex_);
    return leftBehind_;
}

void JobControl::beginStep(JobStep step, int from, int to) {
    from_ = from;
    to_ = to;
    const std::lock_guard<std::mutex> lock(reportMutex_);
    if (stepReport_) {
        stepReport_(step, from, to);
    }
}

void JobControl::setTotal(std::uint64_t units) {
    if (whole_ != nullptr) {
        whole_->setTotal(units);
        return;
    }
    total_ = units;
    done_ = 0;
    report(from_);
}

void JobControl::advance(std::uint64_t units) {
    if (whole_ != nullptr) {
        whole_->advance(units);
        return;
    }
    const std::uint64_t done = done_ += units;
    const std::uint64_t total = std::max<std::uint64_t>(total_, 1);
    const std::uint64_t share = std::min<std::uint64_t>(100, done * 100 / total);
    report(static_cast<int>(std::min<std::uint64_t>(99, from_ + share * (to_ - from_) / 100)));
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
