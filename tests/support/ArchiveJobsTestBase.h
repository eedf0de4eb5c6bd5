#pragma once

#include "archive/ArchiveCommand.h"
#include "archive/CompressJob.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "base/Failure.h"
#include "fs/File.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"

#include <QDir>

#include <gtest/gtest.h>

namespace kavlento::testing {

// The two jobs driven by the same commands the program sends: a backup of
// `from` into `targetFolder` as `name` (its path), and a restore.
inline QString compressFolder(const QString& from, const QString& targetFolder, const QString& name,
                              unsigned threads = 0,
                              const std::vector<std::string>& ownArchives = {},
                              std::int64_t moment = 1800000000) {
    archive::JobControl control;
    const auto command = archive::backupCommand(from, targetFolder, name);
    return fs::fromSystemPath(
        archive::runCompress(command, ownArchives, moment, control, threads).archivePath);
}

inline void extractArchive(const QString& archivePath, const QString& into,
                           const QString& password = archive::kArchivePassword,
                           fs::StepWatch* watch = nullptr) {
    archive::JobControl control;
    auto command = archive::restoreCommand(archivePath, into);
    command.password = password;
    archive::runExtract(command, control, 0, {}, std::nullopt, watch);
}

// A work folder with a source, a target and a restore folder, and the two jobs
// driven by the same commands the program sends.
class ArchiveJobsTest : public ::testing::Test {
protected:
    TempFolder work;
    QString source = work.file("kaynak");
    QString target = work.file("hedef");
    QString restored = work.file("geri");

    void SetUp() override {
        QDir().mkpath(source);
        QDir().mkpath(target);
        QDir().mkpath(restored);
    }

    QString compress(const QString& from, const QString& name = QStringLiteral("1.ksd"),
                     unsigned threads = 0, const std::vector<std::string>& ownArchives = {}) {
        return compressFolder(from, target, name, threads, ownArchives);
    }

    void extract(const QString& archivePath, const QString& into,
                 const QString& password = archive::kArchivePassword) {
        extractArchive(archivePath, into, password);
    }

    // Runs `job` and returns the failure it must end with.
    template <typename Job> static Failure failureOf(Job job) {
        try {
            job();
        } catch (const Failure& failure) {
            return failure;
        }
        ADD_FAILURE() << "the job did not fail";
        return Failure(FailureCode::Unexpected, QString());
    }
};

} // namespace kavlento::testing
