// Restores one archive into a folder as the program's restore does, without a
// window, on Linux and on Windows alike: the interop test restores with it
// what the other system's build wrote.
//
//   restore_archive <archive> <folder>

#include "archive/ArchiveCommand.h"
#include "archive/ExtractJob.h"
#include "archive/JobControl.h"
#include "base/Failure.h"

#include <QCoreApplication>

#include <cstdio>

using namespace kavlento;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: restore_archive <archive> <folder>\n");
        return 2;
    }
    try {
        archive::JobControl control;
        archive::runExtract(archive::restoreCommand(args[0], args[1]), control);
        return 0;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "hata %d: %s\n", failure.number(), failure.what());
        return 1;
    }
}
