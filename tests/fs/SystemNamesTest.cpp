#include "fs/SystemNames.h"

#include <gtest/gtest.h>

#include <string>

namespace kavlento::fs {
namespace {

TEST(SystemNames, WindowsRefusesWhatItWouldReadAsSomethingElse) {
    const std::string longest(255, 'a');
    const std::string turkishLongest = [] {
        std::string name;
        for (int i = 0; i < 255; ++i) {
            name += "ş"; // two bytes, one UTF-16 unit
        }
        return name;
    }();
    const struct {
        std::string name;
        bool held;
    } cases[] = {
        {"rapor.txt", true},    {"ğüşıöç İ.txt", true},
        {".gizli", true},       {"console.log", true},
        {"COM0", true},         {"COM10", true},
        {"con", false},         {"CON.txt", false},
        {"con .txt", false},    {"Lpt9.doc", false},
        {"aux", false},         {"nul.tar.gz", false},
        {"C:", false},          {"not:akış", false},
        {"a<b", false},         {"a>b", false},
        {"\"alıntı\"", false},  {"ters\\bölü", false},
        {"boru|", false},       {"soru?", false},
        {"yıldız*", false},     {std::string("sekme\tadı"), false},
        {"nokta.", false},      {"boşluk ", false},
        {longest, true},        {longest + "a", false},
        {turkishLongest, true}, {turkishLongest + "ş", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(!windowsNameProblem(c.name).has_value(), c.held) << c.name;
    }
}

} // namespace
} // namespace kavlento::fs
