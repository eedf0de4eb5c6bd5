#include "base/NameStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kavlento::NameStore;

TEST(NameStore, NamesOfAnyLengthStayIntactAsMoreAreAdded) {
    // A name longer than a block (code page 437 names triple in UTF-8) gets a
    // block of its own; the names after it must not be written over it.
    const std::vector<std::string> names = {
        "a.txt",   std::string(40000, 'b'), std::string(150000, 'c'),
        "d/e.txt", std::string(65536, 'f'), "g"};
    NameStore store;
    std::vector<std::string_view> views;
    for (int round = 0; round < 3; ++round) {
        for (const std::string& name : names) {
            views.push_back(store.add(name));
        }
    }
    for (std::size_t i = 0; i < views.size(); ++i) {
        EXPECT_EQ(views[i], names[i % names.size()]) << i;
    }
}
