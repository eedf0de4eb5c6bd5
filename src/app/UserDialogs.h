#pragma once

#include <QString>

namespace kavlento::app {

enum class MessageIcon { Information, Question, Error };
// The answer a question gives when the user only presses Enter.
enum class DefaultAnswer { Yes, No };

// A step of work that the progress window names under its bar. The bar shows
// the step's own share of the job's percentage, from `from` to `to`, so that it
// runs once per step; where they are equal the step's length is unknown and
// the bar only shows that work goes on.
struct ProgressStep {
    QString text;
    int from = 0;
    int to = 100;
};

// Everything the program asks or tells the user goes through here, so that
// tests can script the answers and read every text word for word.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // A modal box with one OK button. An empty title shows the program's title.
    virtual void inform(const QString& text, const QString& title, MessageIcon icon) = 0;
    // A modal box with Yes and No; true for Yes.
    virtual bool askYesNo(const QString& text, const QString& title, MessageIcon icon,
                          DefaultAnswer preferred = DefaultAnswer::Yes) = 0;
    // The error box of a failure that no handler catches.
    virtual void reportFailure(int number, const QString& description) = 0;
    // The archive picker, opening in `startFolder` when it is given; the chosen
    // path, or empty when cancelled.
    virtual QString pickArchiveFile(const QString& startFolder) = 0;
    // The folder chooser, opening in `startFolder` when it is given; the chosen
    // path, or empty when cancelled.
    virtual QString pickFolder(const QString& prompt, const QString& startFolder) = 0;
    // The modal progress window; returns only if it is taken away from outside.
    virtual void showProgress() = 0;
    // Names the step that runs, showing the progress window (the main window
    // then takes no input) without waiting for it.
    virtual void showStep(const ProgressStep& step) = 0;
    // Takes the progress window away again, before the job has started.
    virtual void hideProgress() = 0;
    // A line for the log of a run nobody watches (without a display); a window
    // shows nothing of it.
    virtual void note(const QString& line) = 0;
};

} // namespace kavlento::app
