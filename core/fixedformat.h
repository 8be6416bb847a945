// Fixed-format text records: the column rules of every text file and
// console line of the solver.
//
// A format list such as "(2x,i2.2,2(2x,e11.4,2x,i3.3,2x,i3.3),2f10.5)" is
// parsed at run time.  Items: nHtext (literal), nX (blanks / skip), Iw and
// Iw.m (integers), Fw.d, Ew.d (reals), A and Aw (text), '/' (new line),
// and repeat counts before items or parenthesised groups.
//
//   format("(3f10.6)", {0.5, -0.25, 12.0})
//     == "  0.500000 -0.250000 12.000000"
//
// Output stops at the first data item for which no value is left; a list
// of literal items only writes one line of that text.  A '/' ends a line:
// the result then holds several lines separated by '\n' (no trailing
// line feed).
#pragma once

#include <string>
#include <vector>

namespace quarel {
namespace ff {

// One value of a write statement.
class Value {
public:
    enum class Kind { Int, Real, Text };
    Value(int v) : kind_(Kind::Int), i_(v) {}
    Value(long v) : kind_(Kind::Int), i_(v) {}
    Value(double v) : kind_(Kind::Real), r_(v) {}
    Value(const char* v) : kind_(Kind::Text), s_(v) {}
    Value(std::string v) : kind_(Kind::Text), s_(std::move(v)) {}
    Kind kind() const { return kind_; }
    long asInt() const { return kind_ == Kind::Real ? static_cast<long>(r_) : i_; }
    double asReal() const { return kind_ == Kind::Int ? static_cast<double>(i_) : r_; }
    const std::string& asText() const { return s_; }

private:
    Kind kind_;
    long i_ = 0;
    double r_ = 0.0;
    std::string s_;
};

// Formats one write statement.  Throws std::invalid_argument for a
// malformed format list.
std::string format(const std::string& formatList, const std::vector<Value>& values);

// Single edit descriptors, for code that builds a record by hand.
std::string fmtI(long value, int w, int m = 0);  // Iw.m
std::string fmtF(double value, int w, int d);    // Fw.d
std::string fmtE(double value, int w, int d);    // Ew.d

// Input of one Fw.d field (the text of exactly those columns): blanks
// are ignored, an all-blank field is 0, a field without a decimal point
// is scaled by 10^-d, an exponent ("E", "D", or a bare sign after the
// digits) is accepted.  Returns false when the field is not a number.
bool parseF(const std::string& field, int d, double& value);
// The same field read into a single-precision variable: the decimal text
// is rounded once, directly to the nearest float.
bool parseFSingle(const std::string& field, int d, float& value);

// Reads the real values of one record with a format list of F, X and A
// items (A items are skipped over), e.g. "(3f10.5)".  A line shorter than
// a field is padded with blanks; characters after the last field are
// ignored.  Reads at most `count` values.  On a field that is not a
// number returns false and sets `badColumn` to the 1-based first column
// of that field.
bool readReals(const std::string& formatList, const std::string& line, int count,
               std::vector<double>& values, int& badColumn);
// The same, into single-precision variables.
bool readReals(const std::string& formatList, const std::string& line, int count,
               std::vector<float>& values, int& badColumn);

}  // namespace ff
}  // namespace quarel
