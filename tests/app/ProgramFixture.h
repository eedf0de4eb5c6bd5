#pragma once

#include "app/JobState.h"
#include "app/LineOutput.h"
#include "app/ProgramEnd.h"
#include "app/UserDialogs.h"
#include "base/Clock.h"
#include "main/Program.h"
#include "support/TempFolder.h"

#include <QEventLoop>
#include <QObject>
#include <QStringList>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <utility>

namespace kavlento::testing {

using namespace kavlento::app;

// Every question and message, word for word.
struct Shown {
    // "inform", "ask", "failure", "pickFile", "pickFolder", "progress", "step", "note"
    QString kind;
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::Information;
    DefaultAnswer preferred = DefaultAnswer::Yes; // of a question
};

class RecordingEnd : public QObject, public ProgramEnd {
    Q_OBJECT
public:
    std::optional<ExitStatus> status;
    void end(ExitStatus s) override {
        if (!status) {
            status = s;
        }
        emit ended();
    }
signals:
    void ended();
};

// Answers from a script; the progress window runs until the program ends.
class ScriptedDialogs final : public UserDialogs {
public:
    explicit ScriptedDialogs(RecordingEnd& end) : end_(end) {}

    std::vector<Shown> shown;
    std::deque<bool> answers;        // for askYesNo
    std::deque<QString> pickedFiles; // for pickArchiveFile; empty text: cancelled
    std::deque<QString> pickedFolders;
    bool progressTakenAway = false; // the progress window returns at once

    void inform(const QString& text, const QString& title, MessageIcon icon) override {
        shown.push_back({"inform", text, title, icon});
    }
    bool askYesNo(const QString& text, const QString& title, MessageIcon icon,
                  DefaultAnswer preferred) override {
        shown.push_back({"ask", text, title, icon, preferred});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void reportFailure(int number, const QString& description) override {
        shown.push_back({"failure", QString::number(number) + ": " + description, QString(),
                         MessageIcon::Error});
    }
    // The folder it opens in is kept as the title.
    QString pickArchiveFile(const QString& startFolder) override {
        shown.push_back({"pickFile", QString(), startFolder, MessageIcon::Information});
        return take(pickedFiles);
    }
    // The folder it opens in is kept as the title.
    QString pickFolder(const QString& prompt, const QString& startFolder) override {
        shown.push_back({"pickFolder", prompt, startFolder, MessageIcon::Information});
        return take(pickedFolders);
    }
    void showProgress() override;
    // Each step as "step": its text, and its share of the percentage as the title.
    void showStep(const ProgressStep& step) override {
        shown.push_back({"step", step.text, QStringLiteral("%1-%2").arg(step.from).arg(step.to)});
    }
    void hideProgress() override {}
    void note(const QString& line) override {
        shown.push_back({"note", line, QString(), MessageIcon::Information});
    }

    std::vector<Shown> of(const QString& kind) const;

private:
    static QString take(std::deque<QString>& queue) {
        if (queue.empty()) {
            return QString();
        }
        QString value = queue.front();
        queue.pop_front();
        return value;
    }
    RecordingEnd& end_;
};

// The administrator's answers, line by line.
class RecordedOutput final : public LineOutput {
public:
    QStringList lines;
    void line(const QString& text) override { lines.append(text); }
};

class FixedClock final : public Clock {
public:
    Moment moment;
    // From now on, gives `moment` once and then `to`: time passing while a
    // job starts.
    void movesOnAfterOneReading(const Moment& to) {
        later_ = to;
        readOnce_ = false;
    }
    Moment now() const override {
        if (later_ && std::exchange(readOnce_, true)) {
            return *later_;
        }
        return moment;
    }

private:
    std::optional<Moment> later_;
    mutable bool readOnce_ = false;
};

Moment momentOf(int day, int month, int year, int hour, int minute, int second,
                const QString& dateText, const QString& timeText);

// A program folder in a temporary folder, and one run of the program in it.
class ProgramTest : public ::testing::Test {
protected:
    TempFolder folder;
    QString programFolder = folder.file("program");
    QString targetFolder = folder.file("hedef");
    JobState state;
    RecordingEnd end;
    ScriptedDialogs dialogs{end};
    FixedClock clock;
    RecordedOutput output;
    std::unique_ptr<Program> program;

    void SetUp() override;
    void TearDown() override;

    // Starts a run with `arguments` as the command line.
    void start(const QStringList& arguments);
    // Ends the run there is and starts a new one, as a second start of the program.
    void restart(const QStringList& arguments);
    void startInteractive() { start({"4702519836"}); }
    void storeTarget(const QString& target);
    QString programFile(const QString& name) const { return programFolder + "/" + name; }
};

} // namespace kavlento::testing
