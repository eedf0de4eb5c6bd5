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
    QObject::connect(window_.Command1, &QPushButton::clicked, [this] { backup_.chooseTarget(); });
    QObject::connect(window_.Command2, &QPushButton::clicked, [this] { backup_.run(); });
    QObject::connect(window_.Command3, &QPushButton::clicked,
                     [this] { shell_.removeSelectedEntry(); });
    QObject::connect(window_.Command4, &QPushButton::clicked,
                     [this] { restore_.restoreSelected(); });
    QObject::connect(window_.Command5, &QPushButton::clicked, [this] { close_.run(); });
    QObject::connect(window_.Command6, &QPushButton::clicked, [this] { restore_.restorePicked(); });
    QObject::connect(&window_, &ui::MainWindow::closeRequested, [this] { shell_.unload(); });
    QObject::connect(&zip_, &archive::ArchiveComponent::Progress,
                     [this](int percent) { shell_.onProgress(percent); });
    QObject::connect(&zip_, &archive::ArchiveComponent::CompressFinished,
                     [this] { backup_.finish(); });
    QObject::connect(
        &zip_, &archive::ArchiveComponent::Failed,
        [this](int number, const QString& description) { shell_.onFailed(number, description); });
}

void Program::fail(const Failure& failure) {
    // Nothing of the failed job may arrive while the error box is open.
    zip_.cancelAndWait();
    dialogs_.reportFailure(failure.number(), failure.description());
    end_.end(ExitStatus::Failure);
}

void Program::start(bool canShowWindow) {
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
