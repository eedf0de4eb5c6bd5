#pragma once

#include "app/LineOutput.h"
#include "app/UserDialogs.h"

namespace kavlento::app {

// The user's dialogs, with the run's log beside them: every line of the log
// goes to standard error and starts with the local time. Where nobody sits at
// the screen (no display), messages, error reports and questions go only to
// the log and return at once; an unattended run on a display logs what it
// shows in its boxes; an interactive run logs its notes and error reports.
class LoggedDialogs final : public UserDialogs {
public:
    enum class Run { Unwatched, UnattendedOnDisplay, Interactive };

    LoggedDialogs(UserDialogs& windows, LineOutput& log, Run run)
        : windows_(windows), log_(log), run_(run) {}

    void inform(const QString& text, const QString& title, MessageIcon icon) override;
    bool askYesNo(const QString& text, const QString& title, MessageIcon icon,
                  DefaultAnswer preferred) override;
    void reportFailure(int number, const QString& description) override;
    QString pickArchiveFile(const QString& startFolder) override;
    QString pickFolder(const QString& prompt, const QString& startFolder) override;
    void showProgress() override { windows_.showProgress(); }
    void showStep(const ProgressStep& step) override { windows_.showStep(step); }
    void hideProgress() override { windows_.hideProgress(); }
    void note(const QString& line) override;

private:
    bool boxesShown() const { return run_ != Run::Unwatched; }

    UserDialogs& windows_;
    LineOutput& log_;
    Run run_;
};

} // namespace kavlento::app
