#include "app/Clock.h"
#include "app/CommandLine.h"
#include "app/KavlentoApplication.h"
#include "app/Program.h"
#include "app/ProgramEnd.h"
#include "app/SharedState.h"
#include "ui/QtUserDialogs.h"
#include "ui/Translations.h"

#include <QDir>

#include <clocale>

using namespace kavlento;

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
    const CommandLine commandLine =
        CommandLine::fromArguments(argumentsAfterProgramName(argc, argv));
    KavlentoApplication app(argc, argv);
    std::setlocale(LC_ALL, ""); // the regional date and time formats
    ui::installTurkishTranslations(app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kavlento/icon.png")));

    const QString programFolder = QDir(QCoreApplication::applicationDirPath()).canonicalPath();
    SharedState state;
    ui::QtUserDialogs dialogs([&state] { return state.sayac; });
    SystemClock clock;
    ProcessEnd end;
    Program program(programFolder, commandLine, state, dialogs, clock, end);
    end.addCleanup([&program] { program.zip().cancelAndWait(); });
    app.setFailureHandler([&program](const Failure& failure) { program.fail(failure); });

    app.guard([&program] { program.start(); });
    QApplication::exec();
    end.end(ExitStatus::Normal);
}
