#include "deck/deck.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace traz {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Integer item: optional sign and decimal digits, within 32 bits.
bool parse_int(std::string_view tok, std::int32_t& v, bool& out_of_range) {
    out_of_range = false;
    std::size_t i = 0;
    bool neg = false;
    if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) neg = tok[i++] == '-';
    if (i == tok.size()) return false;
    std::int64_t x = 0;
    for (; i < tok.size(); ++i) {
        if (tok[i] < '0' || tok[i] > '9') return false;
        x = x * 10 + (tok[i] - '0');
        if (x > std::int64_t{1} << 32) out_of_range = true, x = std::int64_t{1} << 32;
    }
    if (neg) x = -x;
    if (x < std::numeric_limits<std::int32_t>::min() || x > std::numeric_limits<std::int32_t>::max())
        out_of_range = true;
    if (out_of_range) return false;
    v = static_cast<std::int32_t>(x);
    return true;
}

// Real item: optional sign, digits with an optional point (at least one digit), and an
// optional exponent introduced by E, e, D or d.
bool parse_double(std::string_view tok, double& v, bool& out_of_range) {
    out_of_range = false;
    char buf[128];
    if (tok.empty() || tok.size() >= sizeof buf) return false;
    std::size_t i = 0, n = 0;
    if (tok[i] == '+' || tok[i] == '-') buf[n++] = tok[i++];
    std::size_t digits = 0;
    while (i < tok.size() && tok[i] >= '0' && tok[i] <= '9') buf[n++] = tok[i++], ++digits;
    if (i < tok.size() && tok[i] == '.') {
        buf[n++] = tok[i++];
        while (i < tok.size() && tok[i] >= '0' && tok[i] <= '9') buf[n++] = tok[i++], ++digits;
    }
    if (digits == 0) return false;
    if (i < tok.size() && std::strchr("EeDd", tok[i]) != nullptr) {
        buf[n++] = 'e';
        ++i;
        if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) buf[n++] = tok[i++];
        std::size_t exp_digits = 0;
        while (i < tok.size() && tok[i] >= '0' && tok[i] <= '9') buf[n++] = tok[i++], ++exp_digits;
        if (exp_digits == 0) return false;
    }
    if (i != tok.size()) return false;
    const char* first = buf[0] == '+' ? buf + 1 : buf;
    auto [end, ec] = std::from_chars(first, buf + n, v);
    if (end != buf + n) return false;
    if (ec == std::errc::result_out_of_range) {
        // Beyond the double range the value is refused; below it, it reads as the nearest
        // double, a zero of its sign, as subnormal values read as themselves.
        buf[n] = '\0';
        if (std::isinf(std::strtod(buf, nullptr))) return out_of_range = true, false;
        v = buf[0] == '-' ? -0.0 : 0.0;
        return true;
    }
    return ec == std::errc{};
}

std::string quoted(std::string_view tok) {
    std::string s = "\"";
    for (char c : tok.substr(0, 40)) s += (static_cast<unsigned char>(c) < 32 || c == 127) ? '?' : c;
    if (tok.size() > 40) s += "...";
    return s + "\"";
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

} // namespace

namespace {

std::string comma_hint(const std::vector<std::pair<int, std::string>>& commas, int first, int last) {
    for (const auto& [line, text] : commas) {
        if (line < first || line > last) continue;
        const std::size_t comma = text.find(',');
        if (comma == std::string::npos) continue;
        std::string point = text;
        point[comma] = '.';
        return " (\"" + text + "\" on line " + std::to_string(line) + " reads as two values, " + text.substr(0, comma) +
               " and " + text.substr(comma + 1) + ": write " + point + " for a decimal fraction)";
    }
    return "";
}

} // namespace

std::string decimal_comma_hint(const DeckLines& lines, int first, int last) {
    return comma_hint(lines.decimal_commas, first, last);
}

std::string statement_name(int no, int index) {
    switch (no) {
    case 1: return "predictors, stages, applicants and retained counts";
    case 2: return "predictor weights of stage " + std::to_string(index);
    case 3: return "predictor validities";
    case 4: return "predictor correlations, row " + std::to_string(index);
    case 5: return "predictor effect sizes of group 1";
    case 6: return "groups, proportion of group 1 and passes";
    case 7: return "criterion effect size of group 1";
    default: return "relative error and evaluation budget";
    }
}

DeckReader::DeckReader(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) next_start_ = 3;
}

void DeckReader::begin(int no, std::string what) {
    stmt_ = no;
    item_ = 0;
    first_line_ = 0;
    what_ = std::move(what);
    in_line_ = false;
    comma_seen_ = true;  // a comma before the first value leaves that value empty
}

bool DeckReader::next_line() {
    if (next_start_ >= text_.size()) return false;
    const std::size_t nl = text_.find_first_of("\r\n", next_start_);
    line_end_ = nl == std::string_view::npos ? text_.size() : nl;
    pos_ = next_start_;
    next_start_ = line_end_ + 1;
    if (nl != std::string_view::npos && text_[nl] == '\r' && nl + 1 < text_.size() && text_[nl + 1] == '\n')
        ++next_start_;
    ++line_no_;
    in_line_ = true;
    on_line_ = 0;
    // A comma between two digits, "0,5", is most likely a decimal comma.
    for (std::size_t i = pos_ + 1; i + 1 < line_end_; ++i)
        if (text_[i] == ',' && is_digit(text_[i - 1]) && is_digit(text_[i + 1])) {
            std::size_t a = i - 1, b = i + 1;
            // The number around it, at most 20 characters on either side.
            while (a > pos_ && a + 20 > i && !is_blank(text_[a - 1]) && text_[a - 1] != ',') --a;
            while (b + 1 < line_end_ && b < i + 20 && !is_blank(text_[b + 1]) && text_[b + 1] != ',') ++b;
            decimal_commas_.emplace_back(line_no_, std::string(text_.substr(a, b - a + 1)));
            break;
        }
    return true;
}

int DeckReader::values_left() const {
    int numbers = 0;
    std::size_t i = pos_;
    for (;;) {
        while (i < line_end_ && (is_blank(text_[i]) || text_[i] == ',')) ++i;
        if (i == line_end_) return numbers;
        const std::size_t start = i;
        while (i < line_end_ && !is_blank(text_[i]) && text_[i] != ',') ++i;
        double v = 0.0;
        bool out_of_range = false;
        if (!parse_double(text_.substr(start, i - start), v, out_of_range)) return numbers >= 2 ? numbers : 0;
        ++numbers;
    }
}

// Next value on the current line or the following ones. Values are separated by blanks,
// tabs, line ends or a comma; a comma with no value since the previous one marks an
// empty value, returned as the token ",".
bool DeckReader::next_token(std::string_view& tok) {
    if (!in_line_ && !next_line()) return false;
    for (;;) {
        while (pos_ < line_end_ && (is_blank(text_[pos_]) || text_[pos_] == ',')) {
            if (text_[pos_] == ',') {
                if (comma_seen_) {
                    tok = text_.substr(pos_, 1);
                    ++pos_;
                    if (first_line_ == 0) first_line_ = line_no_;
                    return true;
                }
                comma_seen_ = true;
            }
            ++pos_;
        }
        if (pos_ < line_end_) break;
        if (!next_line()) return false;
    }
    std::size_t start = pos_;
    while (pos_ < line_end_ && !is_blank(text_[pos_]) && text_[pos_] != ',') ++pos_;
    tok = text_.substr(start, pos_ - start);
    comma_seen_ = false;
    ++on_line_;
    if (first_line_ == 0) first_line_ = line_no_;
    return true;
}

bool DeckReader::fail(const std::string& why) {
    fault_.statement = stmt_;
    fault_.item = item_;
    fault_.line = fault_.last_line = line_no_;
    fault_.message = "deck statement " + std::to_string(stmt_) + " (" + what_ + "), item " +
                     std::to_string(item_) + ": " + why;
    return false;
}

bool DeckReader::read_int(std::int32_t& v) {
    ++item_;
    std::string_view tok;
    if (!next_token(tok))
        return fail("the deck ends before this item (after line " + std::to_string(line_no_) + ")");
    bool out_of_range = false;
    if (tok == ",") return fail("empty value between commas on line " + std::to_string(line_no_));
    if (parse_int(tok, v, out_of_range)) return true;
    if (out_of_range)
        return fail("integer out of range, found " + quoted(tok) + " on line " + std::to_string(line_no_));
    return fail("expected an integer, found " + quoted(tok) + " on line " + std::to_string(line_no_));
}

bool DeckReader::read_double(double& v) {
    ++item_;
    std::string_view tok;
    if (!next_token(tok))
        return fail("the deck ends before this item (after line " + std::to_string(line_no_) + ")");
    if (tok == ",") return fail("empty value between commas on line " + std::to_string(line_no_));
    bool out_of_range = false;
    if (parse_double(tok, v, out_of_range)) return true;
    if (out_of_range)
        return fail("number out of range, found " + quoted(tok) + " on line " + std::to_string(line_no_));
    return fail("expected a number, found " + quoted(tok) + " on line " + std::to_string(line_no_));
}

void DeckReader::end() {
    if (!in_line_) next_line();
    if (in_line_) {
        if (const int left = values_left(); left > 0) {
            std::string note = "line " + std::to_string(line_no_) + " has " + std::to_string(on_line_ + left) +
                               " values, statement " + std::to_string(stmt_) + " needs " + std::to_string(item_);
            if (first_line_ != 0 && first_line_ != line_no_)
                note += " (from line " + std::to_string(first_line_) + " on, " + std::to_string(on_line_) +
                        " of them on this line)";
            notes_.push_back(note + ": the rest is ignored" + comma_hint(decimal_commas_, line_no_, line_no_));
        }
    }
    in_line_ = false;
    if (first_line_ == 0) first_line_ = line_no_;
}

namespace {

// Reads n values into v[0], v[stride], ...; the line of each of the first nlines values
// goes to lines[0], lines[lines_stride], ...
bool read_doubles(DeckReader& in, double* v, int n, int stride = 1, std::int32_t* lines = nullptr,
                  int nlines = 0, int lines_stride = 1) {
    for (int i = 0; i < n; ++i) {
        if (!in.read_double(v[i * stride])) return false;
        if (i < nlines) lines[i * lines_stride] = in.line();
    }
    return true;
}

} // namespace

bool read_deck(std::string_view text, Deck& d, std::string& error) {
    DeckFault fault;
    const bool ok = read_deck(text, d, fault);
    error = fault.message;
    return ok;
}

bool read_deck(std::string_view text, Deck& d, DeckFault& fault) {
    DeckReader in(text);
    DeckLines& at = d.lines;
    const auto keep_notes = [&] {
        at.notes = in.notes();
        at.decimal_commas = in.decimal_commas();
    };
    auto fail = [&](const std::string& why) {
        fault = in.fault();
        if (fault.message.empty()) fault.message = why;
        keep_notes();
        fault.message += decimal_comma_hint(at, fault.line, fault.last_line);
        return false;
    };
    auto refuse = [&](const std::string& why) {
        in.fail(why);
        return fail(why);
    };

    // 1: counts.
    in.begin(1, statement_name(1));
    if (!in.read_int(d.npred)) return fail("");
    at.counts[0] = in.line();
    if (d.npred < 0 || d.npred > kReadPred)
        return refuse("predictor count " + std::to_string(d.npred) + " is outside 0.." +
                      std::to_string(kReadPred));
    if (!in.read_int(d.nstage)) return fail("");
    at.counts[1] = in.line();
    if (d.nstage < 1 || d.nstage > kReadStage)
        return refuse("stage count " + std::to_string(d.nstage) + " is outside 1.." +
                      std::to_string(kReadStage));
    if (!in.read_int(d.napp)) return fail("");
    at.counts[2] = in.line();
    for (int k = 0; k < d.nstage; ++k) {
        if (!in.read_int(d.ns[k])) return fail("");
        if (k < kMaxStage) at.counts[3 + k] = in.line();
    }
    in.end();

    // 2: one line of weights per stage.
    const int pred_lines = d.npred < kMaxPred ? d.npred : kMaxPred;
    for (int j = 1; j <= d.nstage; ++j) {
        in.begin(2, statement_name(2, j));
        if (!read_doubles(in, &d.Weip(j, 1), d.npred, kReadStage)) return fail("");
        in.end();
        if (j <= kMaxStage) at.weights[j - 1] = in.first_line(), at.weights_last[j - 1] = in.line();
    }
    d.srtot = static_cast<double>(d.ns[d.nstage - 1]) / static_cast<double>(d.napp);

    // 3 and 4: validities and the upper triangle of the predictor correlations.
    in.begin(3, statement_name(3));
    if (!read_doubles(in, d.coryt, d.npred, 1, at.validities, pred_lines)) return fail("");
    in.end();
    at.validities_first = in.first_line();
    for (int i = 1; i <= d.npred - 1; ++i) {
        in.begin(4, statement_name(4, i));
        const int nlines = i < kMaxPred ? pred_lines - i : 0;
        if (!read_doubles(in, &d.Cormt(i, i + 1), d.npred - i, kReadPred,
                          i < kMaxPred ? &at.correlations[(i - 1) + kMaxPred * i] : nullptr, nlines, kMaxPred))
            return fail("");
        in.end();
    }
    for (int i = 1; i <= d.npred; ++i) {
        for (int j = 1; j < i; ++j) d.Cormt(i, j) = d.Cormt(j, i);
        d.Cormt(i, i) = 1.0;
    }

    // 5: effect sizes of group 1; every other group's are zero.
    in.begin(5, statement_name(5));
    if (!read_doubles(in, &d.Eft(1, 1), d.npred, 6)) return fail("");
    in.end();
    at.effects = in.first_line();

    // 6: groups, proportion of group 1, passes.
    in.begin(6, statement_name(6));
    if (!in.read_int(d.ngroup)) return fail("");
    at.groups[0] = in.line();
    if (d.ngroup < 1 || d.ngroup > kMaxGroup)
        return refuse("group count " + std::to_string(d.ngroup) + " is outside 1.." +
                      std::to_string(kMaxGroup));
    if (!in.read_double(d.pg[0])) return fail("");
    at.groups[1] = in.line();
    if (!in.read_int(d.npass)) return fail("");
    at.groups[2] = in.line();
    if (d.npass > kMaxPass)
        return refuse("pass count " + std::to_string(d.npass) + " is above " + std::to_string(kMaxPass));
    in.end();
    d.pg[1] = 1.0 - d.pg[0];

    // 7: criterion effect size of group 1.
    in.begin(7, statement_name(7));
    if (!in.read_double(d.efc[0])) return fail("");
    at.criterion = in.line();
    in.end();
    d.efc[1] = 0.0;

    // 8: cubature accuracy and budget.
    in.begin(8, statement_name(8));
    if (!in.read_double(d.relerr)) return fail("");
    at.budget[0] = in.line();
    if (!in.read_int(d.maxcls)) return fail("");
    at.budget[1] = in.line();
    in.end();
    keep_notes();
    return true;
}

} // namespace traz
