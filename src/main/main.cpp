#include "app/CommandLine.h"
#include "app/ConsoleDialogs.h"
#include "app/JobState.h"
#include "app/ProgramEnd.h"
#include "app/SingleInstance.h"
#include "base/Clock.h"
#include "base/Failure.h"
#include "base/HeapPolicy.h"
#include "main/Program.h"
#include "ui/QtUserDialogs.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <clocale>

using namespace kavlento;
using namespace kavlento::app;

namespace {

// The arguments exactly as given, read before Qt removes the options it knows.
QStringList argumentsAfterProgramName(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

} // namespace

int main(int argc, char** argv) {
    returnLargeBuffersToTheSystem();
    const CommandLine commandLine =
        CommandLine::fromArguments(argumentsAfterProgramName(argc, argv));
    // Without a display (a scheduled backup) the program runs offscreen and
    // reports on standard error instead of waiting for a button to be pressed.
    const bool headless = !hasDisplay();
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        try {
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(SingleInstance::runtimeFolder()));
        } catch (const Failure&) {
            // Reported by the start-up's instance test, which needs the folder too.
        }
    }
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, ""); // the regional date and time formats
    ui::installTurkishTranslations(app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kavlento/icon.png")));

    const QString programFolder = QDir(QCoreApplication::applicationDirPath()).canonicalPath();
    JobState state;
    ui::QtUserDialogs windows([&state] { return state.lastPercent; });
    ConsoleDialogs console(windows, stderr);
    UserDialogs& dialogs = headless ? static_cast<UserDialogs&>(console) : windows;
    SystemClock clock;
    ProcessEnd end;
    Program program(programFolder, commandLine, state, dialogs, clock, end);
    end.addCleanup([&program] { program.zip().cancelAndWait(); });
    program.start(!headless);
    QApplication::exec();
    end.end(ExitStatus::Normal);
}
