#pragma once

#include <QString>
#include <QStringList>

namespace kavlento::app {

// The command line as one text: the arguments after the program's own name,
// joined with single blanks. The host passes one text; on systems that split it
// into arguments, joining them again keeps every marker findable, also one
// that stands inside a longer word.
class CommandLine {
public:
    static CommandLine fromArguments(const QStringList& argumentsAfterProgramName);
    explicit CommandLine(QString text) : text_(std::move(text)) {}

    // The launch code, found anywhere in the text, letter case included.
    bool hasLaunchCode() const;
    // The keyword of an unattended backup, found the same way.
    bool isUnattended() const;

    const QString& text() const { return text_; }

private:
    QString text_;
};

} // namespace kavlento::app
