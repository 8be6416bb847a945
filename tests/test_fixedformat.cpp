// Column-for-column checks of the fixed-format record helper.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fixedformat.h"

using quarel::ff::fmtE;
using quarel::ff::fmtF;
using quarel::ff::fmtI;
using quarel::ff::format;
using quarel::ff::parseF;
using quarel::ff::parseFSingle;
using quarel::ff::readReals;

TEST(FixedFormat, WorkedExamples) {
    EXPECT_EQ(format("(3f10.6)", {0.5, -0.25, 12.0}), "  0.500000 -0.250000 12.000000");
    EXPECT_EQ(format("(i4)", {12345}), "****");

    std::string line = format("(2x,i2.2,2(2x,e11.4,2x,i3.3,2x,i3.3),2f10.5)",
                              {3, 0.0015, 12, 1, -0.00002, 200, 2, 0.6, 0.01});
    EXPECT_EQ(line, "  03   0.1500E-02  012  001  -0.2000E-04  200  002   0.60000   0.01000");
    EXPECT_EQ(line.size(), 70u);

    EXPECT_EQ(fmtE(1234.56, 11, 4), " 0.1235E+04");
    EXPECT_EQ(fmtE(-0.00125, 15, 6), "  -0.125000E-02");
    EXPECT_EQ(fmtI(7, 2, 2), "07");
    EXPECT_EQ(fmtI(7, 3, 3), "007");
}

TEST(FixedFormat, FixedPointRules) {
    // Rounding follows the exact binary value, as the C library does.
    EXPECT_EQ(fmtF(0.125, 6, 2), "  0.12");  // exact tie: to even
    EXPECT_EQ(fmtF(0.135, 6, 2), "  0.14");  // 0.135 is stored above the tie
    EXPECT_EQ(fmtF(2.5, 4, 0), "  2.");
    EXPECT_EQ(fmtF(-1.0, 6, 3), "-1.000");
    // Leading zero only when there is room for it.
    EXPECT_EQ(fmtF(0.5, 3, 2), ".50");
    EXPECT_EQ(fmtF(-0.5, 4, 2), "-.50");
    EXPECT_EQ(fmtF(-0.5, 5, 2), "-0.50");
    // Negative zero after rounding has no sign.
    EXPECT_EQ(fmtF(-0.0000004, 10, 6), "  0.000000");
    EXPECT_EQ(fmtF(-0.0, 5, 2), " 0.00");
    // Too wide: asterisks.
    EXPECT_EQ(fmtF(123456.0, 10, 6), "**********");
    EXPECT_EQ(fmtF(-10.0, 5, 2), "*****");
    EXPECT_EQ(fmtF(1e300, 10, 5), "**********");
    EXPECT_EQ(fmtF(std::nan(""), 10, 5), "       NaN");
    EXPECT_EQ(fmtI(-12, 3), "-12");
    EXPECT_EQ(fmtI(-123, 3), "***");
    EXPECT_EQ(fmtI(-7, 4, 3), "-007");
}

TEST(FixedFormat, ExponentRules) {
    EXPECT_EQ(fmtE(0.0, 11, 4), " 0.0000E+00");
    EXPECT_EQ(fmtE(-0.0, 11, 4), " 0.0000E+00");
    EXPECT_EQ(fmtE(9.99996, 11, 4), " 0.1000E+02");  // carry into the exponent
    EXPECT_EQ(fmtE(1.0, 15, 6), "   0.100000E+01");
    EXPECT_EQ(fmtE(1.5e-120, 11, 4), " 0.1500-119");
    EXPECT_EQ(fmtE(-2.0e150, 11, 4), "-0.2000+151");
    EXPECT_EQ(fmtE(-0.00002, 10, 4), "-.2000E-04");  // no room for the 0
    EXPECT_EQ(fmtE(-0.00002, 9, 4), "*********");
    EXPECT_EQ(format("(i5,2e15.6)", {3, 0.25, -1.0}), "    3   0.250000E+00  -0.100000E+01");
    EXPECT_EQ(format("(d12.4)", {1234.56}), "  0.1235D+04");
    // The digits are those the C library rounds exactly, ties to even
    // (0.125 is exact), over the whole range and every width of field.
    EXPECT_EQ(fmtE(0.125, 9, 2), " 0.12E+00");
    EXPECT_EQ(fmtE(0.375, 9, 2), " 0.38E+00");
    unsigned long long bits = 0x9E3779B97F4A7C15ULL;
    for (int n = 0; n < 3000; ++n) {
        bits = bits * 6364136223846793005ULL + 1442695040888963407ULL;
        const int d = 1 + n % 17;
        const double v = std::ldexp(static_cast<double>(bits >> 11) / 9007199254740992.0,
                                    static_cast<int>(bits % 1200) - 600) *
                         (n % 2 ? -1.0 : 1.0);
        char c[64];
        std::snprintf(c, sizeof c, "%.*e", d - 1, std::fabs(v));
        std::string digits(c, std::strchr(c, 'e'));
        digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
        const std::string e = fmtE(v, d + 10, d);
        EXPECT_EQ(e.substr(e.find('.') + 1, static_cast<size_t>(d)), digits) << v << " " << d;
    }
}

TEST(FixedFormat, ListsLiteralsGroupsAndStops) {
    // Literal-only lists write one line; H text keeps blanks and commas.
    EXPECT_EQ(format("(20h<   x    ><   y    >)", {}), "<   x    ><   y    >");
    EXPECT_EQ(
        format("(1x,11hBrakedown (,i1,25h): zero diagonal element ,i3,1h,,i3,1h.)", {1, 17, 4}),
        " Brakedown (1): zero diagonal element  17,  4.");
    EXPECT_EQ(format("(8h NXGRID=,i4,10h   NYGRID=,i4)", {240, 32}), " NXGRID= 240   NYGRID=  32");
    EXPECT_EQ(format("(5h    i,10x,1hx,14x,1hy,12h      JGRID=,i4)", {3}),
              "    i          x              y      JGRID=   3");
    EXPECT_EQ(format("(7h  Grid:,i3,3h x ,i3)", {120, 17}), "  Grid:120 x  17");
    // '/' ends a line; a final '/' leaves an empty last line.
    EXPECT_EQ(format("(1x/22h  ***  l = 1  or less./)", {}), " \n  ***  l = 1  or less.\n");
    EXPECT_EQ(format("(6h   l =,i7,10x,3hn =,i7)", {1, 0}), "   l =      1          n =      0");
    // Output stops at the first data item without a value: the literal
    // before it is written, the one after it is not.
    EXPECT_EQ(format("(f5.1,3h ab,f5.1,3h cd)", {1.0}), "  1.0 ab");
    EXPECT_EQ(format("(3f10.6)", {1.0, 2.0}), "  1.000000  2.000000");
    // Nested groups with repeat counts.
    EXPECT_EQ(format("(2(i1,2(1h-,i1)),1h|)", {1, 2, 3, 4, 5, 6}), "1-2-34-5-6|");
    EXPECT_EQ(format("(2x,a,a5,a2)", {"abc", "xy", "long"}), "  abc   xylo");
    // More values than items: the list is used again on a new line.
    EXPECT_EQ(format("(2f5.1)", {1.0, 2.0, 3.0}), "  1.0  2.0\n  3.0");
    EXPECT_EQ(format("(1hA,2(i2))", {1, 2, 3}), "A 1 2\n 3");
    EXPECT_EQ(format("(a80)", {std::string(80, 'x')}), std::string(80, 'x'));

    EXPECT_THROW(format("3f10.6", {1.0}), std::invalid_argument);
    EXPECT_THROW(format("(3f10)", {1.0}), std::invalid_argument);
    EXPECT_THROW(format("(20hshort)", {}), std::invalid_argument);
    EXPECT_THROW(format("(1hx)", {1.0}), std::invalid_argument);
}

TEST(FixedFormat, FixedPointInput) {
    double v = -1;
    EXPECT_TRUE(parseF("       120", 5, v));
    EXPECT_DOUBLE_EQ(v, 0.0012);
    EXPECT_TRUE(parseF("      120.", 5, v));
    EXPECT_EQ(v, 120.0);
    EXPECT_TRUE(parseF("          ", 5, v));
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(parseF("", 5, v));
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(parseF(" 1 2 . 5  ", 5, v));  // blanks are ignored
    EXPECT_EQ(v, 12.5);
    EXPECT_TRUE(parseF("   0.1E-05", 5, v));
    EXPECT_EQ(v, 0.1e-5);
    EXPECT_TRUE(parseF("  -2.5d+01", 5, v));
    EXPECT_EQ(v, -25.0);
    EXPECT_TRUE(parseF("    1.5-03", 5, v));  // bare sign exponent
    EXPECT_EQ(v, 1.5e-3);
    EXPECT_TRUE(parseF("     15e-1", 5, v));  // implied decimals and exponent
    EXPECT_EQ(v, 15e-6);
    EXPECT_TRUE(parseF("0.75", 5, v));
    EXPECT_EQ(v, 0.75);
    for (const char* bad :
         {"  12a.5", "1.2.3", "-", ".", "1e", "1e+", "e5", "nan", "1e999", "1,5", "\t1.0"}) {
        double keep = 42.0;
        EXPECT_FALSE(parseF(bad, 5, keep)) << bad;
        EXPECT_EQ(keep, 42.0) << bad;
    }
    float f = 0;
    EXPECT_TRUE(parseFSingle("  0.123456789", 5, f));
    EXPECT_EQ(f, 0.123456789f);

    std::vector<double> values;
    int badColumn = 0;
    ASSERT_TRUE(readReals("(3f10.5)", "   0.75000   1.25", 3, values, badColumn));
    ASSERT_EQ(values.size(), 3u);  // short line: missing fields read as 0
    EXPECT_EQ(values[0], 0.75);
    EXPECT_EQ(values[1], 1.25);
    EXPECT_EQ(values[2], 0.0);
    ASSERT_TRUE(
        readReals("(7f5.3)", "1.1  1.2  1.05 1.1  1.2  1.1  1.3  trailing", 7, values, badColumn));
    EXPECT_EQ(values[3], 1.1);
    EXPECT_EQ(values[6], 1.3);
    ASSERT_TRUE(readReals("(5x,f5.2,a3,f4.1)", "xxxxx 1.50abc 2.5", 3, values, badColumn));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1], 2.5);
    EXPECT_FALSE(readReals("(3f10.5)", "       1.0     12a.5", 3, values, badColumn));
    EXPECT_EQ(badColumn, 11);
    std::vector<float> single;
    ASSERT_TRUE(readReals("(3f10.5)", "       120      120.", 2, single, badColumn));
    EXPECT_EQ(single[0], 0.0012f);
    EXPECT_EQ(single[1], 120.0f);
}
