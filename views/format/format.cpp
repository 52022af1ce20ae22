// Record-layout writer: layout parsing, the write loop and number rendering.
#include "views/format/format.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace traz {
namespace {

// Limits that keep the conversion buffers fixed in size; the report's fields
// are far below them.
constexpr int kMaxWidth = 256;
constexpr int kMaxCount = 999;
// Sign, 309 integer digits of the largest double, point and kMaxWidth decimals.
constexpr std::size_t kBufSize = 1 + 309 + 1 + kMaxWidth + 8;

[[noreturn]] void fail(const char* what, std::string_view layout)
{
    std::string msg = "record layout ";
    msg += layout;
    msg += ": ";
    msg += what;
    throw std::logic_error(msg);
}

enum class Kind { text, skip, slash, ifield, ffield, dfield };

struct Item {
    Kind kind = Kind::slash;
    int count = 1;          // repeat count of a field, or n of nX
    int w = 0;              // field width
    int d = 0;              // decimals (F) or significant digits (D)
    std::string_view text;  // body of a text, doubled quotes still in it
    char quote = '\'';
};

// Walks the items of one layout, checking its form as it goes.
class Layout {
public:
    explicit Layout(std::string_view layout) : whole_(layout)
    {
        std::size_t b = layout.find_first_not_of(' ');
        std::size_t e = layout.find_last_not_of(' ');
        if (b == std::string_view::npos || layout[b] != '(' || layout[e] != ')' || e == b)
            fail("must be enclosed in parentheses", whole_);
        body_ = layout.substr(b + 1, e - b - 1);
    }

    void restart()
    {
        pos_ = 0;
        first_ = true;
        after_comma_ = false;
        prev_slash_ = false;
    }

    // Next item into it; false at the end of the layout.
    bool next(Item& it)
    {
        skip_blanks();
        if (pos_ == body_.size()) {
            if (after_comma_)
                fail("ends with a comma", whole_);
            return false;
        }
        if (!first_ && !after_comma_ && !prev_slash_ && body_[pos_] != '/')
            fail("items must be separated by commas", whole_);
        parse_item(it);
        first_ = false;
        prev_slash_ = it.kind == Kind::slash;
        after_comma_ = false;
        skip_blanks();
        if (pos_ < body_.size() && body_[pos_] == ',') {
            ++pos_;
            after_comma_ = true;
        }
        return true;
    }

    // Check the form of the items not yet walked.
    void check_rest()
    {
        Item it;
        while (next(it)) {
        }
    }

private:
    void skip_blanks()
    {
        while (pos_ < body_.size() && body_[pos_] == ' ')
            ++pos_;
    }

    bool at_digit() const { return pos_ < body_.size() && body_[pos_] >= '0' && body_[pos_] <= '9'; }

    char upper_at() const
    {
        if (pos_ >= body_.size())
            return '\0';
        char c = body_[pos_];
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }

    int number(int lo, int hi)
    {
        if (!at_digit())
            fail("number expected", whole_);
        int n = 0;
        while (at_digit()) {
            n = n * 10 + (body_[pos_++] - '0');
            if (n > kMaxCount)
                fail("number too large", whole_);
        }
        if (n < lo || n > hi)
            fail("number out of range", whole_);
        return n;
    }

    void parse_text(Item& it)
    {
        it.kind = Kind::text;
        it.quote = body_[pos_++];
        std::size_t start = pos_;
        for (;;) {
            std::size_t q = body_.find(it.quote, pos_);
            if (q == std::string_view::npos)
                fail("unterminated text", whole_);
            if (q + 1 < body_.size() && body_[q + 1] == it.quote) {
                pos_ = q + 2;
                continue;
            }
            it.text = body_.substr(start, q - start);
            pos_ = q + 1;
            return;
        }
    }

    void parse_field(Item& it, char letter)
    {
        ++pos_;
        it.kind = letter == 'I' ? Kind::ifield : letter == 'F' ? Kind::ffield : Kind::dfield;
        it.w = number(1, kMaxWidth);
        it.d = 0;
        if (it.kind == Kind::ifield)
            return;
        if (pos_ >= body_.size() || body_[pos_] != '.')
            fail("F and D fields need a number of digits", whole_);
        ++pos_;
        it.d = number(it.kind == Kind::dfield ? 1 : 0, kMaxWidth);
    }

    void parse_item(Item& it)
    {
        char c = body_[pos_];
        if (c == '\'' || c == '"') {
            parse_text(it);
            return;
        }
        if (c == '/') {
            it.kind = Kind::slash;
            ++pos_;
            return;
        }
        bool counted = at_digit();
        it.count = counted ? number(1, kMaxCount) : 1;
        char letter = upper_at();
        if (letter == 'X') {
            if (!counted)
                fail("X needs a column count", whole_);
            it.kind = Kind::skip;
            ++pos_;
            return;
        }
        if (letter == 'I' || letter == 'F' || letter == 'D') {
            parse_field(it, letter);
            return;
        }
        fail("unknown item", whole_);
    }

    std::string_view whole_;
    std::string_view body_;
    std::size_t pos_ = 0;
    bool first_ = true;
    bool after_comma_ = false;
    bool prev_slash_ = false;
};

// The output of one write operation, with the skip not yet materialised.
class Lines {
public:
    explicit Lines(std::string& out) : out_(out) {}

    void skip(int n) { pending_ += n; }

    void end()
    {
        out_.push_back('\n');
        pending_ = 0;
    }

    void text(std::string_view body, char quote)
    {
        flush_skip();
        for (std::size_t i = 0; i < body.size(); ++i) {
            out_.push_back(body[i]);
            if (body[i] == quote)
                ++i; // doubled quote: one written
        }
    }

    // s right-aligned in w columns; w asterisks when s is wider.
    void field(int w, const char* s, std::size_t len)
    {
        flush_skip();
        std::size_t width = static_cast<std::size_t>(w);
        if (len > width) {
            out_.append(width, '*');
            return;
        }
        out_.append(width - len, ' ');
        out_.append(s, len);
    }

    void stars(int w)
    {
        flush_skip();
        out_.append(static_cast<std::size_t>(w), '*');
    }

private:
    void flush_skip()
    {
        out_.append(static_cast<std::size_t>(pending_), ' ');
        pending_ = 0;
    }

    std::string& out_;
    int pending_ = 0;
};

// Iw: sign and digits without leading zeros.
void put_i(Lines& lines, int w, std::int32_t v)
{
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    lines.field(w, buf, static_cast<std::size_t>(r.ptr - buf));
}

// Fw.d: fixed point, d decimals; no sign when every digit is 0; the 0 before
// the point is dropped when that alone makes the value fit.
void put_f(Lines& lines, int w, int d, double v)
{
    if (!std::isfinite(v)) {
        lines.stars(w);
        return;
    }
    char buf[kBufSize];
    char* digits = buf + 1; // buf[0] is kept for the sign
    auto r = std::to_chars(digits, buf + sizeof buf - 1, std::fabs(v), std::chars_format::fixed, d);
    if (r.ec != std::errc{}) {
        lines.stars(w);
        return;
    }
    char* end = r.ptr;
    if (d == 0)
        *end++ = '.';
    bool nonzero = false;
    for (const char* p = digits; p != end; ++p)
        nonzero = nonzero || (*p >= '1' && *p <= '9');
    char* start = digits;
    if (std::signbit(v) && nonzero) {
        *--start = '-';
    }
    std::size_t len = static_cast<std::size_t>(end - start);
    if (len == static_cast<std::size_t>(w) + 1 && digits[0] == '0') {
        // Drop the 0 before the point, keeping a sign in front.
        if (start == digits) {
            start = digits + 1;
        } else {
            digits[0] = '-';
            start = digits;
        }
        --len;
    }
    lines.field(w, start, len);
}

// Dw.d: [-][0].ddd followed by E+dd, or by +ddd when the exponent has three digits.
void put_d(Lines& lines, int w, int d, double v)
{
    if (!std::isfinite(v)) {
        lines.stars(w);
        return;
    }
    double a = std::fabs(v);
    bool neg = std::signbit(v) && a != 0.0;
    std::size_t need = (neg ? 1u : 0u) + 1u + static_cast<std::size_t>(d) + 4u; // sign . digits exponent
    if (static_cast<std::size_t>(w) < need) {
        lines.stars(w);
        return;
    }

    char sci[kBufSize];
    char mant[kMaxWidth];
    int exponent = 0;
    if (a == 0.0) {
        for (int i = 0; i < d; ++i)
            mant[i] = '0';
    } else {
        // d.ddde±xx with d significant digits, then shift the point one place.
        auto r = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific, d - 1);
        const char* p = sci;
        mant[0] = *p++;
        if (d > 1)
            ++p; // the point
        for (int i = 1; i < d; ++i)
            mant[i] = *p++;
        ++p; // 'e'
        bool eneg = *p++ == '-';
        int e = 0;
        for (; p != r.ptr; ++p)
            e = e * 10 + (*p - '0');
        exponent = (eneg ? -e : e) + 1;
    }

    char buf[kMaxWidth + 8];
    std::size_t n = 0;
    if (neg)
        buf[n++] = '-';
    if (static_cast<std::size_t>(w) > need)
        buf[n++] = '0';
    buf[n++] = '.';
    for (int i = 0; i < d; ++i)
        buf[n++] = mant[i];
    int ae = exponent < 0 ? -exponent : exponent;
    if (ae <= 99) {
        buf[n++] = 'E';
        buf[n++] = exponent < 0 ? '-' : '+';
    } else {
        buf[n++] = exponent < 0 ? '-' : '+';
        buf[n++] = static_cast<char>('0' + ae / 100);
    }
    buf[n++] = static_cast<char>('0' + ae / 10 % 10);
    buf[n++] = static_cast<char>('0' + ae % 10);
    lines.field(w, buf, n);
}

void put_value(Lines& lines, const Item& it, const FieldValue& v, std::string_view layout)
{
    if (it.kind == Kind::ifield) {
        if (!std::holds_alternative<std::int32_t>(v))
            fail("real value for an I field", layout);
        put_i(lines, it.w, std::get<std::int32_t>(v));
        return;
    }
    if (!std::holds_alternative<double>(v))
        fail("integer value for an F or D field", layout);
    if (it.kind == Kind::ffield)
        put_f(lines, it.w, it.d, std::get<double>(v));
    else
        put_d(lines, it.w, it.d, std::get<double>(v));
}

} // namespace

std::string render(std::string_view layout, std::span<const FieldValue> values)
{
    Layout items(layout);
    std::string out;
    out.reserve(128);
    Lines lines(out);
    std::size_t used = 0;
    for (;;) {
        items.restart();
        bool has_field = false;
        Item it;
        while (items.next(it)) {
            switch (it.kind) {
            case Kind::text:
                lines.text(it.text, it.quote);
                break;
            case Kind::skip:
                lines.skip(it.count);
                break;
            case Kind::slash:
                lines.end();
                break;
            case Kind::ifield:
            case Kind::ffield:
            case Kind::dfield:
                has_field = true;
                for (int k = 0; k < it.count; ++k) {
                    if (used == values.size()) {
                        // A field with no value left: the operation ends here.
                        items.check_rest();
                        lines.end();
                        return out;
                    }
                    put_value(lines, it, values[used++], layout);
                }
                break;
            }
        }
        if (used == values.size())
            break;
        if (!has_field)
            fail("values given but the layout has no field", layout);
        lines.end(); // layout reuse: new line, start again from the beginning
    }
    lines.end();
    return out;
}

std::string render(std::string_view layout, std::initializer_list<FieldValue> values)
{
    return render(layout, std::span<const FieldValue>(values.begin(), values.size()));
}

void write(std::FILE* out, std::string_view layout, std::span<const FieldValue> values)
{
    std::string s = render(layout, values);
    std::fwrite(s.data(), 1, s.size(), out);
}

void write(std::FILE* out, std::string_view layout, std::initializer_list<FieldValue> values)
{
    write(out, layout, std::span<const FieldValue>(values.begin(), values.size()));
}

} // namespace traz
