#include "archive/ArchiveComponent.h"

#include "archive/CompressJob.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "base/Failure.h"
#include "base/ThreadCache.h"
#include "fs/File.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

namespace kavlento::archive {

using namespace fs;

namespace {
std::vector<std::string> systemPaths(const QStringList& paths) {
    std::vector<std::string> out;
    for (const QString& path : paths) {
        out.push_back(toSystemPath(path));
    }
    return out;
}
} // namespace

ArchiveComponent::ArchiveComponent(FolderChooser chooseFolder, QObject* parent)
    : QObject(parent), chooseFolder_(std::move(chooseFolder)) {
    setObjectName(QStringLiteral("RSPZip1"));
}

ArchiveComponent::~ArchiveComponent() {
    cancelAndWait();
}

QString ArchiveComponent::BrowseForFolder(const QString& prompt, const QString& text) {
    return chooseFolder_(prompt, text);
}

void ArchiveComponent::Compress(const CompressCommand& command, const QStringList& listedArchives,
                                std::int64_t moment) {
    start([this, command, archives = systemPaths(listedArchives),
           moment](JobControl& control, Outcome& outcome) -> std::function<void()> {
        const CompressResult result = runCompress(command, archives, moment, control);
        outcome.archivePath = fromSystemPath(result.archivePath);
        control.complete();
        return [this, result] {
            emit CompressFinished(fromSystemPath(result.archivePath),
                                  static_cast<int>(result.entryCount),
                                  static_cast<qint64>(result.archiveSize),
                                  static_cast<qint64>(result.checkMilliseconds));
        };
    });
}

void ArchiveComponent::Extract(const ExtractCommand& command, const Kept& kept,
                               const std::optional<SafetyRequest>& safety) {
    std::optional<SafetyBackup> backup;
    if (safety) {
        backup = SafetyBackup{safety->command, safety->moment,
                              [record = safety->record](const CompressResult& result) {
                                  record(fromSystemPath(result.archivePath));
                              }};
    }
    const LeftInPlace leftInPlace{systemPaths(kept.programFiles), toSystemPath(kept.target),
                                  systemPaths(kept.listedArchives)};
    start([command, leftInPlace, backup](JobControl& control, Outcome&) {
        runExtract(command, control, 0, leftInPlace, backup);
        return std::function<void()>();
    });
}

template <typename Work> void ArchiveComponent::start(Work work) {
    if (busy_) {
        throw Failure(FailureCode::AlreadyBusy,
                      QStringLiteral("Bir arşiv işlemi sürerken yenisi başlatılamaz"));
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    const std::uint64_t generation = ++generation_;
    control_ = std::make_shared<JobControl>(
        [this, generation](int percent) {
            post(generation, [this, percent] { emit Progress(percent); });
        },
        [this, generation](JobStep step, int from, int to) {
            post(generation, [this, step, from, to] { emit StepBegun(step, from, to); });
        });
    {
        const std::lock_guard<std::mutex> lock(outcomeMutex_);
        outcome_.reset();
        busy_ = true;
    }
    worker_ = std::thread([this, work, control = control_, generation] {
        const ThreadCacheScope caches;
        Outcome outcome;
        std::function<void()> last;
        try {
            last = work(*control, outcome);
        } catch (const Failure& failure) {
            if (failure.code() != FailureCode::Cancelled) {
                outcome.failure = failure;
            }
        } catch (const std::bad_alloc&) {
            outcome.failure = Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz"));
        } catch (const std::exception& error) {
            outcome.failure =
                Failure(FailureCode::Unexpected, QString::fromLocal8Bit(error.what()));
        }
        if (const std::optional<Failure>& failure = outcome.failure) {
            last = [this, failure = *failure] {
                emit Failed(failure.number(), failure.description());
            };
        }
        {
            // The last signal goes out once the component is free for the next job.
            const std::lock_guard<std::mutex> lock(outcomeMutex_);
            outcome_ = std::move(outcome);
            busy_ = false;
        }
        ended_.notify_all();
        if (last) {
            post(generation, [this, last = std::move(last)] {
                if (takeOutcome()) {
                    last();
                }
            });
        }
    });
}

bool ArchiveComponent::takeOutcome() {
    const std::lock_guard<std::mutex> lock(outcomeMutex_);
    return std::exchange(outcome_, std::nullopt).has_value();
}

void ArchiveComponent::post(std::uint64_t generation, std::function<void()> emitter) {
    QMetaObject::invokeMethod(
        this,
        [this, generation, emitter = std::move(emitter)] {
            if (generation == generation_) {
                emitter();
            }
        },
        Qt::QueuedConnection);
}

ArchiveComponent::Stop ArchiveComponent::stop() {
    if (!control_) {
        return Stop::NoJob;
    }
    if (control_->cancel()) {
        const bool running = busy_;
        cancelAndWait();
        return running ? Stop::Stopped : Stop::NoJob;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    return Stop::Completed;
}

ArchiveComponent::Outcome ArchiveComponent::waitForOutcome() {
    std::unique_lock<std::mutex> lock(outcomeMutex_);
    ended_.wait(lock, [this] { return !busy_; });
    return std::exchange(outcome_, std::nullopt).value_or(Outcome{});
}

QString ArchiveComponent::leftBehind() const {
    return control_ ? control_->leftBehind() : QString();
}

void ArchiveComponent::deliverPending() {
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void ArchiveComponent::cancelAndWait() {
    ++generation_;
    if (control_) {
        control_->cancel();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    busy_ = false;
}

} // namespace kavlento::archive
