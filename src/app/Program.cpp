#include "app/Program.h"

#include "ui/StyledButton.h"

namespace kavlento {

Program::Program(const QString& programFolder, const CommandLine& commandLine, SharedState& state,
                 UserDialogs& dialogs, const Clock& clock, ProgramEnd& end)
    : commandLine_(commandLine), dialogs_(dialogs), end_(end), target_(programFolder),
      history_(programFolder), zip_(dialogs), instance_(programFolder),
      close_(target_, window_, end), backup_({programFolder, commandLine_, window_, dialogs, clock,
                                              zip_, history_, target_, state, close_}),
      restore_({programFolder, window_, dialogs, zip_, state, end}),
      shell_({programFolder, commandLine_, instance_, window_, dialogs, end, state, history_,
              target_, backup_, restore_}) {
    connectHandlers();
}

void Program::connectHandlers() {
    const auto on = [this](auto* sender, auto signal, auto handler) {
        QObject::connect(sender, signal, [this, handler](auto... arguments) {
            guard([&] { handler(arguments...); });
        });
    };
    on(window_.Command1, &QPushButton::clicked, [this](bool) { backup_.chooseTarget(); });
    on(window_.Command2, &QPushButton::clicked, [this](bool) { backup_.run(); });
    on(window_.Command3, &QPushButton::clicked, [this](bool) { shell_.removeSelectedEntry(); });
    on(window_.Command4, &QPushButton::clicked, [this](bool) { restore_.restoreSelected(); });
    on(window_.Command5, &QPushButton::clicked, [this](bool) { close_.run(); });
    on(window_.Command6, &QPushButton::clicked, [this](bool) { restore_.restorePicked(); });
    on(&window_, &ui::MainWindow::closeRequested, [this] { shell_.unload(); });
    on(&zip_, &archive::ArchiveComponent::Progress,
       [this](int percent) { shell_.onProgress(percent); });
    on(&zip_, &archive::ArchiveComponent::CompressFinished,
       [this](const QString&, int) { backup_.finish(); });
    on(&zip_, &archive::ArchiveComponent::Failed,
       [this](int number, const QString& description) { shell_.onFailed(number, description); });
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
    // Nothing of the failed job may arrive while the error box is open.
    zip_.cancelAndWait();
    dialogs_.reportFailure(failure.number(), failure.description());
    end_.end(ExitStatus::Failure);
}

void Program::start(bool canShowWindow) {
    guard([&] { startWindow(canShowWindow); });
}

void Program::startWindow(bool canShowWindow) {
    if (!shell_.startUp()) {
        return;
    }
    if (!canShowWindow) {
        dialogs_.inform(QStringLiteral("EKRAN BULUNAMADI, PENCERE GÖSTERİLEMİYOR. OTOMATİK "
                                       "YEDEKLEME İÇİN KOMUT SATIRINA OtoRadizEv EKLEYİN."),
                        QString(), MessageIcon::Error);
        end_.end(ExitStatus::NoDisplay);
        return;
    }
    window_.showCentered();
}

} // namespace kavlento
