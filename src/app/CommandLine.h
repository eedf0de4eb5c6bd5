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
    Status,       // --durum [GÜN]: the state of the backups at a glance, reading no archive whole
};

// The command line the host passes: one text, the arguments after the
// program's own name joined with single blanks, in which the launch code and
// the keyword are found anywhere, also inside a longer word. Nothing else in it
// turns a start away: the administrator's options are recognised only as
// whole arguments in their exact forms, and any other word is ignored with a
// warning (none of them reaches Qt). Where the keyword stands beside the
// launch code, one backup is always taken, whatever else the line holds.
class CommandLine {
public:
    static CommandLine fromArguments(const QStringList& argumentsAfterProgramName);

    // The launch code, found anywhere in the text, letter case included.
    bool hasLaunchCode() const;
    // The keyword of an unattended backup, found the same way.
    bool isUnattended() const;

    // What is asked for instead of the window; None where a backup is taken.
    AdminCommand adminCommand() const { return command_; }
    // The folder of --hedef; stored before the backup when the keyword is given.
    const QString& targetToStore() const { return target_; }
    // --sakla N: after an unattended backup, keep the newest N archives.
    std::optional<int> archivesToKeep() const { return keep_; }
    // --durum GÜN: how many days old the newest backup may be.
    int daysAllowed() const { return days_; }
    // Whether the administrator wrote something beside the keyword that is
    // ignored (an option wrong, misspelled or out of place): the backup is
    // taken all the same, and ends with a status that says so.
    bool ignoresAnOption() const;
    // Why the options cannot be carried out (a value missing or wrong, options
    // that do not go together); never where a backup is taken.
    const QString& refusal() const { return refusal_; }
    // What is ignored and why, as one line; empty when nothing is.
    QString warning() const;

    const QString& text() const { return text_; }

    // The options and exit statuses explained; the launch code appears only
    // where it was given.
    QString help() const;

private:
    explicit CommandLine(QString text) : text_(std::move(text)) {}
    void readOptions(const QStringList& arguments);
    void settle(const QList<AdminCommand>& asked, const QStringList& problems);

    QString text_;
    AdminCommand command_ = AdminCommand::None;
    QString target_;
    std::optional<int> keep_;
    int days_ = 2;
    QString refusal_;
    QStringList unknownWords_;
    QStringList setAside_; // options that cannot be carried out beside a backup
};

} // namespace kavlento::app
