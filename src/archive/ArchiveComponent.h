#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "archive/ArchiveCommand.h"
#include "archive/JobControl.h"
#include "base/Failure.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace kavlento::archive {

// A backup to take before a restore changes anything (see SafetyBackup):
// its command, and what records the archive, called on the job's thread with
// its path.
struct SafetyRequest {
    CompressCommand command;
    std::int64_t moment = 0;
    std::function<void(const QString& archivePath)> record;
};

// The archive component of the main window: a folder chooser, and compress and
// extract jobs. A job runs on a worker thread; its signals reach the
// user-interface thread queued, in order, and stop as soon as the job is
// cancelled. Its methods and signals keep the names of the host's own ZIP
// component, which the program's jobs were written against.
class ArchiveComponent : public QObject {
    Q_OBJECT
public:
    // Shows a folder chooser with a prompt, opening in a folder; returns the
    // chosen folder, or an empty text when cancelled.
    using FolderChooser = std::function<QString(const QString& prompt, const QString& startFolder)>;

    explicit ArchiveComponent(FolderChooser chooseFolder, QObject* parent = nullptr);
    ~ArchiveComponent() override;

    // A modal folder chooser; the chosen path, or an empty text when cancelled.
    // `text`, when given, is the folder it opens in.
    QString BrowseForFolder(const QString& prompt, const QString& text);

    // Both return as soon as the job has started. A job while another runs
    // throws a Failure instead. `listedArchives` are the
    // archives the history lists (see BackupExclusions).
    // `moment` is the backup's, in seconds since 1970 (see ArchiveOrigin).
    void Compress(const CompressCommand& command, const QStringList& listedArchives,
                  std::int64_t moment);
    // What the restore leaves where it is (see LeftInPlace): the program's
    // own names at the top, and Kavlento's files of the target and of the
    // archives the history lists.
    struct Kept {
        QStringList programFiles;
        QString target;
        QStringList listedArchives;
    };
    void Extract(const ExtractCommand& command, const Kept& kept = {},
                 const std::optional<SafetyRequest>& safety = std::nullopt);

    // Stops a running job, removes what it wrote and waits for its thread. No
    // signal of that job arrives afterwards.
    void cancelAndWait();

    // What a request to stop came to: no job was there, the job stopped (no
    // signal of it arrives), or it had committed and has now completed, its
    // last signals waiting for deliverPending().
    enum class Stop { NoJob, Stopped, Completed };
    Stop stop();
    // Delivers now the signals the last job has sent and that have not arrived.
    void deliverPending();
    // What the last job could not take away again; empty when it left nothing.
    QString leftBehind() const;

    // What the last job came to, once it has ended: the archive a backup
    // wrote, or its failure (none when it completed or was cancelled). Waits
    // for it to end; for a thread that cannot wait for the user-interface
    // thread's signals. The outcome is taken once: by this, or by the job's
    // last signal, so that a backup is recorded by only one of them.
    struct Outcome {
        QString archivePath;
        std::optional<Failure> failure;
    };
    Outcome waitForOutcome();

    bool busy() const { return busy_; }

signals:
    void Progress(int percent);
    // A step of the job begins; its progress fills `from` to `to` percent.
    void StepBegun(archive::JobStep step, int from, int to);
    void CompressFinished(const QString& archivePath, int entryCount, qint64 archiveSize,
                          qint64 checkMilliseconds);
    void Failed(int number, const QString& description);

private:
    template <typename Work> void start(Work work);
    void post(std::uint64_t generation, std::function<void()> emitter);
    bool takeOutcome();

    FolderChooser chooseFolder_;
    std::thread worker_;
    std::shared_ptr<JobControl> control_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<bool> busy_{false};
    std::mutex outcomeMutex_;
    std::condition_variable ended_;
    std::optional<Outcome> outcome_; // set by the worker as it ends
};

} // namespace kavlento::archive
