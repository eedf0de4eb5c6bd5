#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace kavlento::app {

// What the administrator can ask for besides the window or an unattended
// backup, each with the launch code.
enum class AdminCommand {
    None,
    Help,         // --yardım, --help: the options, in Turkish
    StoreTarget,  // --hedef FOLDER: store a target folder without the window
    CheckBackups, // --denetle: read every archive of the history, writing nothing
};

// The command line: the markers the host passes, found anywhere in the text
// of the arguments after the program's own name joined with single blanks
// (the host passes one text; on systems that split it into arguments, joining
// them again keeps every marker findable, also one inside a longer word), and
// the administrator's options, arguments that start with "--".
class CommandLine {
public:
    static CommandLine fromArguments(const QStringList& argumentsAfterProgramName);
    explicit CommandLine(QString text) : text_(std::move(text)) {}

    // The launch code, found anywhere in the text, letter case included.
    bool hasLaunchCode() const;
    // The keyword of an unattended backup, found the same way.
    bool isUnattended() const;

    AdminCommand adminCommand() const { return command_; }
    // The folder of --hedef.
    const QString& targetToStore() const { return target_; }
    // --sakla N: after an unattended backup, keep the newest N archives.
    std::optional<int> archivesToKeep() const { return keep_; }
    // Why the options cannot be carried out (an unknown option, a value
    // missing or wrong, options that do not go together); empty when they can.
    const QString& refusal() const { return refusal_; }

    const QString& text() const { return text_; }

    // The options explained, for --yardım.
    static QString help();

private:
    void readOptions(const QStringList& arguments);
    void refuse(const QString& why);

    QString text_; // the markers' text: every argument but the options' values
    AdminCommand command_ = AdminCommand::None;
    QString target_;
    std::optional<int> keep_;
    QString refusal_;
};

} // namespace kavlento::app
