#include "app/CommandLine.h"
#include "app/JobState.h"
#include "app/LineOutput.h"
#include "app/LoggedDialogs.h"
#include "app/ProgramEnd.h"
#include "base/Clock.h"
#include "base/Failure.h"
#include "base/HeapPolicy.h"
#include "fs/File.h"
#include "main/Display.h"
#include "main/Invocation.h"
#include "main/Program.h"
#include "main/StopSignals.h"
#include "main/Watchdog.h"
#include "ui/QtUserDialogs.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace kavlento;
using namespace kavlento::app;

namespace {

// A failure before there is anywhere else to say it.
[[noreturn]] void failEarly(const Failure& failure) {
    LogOutput(stderr).line(
        QStringLiteral("hata %1: %2").arg(failure.number()).arg(failure.description()));
    std::_Exit(static_cast<int>(ExitStatus::Failure));
}

// A folder whose name is not UTF-8 has no text that names it again: refused,
// so that no other folder (the current one) is ever taken for it.
[[noreturn]] void refuseUnreadableFolder(const QString& folder, const CommandLine& commandLine,
                                         ProgramEnd& end) {
    if (!commandLine.hasLaunchCode()) {
        end.end(ExitStatus::NoLaunchCode);
    }
    throw Failure(FailureCode::BadFileName,
                  QStringLiteral("PROGRAM KLASÖRÜNÜN ADI BU SİSTEMDE OKUNAMIYOR (ADI UTF-8 DEĞİL): "
                                 "%1. BU KLASÖR YEDEKLENEMEZ VE GERİ YÜKLENEMEZ. LÜTFEN KLASÖRÜN "
                                 "ADINI TÜRKÇE YA DA LATİN HARFLERLE YENİDEN YAZIN.")
                      .arg(folder));
}

// How long an unattended run's user-interface thread may go without an answer
// from its display, and how long its boxes wait for somebody to press OK.
constexpr std::chrono::seconds kDisplayAnswersWithin{30};
constexpr std::chrono::minutes kBoxesCloseAfter{2};

QString displayStopped() {
    return QStringLiteral("ekran %1 saniyedir yanıt vermiyor (X sunucusu donmuş ya da kapanmış "
                          "olabilir); çalışma sonlandırıldı.")
        .arg(kDisplayAnswersWithin.count());
}

int run(int argc, char** argv) {
    const CommandLine commandLine =
        CommandLine::fromArguments(argumentsAfterProgramName(argc, argv));
    // From here on an unattended run ends within a bounded time, whatever its
    // display does: Qt itself would wait for it without a limit.
    std::optional<Watchdog> watchdog;
    if (commandLine.hasLaunchCode() && commandLine.isUnattended()) {
        watchdog.emplace(kDisplayAnswersWithin, [] {
            LogOutput(stderr).line(displayStopped());
            std::_Exit(static_cast<int>(ExitStatus::Failure));
        });
    }
    PlatformChoice platform = choosePlatform();
    // The host's words are no options of Qt's ("-platform", "-style"): Qt
    // sees the program's name alone.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    platform.releaseDisplay();
    // Without a display (a scheduled backup) the program runs offscreen and
    // reports on standard error instead of waiting for a button to be pressed;
    // an unattended run leaves its lines there on a display too.
    const bool headless = platform.isHeadless(QGuiApplication::platformName());
    if (watchdog && headless) {
        watchdog->stop(); // no display can stall an offscreen run
    }
    QTimer heartbeat;
    if (watchdog) {
        QObject::connect(&heartbeat, &QTimer::timeout, [&watchdog] { watchdog->beat(); });
        heartbeat.start(1000);
    }
    const LoggedDialogs::Run watched = headless ? LoggedDialogs::Run::Unwatched
                                       : commandLine.hasLaunchCode() && commandLine.isUnattended()
                                           ? LoggedDialogs::Run::UnattendedOnDisplay
                                           : LoggedDialogs::Run::Interactive;
    std::setlocale(LC_ALL, ""); // the regional date and time formats
    ui::installTurkishTranslations(app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kavlento/icon.png")));

    const std::string programFolderBytes = fs::executableFolder();
    const QString programFolder = fs::fromSystemPath(programFolderBytes);
    JobState state;
    ui::QtUserDialogs windows([&state] { return state.lastPercent; });
    LogOutput log(stderr);
    LoggedDialogs dialogs(windows, log, watched);
    if (watched == LoggedDialogs::Run::UnattendedOnDisplay) {
        windows.closeBoxesAfter(kBoxesCloseAfter); // the line is in the log already
    }
    ProcessEnd end;
    StreamOutput output(stdout);
    try {
        if (fs::toSystemPath(programFolder) != programFolderBytes) {
            refuseUnreadableFolder(programFolder, commandLine, end);
        }
        SystemClock clock;
        Program program(programFolder, commandLine, state, dialogs, clock, end, output);
        end.addCleanup([&program] { program.archiver().cancelAndWait(); });
        if (watchdog) {
            watchdog->setRescue([&program] { program.rescueWithoutTheWindow(displayStopped()); });
        }
        const StopSignals stops([&program](const QString& name) { program.stop(name); });
        program.start(!headless);
        QApplication::exec();
    } catch (const Failure& failure) {
        // Every handler is guarded; this is what fails before the first one runs.
        dialogs.reportFailure(failure.number(), failure.description());
        end.end(ExitStatus::Failure);
    }
    end.end(ExitStatus::Normal);
}

} // namespace

int main(int argc, char** argv) {
    returnLargeBuffersToTheSystem();
    try {
        reachTheCallersOutput();
        return run(argc, argv);
    } catch (const Failure& failure) {
        failEarly(failure);
    } catch (const std::exception& error) {
        failEarly(Failure(FailureCode::Unexpected, QString::fromLocal8Bit(error.what())));
    }
}
