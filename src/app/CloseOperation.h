#pragma once

#include "app/MainView.h"
#include "app/ProgramEnd.h"
#include "store/TargetSetting.h"

namespace kavlento::app {

// "KAPAT": stores the target folder, then ends the program. The backup job
// ends the same way when its archive is complete.
class CloseOperation {
public:
    CloseOperation(const store::TargetSetting& target, const MainView& view, ProgramEnd& end)
        : target_(target), view_(view), end_(end) {}

    void run(ExitStatus status = ExitStatus::Normal) {
        storeTarget();
        end_.end(status);
    }
    // What the window's unload handler does: the window then closes, and with
    // it the program.
    void storeTarget() { target_.save(view_.targetText()); }
    // Ends as completed, the stored target left as it is.
    void endWithoutStoring() { end_.end(ExitStatus::Normal); }

private:
    const store::TargetSetting& target_;
    const MainView& view_;
    ProgramEnd& end_;
};

} // namespace kavlento::app
