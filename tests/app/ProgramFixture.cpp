#include "app/ProgramFixture.h"

#include "store/TargetSetting.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

namespace kavlento::testing {

void ScriptedDialogs::showProgress() {
    shown.push_back({"progress", QString(), QString(), MessageIcon::Information});
    if (end_.status || progressTakenAway) {
        return;
    }
    QEventLoop loop;
    QObject::connect(&end_, &RecordingEnd::ended, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, [&loop] {
        ADD_FAILURE() << "the job never ended the program";
        loop.quit();
    });
    loop.exec();
}

std::vector<Shown> ScriptedDialogs::of(const QString& kind) const {
    std::vector<Shown> result;
    for (const Shown& s : shown) {
        if (s.kind == kind) {
            result.push_back(s);
        }
    }
    return result;
}

Moment momentOf(int day, int month, int year, int hour, int minute, int second,
                const QString& dateText, const QString& timeText) {
    Moment m;
    m.day = day;
    m.month = month;
    m.year = year;
    m.hour = hour;
    m.minute = minute;
    m.second = second;
    m.dateText = dateText;
    m.timeText = timeText;
    return m;
}

void ProgramTest::SetUp() {
    QDir().mkpath(programFolder);
    QDir().mkpath(targetFolder);
    clock.moment = momentOf(6, 12, 2026, 9, 5, 3, "06.12.2026", "09:05:03");
}

void ProgramTest::TearDown() {
    if (program) {
        program->archiver().cancelAndWait();
        program->window().hide();
    }
    program.reset();
}

void ProgramTest::start(const QStringList& arguments) {
    program = std::make_unique<Program>(programFolder, CommandLine::fromArguments(arguments), state,
                                        dialogs, clock, end, output);
    program->start();
}

void ProgramTest::restart(const QStringList& arguments) {
    TearDown();
    end.status.reset();
    dialogs.shown.clear();
    output.lines.clear();
    state = JobState{};
    start(arguments);
}

void ProgramTest::storeTarget(const QString& target) {
    writeBytes(programFile("yedekleme.dat"), store::TargetSetting::encode(target));
}

} // namespace kavlento::testing
