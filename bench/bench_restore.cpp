// Restores an archive into a folder the way the window's restore does: the
// same command string and the same extraction, without the window around it.
//
//   bench_restore <archive> <folder>

#include "archive/ArchiveCommand.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "base/Failure.h"
#include "base/HeapPolicy.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    kavlento::returnLargeBuffersToTheSystem(); // as the program does
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <archive> <folder>\n", argv[0]);
        return 2;
    }
    using namespace kavlento;
    try {
        archive::JobControl control;
        archive::runExtract(archive::parseExtractCommand(archive::buildExtractCommand(
                                QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]))),
                            control);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "hata %d: %s\n", failure.number(), failure.what());
        return 1;
    }
    return 0;
}
