#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace kavlento::archive {

// What an entry of an archive costs besides its bytes (mostly its key
// derivation), in progress units.
constexpr std::uint64_t kEntryProgress = 16 * 1024;

// Cancellation and progress of one archive job, shared by its threads.
// Progress is reported as whole percentages, each value once and rising; 100
// is reported only by complete(), when the job's result is in place.
class JobControl {
public:
    using PercentReport = std::function<void(int percent)>;

    explicit JobControl(PercentReport report = {});

    void cancel() { cancelled_ = true; }
    bool cancelled() const { return cancelled_; }
    // Throws Failure(Cancelled) once the job has been cancelled.
    void throwIfCancelled() const;

    void setTotal(std::uint64_t units);
    void advance(std::uint64_t units);
    void complete();

private:
    void report(int percent);

    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint64_t> done_{0};
    std::uint64_t total_ = 0;
    std::mutex reportMutex_;
    int lastReported_ = -1;
    PercentReport report_;
};

} // namespace kavlento::archive
