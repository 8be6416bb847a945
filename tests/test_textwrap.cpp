#include <gtest/gtest.h>

#include <sstream>

#include "textwrap.h"

using quarel::wrapText;

TEST(WrapText, BreaksAtSpacesAndKeepsLineBreaksAndLongWords) {
    EXPECT_EQ(wrapText("", 10), "");
    EXPECT_EQ(wrapText("short line", 10), "short line");
    EXPECT_EQ(wrapText("one two three four", 9), "one two\nthree\nfour");
    // Existing breaks stay; each line is wrapped on its own.
    EXPECT_EQ(wrapText("aaa bbb\nccc ddd eee", 7), "aaa bbb\nccc ddd\neee");
    // A path longer than the width keeps a line of its own, unbroken.
    EXPECT_EQ(wrapText("File /very/long/path/name.dat cannot be read", 12),
              "File\n/very/long/path/name.dat\ncannot be\nread");
    // Runs of spaces collapse to one at a break.
    EXPECT_EQ(wrapText("a  b", 10), "a b");

    // A long warning: no line beyond the width, and the words survive.
    const std::string warning =
        "The Newton iteration on the 496 x 97 grid stalled at the residual 4.539E-05 "
        "(Max.residual 1.0E-07): the linear solver no longer reduces it, so the level was "
        "ended after 17 steps.";
    const std::string wrapped = wrapText(warning, 60);
    std::istringstream lines(wrapped);
    std::string line, joined;
    while (std::getline(lines, line)) {
        EXPECT_LE(line.size(), 60u) << line;
        joined += (joined.empty() ? "" : " ") + line;
    }
    EXPECT_EQ(joined, warning);
}
