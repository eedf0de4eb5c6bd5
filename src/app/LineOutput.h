#pragma once

#include <QString>

#include <cstdio>

namespace kavlento::app {

// Where the answers to the administrator's options go: the terminal that
// started the program, whether or not there is a display.
class LineOutput {
public:
    virtual ~LineOutput() = default;
    virtual void line(const QString& text) = 0;
};

class StreamOutput final : public LineOutput {
public:
    explicit StreamOutput(std::FILE* stream) : stream_(stream) {}
    void line(const QString& text) override {
        std::fprintf(stream_, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stream_);
    }

private:
    std::FILE* stream_;
};

} // namespace kavlento::app
