#pragma once

#include <QString>

#include <cstdio>

namespace kavlento::app {

// Where lines for the administrator go: the answers to the options, and the
// run's log.
class LineOutput {
public:
    virtual ~LineOutput() = default;
    virtual void line(const QString& text) = 0;
};

// Each line as it is.
class StreamOutput final : public LineOutput {
public:
    explicit StreamOutput(std::FILE* stream) : stream_(stream) {}
    void line(const QString& text) override;

private:
    std::FILE* stream_;
};

// The run's log: each line starts with the local time and the program's
// name, so that scheduled runs can be told apart in a shared log file.
class LogOutput final : public LineOutput {
public:
    explicit LogOutput(std::FILE* stream) : stream_(stream) {}
    void line(const QString& text) override;

private:
    StreamOutput stream_;
};

} // namespace kavlento::app
