#pragma once

#include <QtGlobal>

#include <gtest/gtest.h>

#include <unistd.h>

// Opens a test that mounts file systems or starts the program as another
// user: without root it is skipped, saying why; in CI (CI=true) it must run,
// so there it fails instead.
#define KAVLENTO_NEEDS_ROOT(why)                                                                   \
    do {                                                                                           \
        if (::geteuid() != 0) {                                                                    \
            if (qEnvironmentVariable("CI") == QLatin1String("true")) {                             \
                FAIL() << "needs root, which CI must give: " << (why);                             \
            }                                                                                      \
            GTEST_SKIP() << "needs root: " << (why);                                               \
        }                                                                                          \
    } while (false)
