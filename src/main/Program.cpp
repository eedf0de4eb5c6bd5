#include "main/Program.h"

#include "app/FailureText.h"

namespace kavlento {

Program::Program(const QString& programFolder, const app::CommandLine& commandLine,
                 app::JobState& state, app::UserDialogs& dialogs, const Clock& clock,
                 app::ProgramEnd& end, app::LineOutput& output)
    : commandLine_(commandLine), state_(state), dialogs_(dialogs), end_(end),
      target_(programFolder), history_(programFolder),
      archiver_([&dialogs](const QString& prompt, const QString& startFolder) {
          return dialogs.pickFolder(prompt, startFolder);
      }),
      instance_(programFolder), close_(target_, window_, end),
      backup_({programFolder, commandLine_, window_, dialogs, clock, archiver_, history_, target_,
               state, close_}),
      restore_({programFolder, window_, dialogs, archiver_, state, end, history_, clock}),
      admin_({programFolder, target_, history_, output, clock}),
      unattended_({commandLine_, window_, dialogs, end, state, admin_, backup_}),
      startUp_({programFolder, commandLine_, instance_, window_, dialogs, end, state, history_,
                target_, admin_, output, unattended_}),
      removal_({window_, dialogs, history_}), jobEvents_(state, restore_),
      stopRequest_({archiver_, state, close_, dialogs}) {
    connectHandlers();
}

void Program::connectHandlers() {
    const auto on = [this](auto* sender, auto signal, auto handler) {
        QObject::connect(sender, signal, [this, handler](auto... arguments) {
            guard([&] { handler(arguments...); });
        });
    };
    on(&window_, &ui::MainWindow::chooseTargetClicked, [this] { backup_.chooseTarget(); });
    on(&window_, &ui::MainWindow::backupClicked, [this] { backup_.run(); });
    on(&window_, &ui::MainWindow::removeEntryClicked, [this] { removal_.removeSelected(); });
    on(&window_, &ui::MainWindow::restoreEntryClicked, [this] { restore_.restoreSelected(); });
    on(&window_, &ui::MainWindow::closeClicked, [this] { close_.run(); });
    on(&window_, &ui::MainWindow::restoreFileClicked, [this] { restore_.restorePicked(); });
    on(&window_, &ui::MainWindow::closeRequested, [this] { close_.storeTarget(); });
    on(&archiver_, &archive::ArchiveComponent::Progress,
       [this](int percent) { jobEvents_.onProgress(percent); });
    on(&archiver_, &archive::ArchiveComponent::StepBegun,
       [this](archive::JobStep step, int from, int to) { jobEvents_.onStep(step, from, to); });
    on(&archiver_, &archive::ArchiveComponent::CompressFinished,
       [this](const QString& archivePath, int entryCount, qint64 archiveSize,
              qint64 checkMilliseconds) {
           backup_.finish(archivePath, entryCount, archiveSize, checkMilliseconds);
       });
    on(&archiver_, &archive::ArchiveComponent::Failed,
       [this](int number, const QString& description) {
           jobEvents_.onFailed(number, description);
       });
}

void Program::guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const Failure& failure) {
        fail(failure);
    } catch (const std::bad_alloc&) {
        fail(Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz")));
    } catch (const std::exception& error) {
        fail(Failure(FailureCode::Unexpected, QString::fromLocal8Bit(error.what())));
    }
}

void Program::fail(const Failure& failure) {
    failing_ = true;
    // Nothing of the failed job may arrive while the error box is open.
    archiver_.cancelAndWait();
    dialogs_.reportFailure(
        failure.number(),
        app::plainDescription(failure, {state_.job, window_.targetText(), state_.restoredArchive}));
    end_.end(app::ExitStatus::Failure);
}

void Program::stop(const QString& signalName) {
    if (failing_) {
        end_.end(app::ExitStatus::Failure); // its error box was still open
    }
    guard([&] { stopRequest_.stop(signalName); });
}

void Program::rescueWithoutTheWindow(const QString& why) {
    dialogs_.note(why);
    if (state_.job == app::RunningJob::Backup) {
        const archive::ArchiveComponent::Outcome outcome = archiver_.waitForOutcome();
        try {
            if (!outcome.archivePath.isEmpty()) {
                backup_.recordWithoutTheWindow(outcome.archivePath);
            } else if (outcome.failure) {
                throw *outcome.failure;
            }
        } catch (const Failure& failure) {
            dialogs_.note(
                QStringLiteral("hata %1: %2").arg(failure.number()).arg(failure.description()));
        }
    }
    end_.end(app::ExitStatus::Failure);
}

void Program::start(bool canShowWindow) {
    guard([&] { startWindow(canShowWindow); });
}

void Program::startWindow(bool canShowWindow) {
    if (!startUp_.run()) {
        return;
    }
    if (!canShowWindow) {
        dialogs_.inform(QStringLiteral("EKRAN BULUNAMADI, PENCERE GÖSTERİLEMİYOR. OTOMATİK "
                                       "YEDEKLEME İÇİN KOMUT SATIRINA OtoRadizEv EKLEYİN."),
                        QString(), app::MessageIcon::Error);
        end_.end(app::ExitStatus::NoDisplay);
        return;
    }
    window_.showCentered();
}

} // namespace kavlento
