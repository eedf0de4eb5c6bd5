// Restores an archive into a folder the way the window's restore does: the
// same command string and the same extraction, without the window around it.
// With --safety, the folder is first backed up into TARGET as the window's
// restore does where the newest archive does not hold the folder as it is.
//
//   bench_restore [--safety TARGET] <archive> <folder>

#include "archive/ArchiveCommand.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "base/Failure.h"
#include "base/HeapPolicy.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <optional>

int main(int argc, char** argv) {
    kavlento::returnLargeBuffersToTheSystem(); // as the program does
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString target;
    if (args.size() == 4 && args[0] == "--safety") {
        target = args[1];
        args = args.mid(2);
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s [--safety TARGET] <archive> <folder>\n", argv[0]);
        return 2;
    }
    using namespace kavlento;
    try {
        std::optional<archive::SafetyBackup> safety;
        if (!target.isEmpty()) {
            safety = archive::SafetyBackup{
                archive::backupCommand(args[1], target + "/gun", "1.ksd"),
                QDateTime::currentSecsSinceEpoch(), [](const archive::CompressResult&) {}};
        }
        archive::JobControl control;
        archive::runExtract(
            archive::restoreCommand(args[0], args[1]), control, 0,
            {{"kavlento", "yedekleme.lst", "yedekleme.dat", "prgcik.dat", "yedek.yedek"}, {}, {}},
            safety);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "hata %d: %s\n", failure.number(), failure.what());
        return 1;
    }
    return 0;
}
