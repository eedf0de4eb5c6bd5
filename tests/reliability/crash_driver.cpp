// Runs one of Kavlento's file operations over and over (or once, for a
// restore), so that a test can kill it at any moment and check what it left.
//
//   crash_driver save <program-folder> <target-a> <target-b>   alternate the stored target
//   crash_driver remove <program-folder>      remove the first history entry until none is left
//   crash_driver restore <archive> <folder>                    one restore
//
// A restore keeps the program's own files, as the program's does. With
// KAVLENTO_FAIL_RENAME=N in the environment its N-th rename fails.

#include "archive/ArchiveCommand.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "base/Failure.h"
#include "store/HistoryFile.h"
#include "store/TargetSetting.h"
#include "support/StepFaults.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

using namespace kavlento;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    try {
        if (args.size() == 4 && args[0] == "save") {
            const store::TargetSetting setting(args[1]);
            for (unsigned long i = 0;; ++i) {
                setting.save(args[2 + static_cast<int>(i % 2)]);
            }
        }
        if (args.size() == 2 && args[0] == "remove") {
            const store::HistoryFile history(args[1]);
            while (true) {
                const auto records = history.load();
                if (!records || records->size() == 0) {
                    return 0;
                }
                history.removeArchive(records->archivePath(0));
            }
        }
        if (args.size() == 3 && args[0] == "restore") {
            testing::FailingStep failing(fs::Step::Rename,
                                         qEnvironmentVariableIntValue("KAVLENTO_FAIL_RENAME"));
            archive::JobControl control;
            archive::runExtract(
                archive::restoreCommand(args[1], args[2]), control, 0,
                {{"kavlento", "yedekleme.lst", "yedekleme.dat", "prgcik.dat", "yedek.yedek"},
                 {},
                 {}},
                std::nullopt, &failing);
            return 0;
        }
    } catch (const Failure& failure) {
        std::fprintf(stderr, "hata %d: %s\n", failure.number(), failure.what());
        return 1;
    }
    std::fprintf(stderr, "usage: see the comment at the top of crash_driver.cpp\n");
    return 2;
}
