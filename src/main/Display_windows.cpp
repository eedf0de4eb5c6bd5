#include "main/Display.h"

#include <windows.h>

namespace kavlento {

namespace {

// Whether the process's windows are on a desktop a user sees. A task run
// whether anybody is logged on or not, or a service, has an invisible window
// station: Qt starts there, but nobody could press a button. Where the system
// cannot tell, the window is shown, as for an interactive start.
bool onVisibleWindowStation() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    if (station == nullptr ||
        !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace

// Qt's windows platform starts in every session, so whether a window can be
// seen depends on the session alone; an offscreen platform the environment
// asked for stands for a desktop there as on Linux (tests draw into memory).
bool PlatformChoice::isHeadless(const QString& /*platformName*/) const {
    return !displayNamed_;
}

// No probe connects to a display on Windows: there is nothing to release.
void PlatformChoice::releaseDisplay() {}

// There is always a display: Qt keeps its own choice (or the one
// QT_QPA_PLATFORM names), and nothing needs a fallback.
PlatformChoice choosePlatform() {
    PlatformChoice choice;
    choice.displayNamed_ = onVisibleWindowStation();
    return choice;
}

} // namespace kavlento
