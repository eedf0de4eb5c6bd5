#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include <QString>

namespace kavlento::archive {

// What an entry of an archive costs besides its bytes (mostly its key
// derivation), in progress units.
constexpr std::uint64_t kEntryProgress = 16 * 1024;

// The steps of a job that has more than one, named to the user as they begin.
enum class JobStep { CheckingArchive, BackingUpFirst, Restoring };

// Cancellation and progress of one archive job, shared by its threads.
// Progress is reported as whole percentages, each value once and rising; 100
// is reported only by complete(), when the job's result is in place.
//
// A job has one moment after which its result stands (an archive gets its
// name, a restore begins to move files): commit(). A cancel before it stops
// the job; one after it is too late, and the job completes.
class JobControl {
public:
    using PercentReport = std::function<void(int percent)>;
    using StepReport = std::function<void(JobStep step, int from, int to)>;

    explicit JobControl(PercentReport report = {}, StepReport stepReport = {});
    // A part of `whole` that commits on its own (a backup taken first): it
    // stops with the whole, and its progress and notes are the whole's.
    explicit JobControl(JobControl& whole) : whole_(&whole) {}

    // Stops the job unless it has committed; false when it has (it completes).
    bool cancel();
    bool cancelled() const {
        return state_ == State::Cancelled || (whole_ != nullptr && whole_->cancelled());
    }
    // Throws Failure(Cancelled) once the job has been cancelled.
    void throwIfCancelled() const;
    // From here on the job completes: throws Failure(Cancelled) instead when
    // it was cancelled first.
    void commit();

    // What a job that failed or was stopped could not take away again.
    void noteLeftBehind(const QString& what);
    QString leftBehind() const;

    // The next step of the job, reported before any of its progress, fills
    // the progress from `from` to `to` percent (the whole of it unless said);
    // its units start again from 0.
    void beginStep(JobStep step, int from, int to);
    void setTotal(std::uint64_t units);
    void advance(std::uint64_t units);
    void complete();

private:
    void report(int percent);

    enum class State { Running, Committed, Cancelled };
    std::atomic<State> state_{State::Running};
    JobControl* whole_ = nullptr;
    int from_ = 0;
    int to_ = 100;
    std::atomic<std::uint64_t> done_{0};
    std::uint64_t total_ = 0;
    mutable std::mutex reportMutex_;
    QString leftBehind_;
    int lastReported_ = -1;
    PercentReport report_;
    StepReport stepReport_;
};

} // namespace kavlento::archive
