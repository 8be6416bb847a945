// Fixed-format text records: a small interpreter of format lists.
//
// A format list is parsed once into a tree of edit items and then walked
// against the values of one write (or the fields of one read).  Reals are
// converted with the C library, which rounds the exact binary value to the
// requested number of digits; the column rules (leading "0.", signs,
// exponent forms, asterisks on overflow) are applied on top of that text.
#include "fixedformat.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

namespace quarel {
namespace ff {
namespace {

// ---------------------------------------------------------------------
// Parsed format lists
// ---------------------------------------------------------------------
struct Item {
    enum class Type { Literal, Skip, Int, Fixed, Exp, Text, Slash, Group };
    Type type = Type::Literal;
    int repeat = 1;
    int w = 0;  // field width (0 for A without width)
    int d = 0;  // decimals / significant digits
    int m = 0;  // minimum digits of Iw.m
    char expLetter = 'E';
    std::string text;  // literal text
    std::vector<Item> children;
};

struct Format {
    std::vector<Item> items;
    size_t reversion = 0;  // index of the item output restarts from
};

class Parser {
public:
    explicit Parser(const std::string& s) : s_(s) {}

    Format parse() {
        skipBlanks();
        if (!take('(')) fail("must start with '('");
        Format f;
        f.items = parseItems();
        if (!take(')')) fail("missing ')'");
        skipBlanks();
        if (pos_ != s_.size()) fail("text after the closing ')'");
        // On reuse, output restarts at the last top-level group (with its
        // repeat count), or at the start of the list when there is none.
        for (size_t n = 0; n < f.items.size(); ++n)
            if (f.items[n].type == Item::Type::Group) f.reversion = n;
        return f;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw std::invalid_argument("format list \"" + s_ + "\": " + why + " (at column " +
                                    std::to_string(pos_ + 1) + ")");
    }
    void skipBlanks() {
        while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
    }
    bool peekIs(char c) {
        skipBlanks();
        return pos_ < s_.size() && s_[pos_] == c;
    }
    bool take(char c) {
        if (peekIs(c)) {
            ++pos_;
            return true;
        }
        return false;
    }
    // Optional unsigned integer; -1 when there is none.
    int number() {
        skipBlanks();
        if (pos_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[pos_]))) return -1;
        long v = 0;
        while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
            v = v * 10 + (s_[pos_] - '0');
            if (v > 100000) fail("number too large");
            ++pos_;
        }
        return static_cast<int>(v);
    }
    int requiredNumber(const char* what) {
        int v = number();
        if (v < 0) fail(std::string("missing ") + what);
        return v;
    }

    std::vector<Item> parseItems() {
        std::vector<Item> items;
        for (;;) {
            skipBlanks();
            if (pos_ >= s_.size()) fail("missing ')'");
            if (s_[pos_] == ')') break;
            if (s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            parseItem(items);
        }
        return items;
    }

    void parseItem(std::vector<Item>& items) {
        Item it;
        int n = number();
        skipBlanks();
        if (pos_ >= s_.size()) fail("unexpected end");
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s_[pos_])));
        if (n == 0 && c != 'x') fail("zero count");
        if (c == 'h') {
            if (n < 0) fail("H without a count");
            ++pos_;
            if (pos_ + static_cast<size_t>(n) > s_.size()) fail("H text runs past the end");
            it.type = Item::Type::Literal;
            it.text = s_.substr(pos_, static_cast<size_t>(n));
            pos_ += static_cast<size_t>(n);
            items.push_back(std::move(it));
            return;
        }
        if (c == 'x') {
            ++pos_;
            it.type = Item::Type::Skip;
            it.w = n < 0 ? 1 : n;
            items.push_back(std::move(it));
            return;
        }
        if (c == '\'' || c == '"') {
            if (n >= 0) fail("count before a quoted literal");
            ++pos_;
            std::string text;
            for (;;) {
                if (pos_ >= s_.size()) fail("unterminated quoted literal");
                if (s_[pos_] == c) {
                    if (pos_ + 1 < s_.size() && s_[pos_ + 1] == c) {
                        text += c;
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                text += s_[pos_++];
            }
            it.type = Item::Type::Literal;
            it.text = text;
            items.push_back(std::move(it));
            return;
        }
        it.repeat = n < 0 ? 1 : n;
        ++pos_;
        switch (c) {
            case '/':
                it.type = Item::Type::Slash;
                break;
            case '(':
                it.type = Item::Type::Group;
                it.children = parseItems();
                if (!take(')')) fail("missing ')'");
                break;
            case 'i':
                it.type = Item::Type::Int;
                it.w = requiredNumber("width");
                if (it.w == 0) fail("zero width");
                if (take('.')) it.m = requiredNumber("minimum digits");
                if (it.m > it.w) fail("minimum digits wider than the field");
                break;
            case 'f':
            case 'e':
            case 'd':
                it.type = c == 'f' ? Item::Type::Fixed : Item::Type::Exp;
                it.expLetter = c == 'd' ? 'D' : 'E';
                it.w = requiredNumber("width");
                if (it.w == 0) fail("zero width");
                if (!take('.')) fail("missing '.d'");
                it.d = requiredNumber("decimals");
                break;
            case 'a':
                it.type = Item::Type::Text;
                it.w = std::max(number(), 0);
                break;
            default:
                fail(std::string("unknown edit item '") + s_[pos_ - 1] + "'");
        }
        items.push_back(std::move(it));
    }

    const std::string& s_;
    size_t pos_ = 0;
};

// Parsed lists are kept per thread; the solver uses a handful of lists
// many thousands of times (grid listing, Cp file, iteration lines).
std::shared_ptr<const Format> parsed(const std::string& list) {
    thread_local std::map<std::string, std::shared_ptr<const Format>> cache;
    auto hit = cache.find(list);
    if (hit != cache.end()) return hit->second;
    auto f = std::make_shared<const Format>(Parser(list).parse());
    if (cache.size() > 256) cache.clear();
    cache.emplace(list, f);
    return f;
}

std::string stars(int w) {
    return std::string(static_cast<size_t>(std::max(w, 0)), '*');
}

std::string rightJustify(const std::string& text, int w) {
    if (static_cast<int>(text.size()) > w) return stars(w);
    return std::string(static_cast<size_t>(w) - text.size(), ' ') + text;
}

// Infinity and NaN: written as text when it fits, asterisks otherwise.
std::string nonFinite(double v, int w) {
    if (std::isnan(v)) return rightJustify("NaN", w);
    std::string sign = v < 0 ? "-" : "";
    if (static_cast<int>(sign.size()) + 8 <= w) return rightJustify(sign + "Infinity", w);
    return rightJustify(sign + "Inf", w);
}

// ---------------------------------------------------------------------
// Output engine
// ---------------------------------------------------------------------
class Writer {
public:
    explicit Writer(const std::vector<Value>& values) : values_(values) {}

    // Returns false when an item needed a value and none was left.
    bool run(const std::vector<Item>& items, size_t from) {
        for (size_t n = from; n < items.size(); ++n) {
            const Item& it = items[n];
            for (int r = 0; r < it.repeat; ++r)
                if (!one(it)) return false;
        }
        return true;
    }

    bool exhausted() const { return next_ == values_.size(); }
    size_t used() const { return next_; }
    void newLine() { out_ += '\n'; }
    std::string take() { return std::move(out_); }

private:
    bool one(const Item& it) {
        switch (it.type) {
            case Item::Type::Literal:
                out_ += it.text;
                return true;
            case Item::Type::Skip:
                out_.append(static_cast<size_t>(it.w), ' ');
                return true;
            case Item::Type::Slash:
                out_ += '\n';
                return true;
            case Item::Type::Group:
                return run(it.children, 0);
            default:
                break;
        }
        if (exhausted()) return false;
        const Value& v = values_[next_++];
        switch (it.type) {
            case Item::Type::Int:
                out_ += fmtI(v.asInt(), it.w, it.m);
                break;
            case Item::Type::Fixed:
                out_ += fmtF(v.asReal(), it.w, it.d);
                break;
            case Item::Type::Exp: {
                std::string s = fmtE(v.asReal(), it.w, it.d);
                if (it.expLetter == 'D')
                    for (char& ch : s)
                        if (ch == 'E') ch = 'D';
                out_ += s;
                break;
            }
            case Item::Type::Text: {
                if (v.kind() != Value::Kind::Text)
                    throw std::invalid_argument("A edit item given a number");
                const std::string& s = v.asText();
                if (it.w == 0)
                    out_ += s;
                else if (static_cast<int>(s.size()) >= it.w)
                    out_ += s.substr(0, static_cast<size_t>(it.w));
                else
                    out_ += std::string(static_cast<size_t>(it.w) - s.size(), ' ') + s;
                break;
            }
            default:
                break;
        }
        return true;
    }

    const std::vector<Value>& values_;
    size_t next_ = 0;
    std::string out_;
};

// Splits a field into the parts of a decimal number.  On success `digits`
// holds the mantissa digits without the point, `pointPos` the number of
// them before the point (-1 when there is no point), `exponent` the
// exponent part and `negative` the sign.
bool splitNumber(const std::string& field, bool& negative, std::string& digits, int& pointPos,
                 long& exponent) {
    std::string s;
    for (char c : field)
        if (c != ' ') s += c;
    negative = false;
    digits.clear();
    pointPos = -1;
    exponent = 0;
    if (s.empty()) return true;
    size_t p = 0;
    if (s[p] == '+' || s[p] == '-') negative = s[p++] == '-';
    bool any = false;
    while (p < s.size()) {
        char c = s[p];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
            any = true;
        } else if (c == '.' && pointPos < 0) {
            pointPos = static_cast<int>(digits.size());
        } else {
            break;
        }
        ++p;
    }
    if (!any) return false;
    if (p == s.size()) return true;
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s[p])));
    if (c == 'E' || c == 'D')
        ++p;
    else if (c != '+' && c != '-')
        return false;
    bool expNegative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) expNegative = s[p++] == '-';
    if (p == s.size()) return false;
    long e = 0;
    for (; p < s.size(); ++p) {
        if (!std::isdigit(static_cast<unsigned char>(s[p]))) return false;
        if (e < 100000) e = e * 10 + (s[p] - '0');
    }
    exponent = expNegative ? -e : e;
    return true;
}

// The decimal text of a field in the form the C library converts, with the
// implied decimals applied; empty for an all-blank field.
bool decimalText(const std::string& field, int d, std::string& text) {
    bool negative;
    std::string digits;
    int pointPos;
    long exponent;
    if (!splitNumber(field, negative, digits, pointPos, exponent)) return false;
    text.clear();
    if (digits.empty()) return true;
    if (pointPos < 0) {
        pointPos = static_cast<int>(digits.size());
        exponent -= d;
    }
    text = std::string(negative ? "-" : "") + "0." + digits + "e" +
           std::to_string(exponent + pointPos);
    return true;
}

struct Field {
    int column;  // first column, 0-based
    int w;
    int d;
};

// The real fields of a one-line input format, in order, at most `count`.
void inputFields(const std::vector<Item>& items, int& column, int count,
                 std::vector<Field>& fields) {
    for (const Item& it : items) {
        for (int r = 0; r < it.repeat; ++r) {
            if (static_cast<int>(fields.size()) >= count) return;
            switch (it.type) {
                case Item::Type::Skip:
                    column += it.w;
                    break;
                case Item::Type::Fixed:
                case Item::Type::Exp:
                    fields.push_back({column, it.w, it.d});
                    column += it.w;
                    break;
                case Item::Type::Int:
                    fields.push_back({column, it.w, 0});
                    column += it.w;
                    break;
                case Item::Type::Text:
                    column = it.w == 0 ? 1 << 20 : column + it.w;
                    break;
                case Item::Type::Group:
                    inputFields(it.children, column, count, fields);
                    break;
                case Item::Type::Literal:
                case Item::Type::Slash:
                    throw std::invalid_argument("input format with a literal or '/'");
            }
        }
    }
}

template <typename Real>
bool readRealsT(const std::string& formatList, const std::string& line, int count,
                std::vector<Real>& values, int& badColumn) {
    std::shared_ptr<const Format> f = parsed(formatList);
    std::vector<Field> fields;
    int column = 0;
    inputFields(f->items, column, count, fields);
    values.clear();
    for (const Field& fd : fields) {
        std::string text;
        if (static_cast<size_t>(fd.column) < line.size())
            text = line.substr(static_cast<size_t>(fd.column), static_cast<size_t>(fd.w));
        Real v;
        bool ok;
        if constexpr (sizeof(Real) == sizeof(float))
            ok = parseFSingle(text, fd.d, v);
        else
            ok = parseF(text, fd.d, v);
        if (!ok) {
            badColumn = fd.column + 1;
            return false;
        }
        values.push_back(v);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------
// Single edit descriptors
// ---------------------------------------------------------------------
std::string fmtI(long value, int w, int m) {
    unsigned long mag =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    std::string digits = std::to_string(mag);
    if (static_cast<int>(digits.size()) < m)
        digits.insert(0, static_cast<size_t>(m) - digits.size(), '0');
    if (value < 0) digits.insert(0, 1, '-');
    return rightJustify(digits, w);
}

std::string fmtF(double value, int w, int d) {
    if (!std::isfinite(value)) return nonFinite(value, w);
    // "%#.*f" keeps the decimal point when d = 0.
    int size = std::snprintf(nullptr, 0, "%#.*f", d, std::fabs(value));
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%#.*f", d, std::fabs(value));
    text.resize(static_cast<size_t>(size));
    bool nonzero = text.find_first_of("123456789") != std::string::npos;
    if (std::signbit(value) && nonzero) text.insert(0, 1, '-');
    if (static_cast<int>(text.size()) > w) {
        // Drop the zero before the point of a value below 1.
        size_t zero = text[0] == '-' ? 1 : 0;
        if (text.compare(zero, 2, "0.") == 0) text.erase(zero, 1);
    }
    return rightJustify(text, w);
}

std::string fmtE(double value, int w, int d) {
    if (!std::isfinite(value)) return nonFinite(value, w);
    // d.ddd...e+XX, rounded exactly (std::to_chars gives the digits the C
    // library prints, several times faster: the grid listing and the
    // restart files are mostly this); as 0.ddd the exponent is one larger.
    const int kept = std::max(d, 0);
    char buf[512];
    long e = 0;
    std::string digits;
    const bool zeros = value == 0.0 || d <= 0;
    if (value != 0.0 && kept < 400) {
        const std::to_chars_result r =
            std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific,
                          zeros ? 0 : kept - 1);
        const char* ePos = std::find(buf, r.ptr, 'e');
        if (!zeros)
            for (const char* c = buf; c < ePos; ++c)
                if (*c != '.') digits += *c;
        for (const char* c = ePos + 2; c < r.ptr; ++c) e = 10 * e + (*c - '0');
        e = (ePos[1] == '-' ? -e : e) + 1;
    } else if (value != 0.0) {
        std::string text(static_cast<size_t>(kept) + 16, '\0');
        const int size =
            std::snprintf(&text[0], text.size(), "%.*e", zeros ? 0 : kept - 1, std::fabs(value));
        text.resize(static_cast<size_t>(size));
        const size_t ePos = text.find('e');
        if (!zeros)
            for (size_t n = 0; n < ePos; ++n)
                if (text[n] != '.') digits += text[n];
        e = std::strtol(text.c_str() + ePos + 1, nullptr, 10) + 1;
    }
    if (zeros) digits.assign(static_cast<size_t>(kept), '0');
    const long ae = e < 0 ? -e : e;
    if (ae > 999) return stars(w);
    // E+dd, or +ddd without the letter.
    std::string expText;
    if (ae <= 99) expText += 'E';
    expText += e < 0 ? '-' : '+';
    if (ae > 99) expText += static_cast<char>('0' + ae / 100);
    expText += static_cast<char>('0' + ae / 10 % 10);
    expText += static_cast<char>('0' + ae % 10);
    const bool negative = std::signbit(value) && value != 0.0;
    const bool lead = (negative ? 1 : 0) + 2 + digits.size() + expText.size() <=
                      static_cast<size_t>(std::max(w, 0));
    if (!lead && (negative ? 1 : 0) + 1 + digits.size() + expText.size() >
                     static_cast<size_t>(std::max(w, 0)))
        return stars(w);
    std::string text(static_cast<size_t>(w), ' ');
    size_t at = static_cast<size_t>(w) -
                ((negative ? 1 : 0) + (lead ? 2 : 1) + digits.size() + expText.size());
    if (negative) text[at++] = '-';
    if (lead) text[at++] = '0';
    text[at++] = '.';
    text.replace(at, digits.size(), digits);
    at += digits.size();
    text.replace(at, expText.size(), expText);
    return text;
}

// ---------------------------------------------------------------------
// Whole records
// ---------------------------------------------------------------------
std::string format(const std::string& formatList, const std::vector<Value>& values) {
    std::shared_ptr<const Format> f = parsed(formatList);
    Writer out(values);
    size_t from = 0;
    for (;;) {
        size_t before = out.used();
        if (!out.run(f->items, from)) break;  // values used up at a data item
        if (out.exhausted()) break;
        if (out.used() == before)
            throw std::invalid_argument("format list \"" + formatList +
                                        "\" has no item for the values given");
        // Values remain at the end of the list: a new line, and the list is
        // taken again from its last top-level group.
        out.newLine();
        from = f->reversion;
    }
    return out.take();
}

bool parseF(const std::string& field, int d, double& value) {
    std::string text;
    if (!decimalText(field, d, text)) return false;
    if (text.empty()) {
        value = 0.0;
        return true;
    }
    double v = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(v)) return false;
    value = v;
    return true;
}

bool parseFSingle(const std::string& field, int d, float& value) {
    std::string text;
    if (!decimalText(field, d, text)) return false;
    if (text.empty()) {
        value = 0.0f;
        return true;
    }
    float v = std::strtof(text.c_str(), nullptr);
    if (!std::isfinite(v)) return false;
    value = v;
    return true;
}

bool readReals(const std::string& formatList, const std::string& line, int count,
               std::vector<double>& values, int& badColumn) {
    return readRealsT(formatList, line, count, values, badColumn);
}

bool readReals(const std::string& formatList, const std::string& line, int count,
               std::vector<float>& values, int& badColumn) {
    return readRealsT(formatList, line, count, values, badColumn);
}

}  // namespace ff
}  // namespace quarel
