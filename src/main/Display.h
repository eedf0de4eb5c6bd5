#pragma once

#include "fs/File.h"

#include <QString>

namespace kavlento {

// Which platform Qt is asked for, and whether what it got can show windows.
// Qt is offered a list that ends with offscreen, so a display that cannot be
// reached (a stale DISPLAY under cron) makes the program run headless instead
// of aborting; an X display that does not answer in time is not offered.
class PlatformChoice {
public:
    // Whether the platform Qt started leaves nobody a window to look at. An
    // offscreen platform the environment asked for itself, with a display
    // named, stands for a desktop (tests draw their windows into memory).
    bool isHeadless(const QString& platformName) const;

    // Closes the probe's connection, once the application has its own.
    void releaseDisplay();

private:
    friend PlatformChoice choosePlatform();
    bool offscreenAskedFor_ = false;
    bool displayNamed_ = false;
    // The X server resets when its last client leaves, and refuses whoever
    // connects meanwhile: the probe stays connected until Qt is.
    fs::UniqueFd heldConnection_;
};

// Sets the platform list before the application is made, and quietens the
// warnings of platforms that cannot start, which the fallback answers.
PlatformChoice choosePlatform();

} // namespace kavlento
