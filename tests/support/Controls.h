#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

#include <gtest/gtest.h>

namespace kavlento::testing {

// A control of a window, found by its object name (the name from the window's
// design); the test fails when there is none of that name and type.
template <typename T> T* control(const QObject& window, const char* objectName) {
    T* found = window.findChild<T*>(QString::fromLatin1(objectName));
    EXPECT_NE(found, nullptr) << "no control named " << objectName;
    return found;
}

// The rows of the history list (`ListView1`) as shown, and its headers.
std::vector<QStringList> historyRows(const QWidget& window);
QStringList historyHeaders(const QWidget& window);
// Clicks a row of the history list as the user does.
void clickHistoryRow(const QWidget& window, int row, int column = 0);

} // namespace kavlento::testing
