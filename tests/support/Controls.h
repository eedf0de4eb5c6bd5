#pragma once

#include <QObject>
#include <QString>

#include <gtest/gtest.h>

namespace kavlento::testing {

// A control of a window, found by its object name (the name from the window's
// design); the test fails when there is none of that name and type.
template <typename T> T* control(const QObject& window, const char* objectName) {
    T* found = window.findChild<T*>(QString::fromLatin1(objectName));
    EXPECT_NE(found, nullptr) << "no control named " << objectName;
    return found;
}

} // namespace kavlento::testing
