#include "deck/sweep_range.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>

namespace traz {

namespace {

struct Known {
    const char* name;
    Quantity q;
    int max_index;  // 0: the quantity takes no index
    bool integer;
};
constexpr Known kKnown[] = {
    {"ns", Quantity::ns, kReadStage, true},  {"napp", Quantity::napp, 0, true},
    {"pg", Quantity::pg, 0, false},          {"efc", Quantity::efc, 0, false},
    {"ef", Quantity::ef, kReadPred, false},  {"cory", Quantity::cory, kReadPred, false},
    {"mix", Quantity::mix, kReadStage, false},
};

const Known& known(Quantity q) {
    for (const Known& k : kKnown)
        if (k.q == q) return k;
    return kKnown[0];
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A finite decimal number, optionally signed, with an optional exponent.
bool parse_number(std::string_view s, double& v) {
    s = trimmed(s);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && (s.front() == '+' || s.front() == '-')) return false;
    }
    if (s.empty()) return false;
    for (char c : s)  // no inf, nan or hexadecimal
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc{} && end == s.data() + s.size() && std::isfinite(v);
}

std::string quoted(std::string_view s) {
    std::string q;
    q.reserve(s.size() + 2);
    q += '"';
    q.append(s);
    q += '"';
    return q;
}

bool is_count(double v) {
    return v == std::floor(v) && v >= std::numeric_limits<std::int32_t>::min() &&
           v <= std::numeric_limits<std::int32_t>::max();
}

// The decimal value the user meant: v to 15 significant digits (and no negative zero).
double to_15_digits(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    const double r = std::strtod(buf, nullptr);
    return r == 0.0 ? 0.0 : r;
}

} // namespace

bool parse_range(const std::string& text, SweepRange& out, std::string& error) {
    auto fail = [&](const std::string& why) {
        error = "range " + quoted(text) + ": " + why;
        return false;
    };
    const auto eq = text.find('=');
    if (eq == std::string::npos) return fail("expected NAME=FROM:TO:STEP or NAME=V1,V2,...");
    const std::string_view lhs = trimmed(std::string_view(text).substr(0, eq));
    const std::string_view rhs = trimmed(std::string_view(text).substr(eq + 1));

    // The name and its index.
    const auto paren = lhs.find('(');
    const std::string_view base = trimmed(lhs.substr(0, paren));
    const Known* k = nullptr;
    for (const Known& c : kKnown)
        if (base == c.name) k = &c;
    if (k == nullptr) return fail("unknown quantity (known: ns(k), napp, pg, efc, ef(i), cory(i), mix(k))");
    out.q = k->q;
    out.index = 0;
    out.name = k->name;
    if (paren == std::string_view::npos) {
        if (k->max_index != 0) return fail(out.name + " needs an index, as in " + out.name + "(2)");
    } else {
        if (k->max_index == 0) return fail(out.name + " takes no index");
        if (lhs.back() != ')') return fail("expected " + out.name + "(N)");
        const std::string_view idx = trimmed(lhs.substr(paren + 1, lhs.size() - paren - 2));
        int i = 0;
        auto [end, ec] = std::from_chars(idx.data(), idx.data() + idx.size(), i);
        if (idx.empty() || ec != std::errc{} || end != idx.data() + idx.size())
            return fail("the index of " + out.name + " is not a whole number");
        if (i < 1 || i > k->max_index)
            return fail("the index of " + out.name + " is outside 1.." + std::to_string(k->max_index));
        out.index = i;
        out.name += "(" + std::to_string(i) + ")";
    }

    // The values.
    out.values.clear();
    if (rhs.empty()) return fail("no values");
    const bool stepped = rhs.find(':') != std::string_view::npos;
    if (stepped) {
        double v[3];
        std::string_view rest = rhs;
        for (int j = 0; j < 3; ++j) {
            const auto colon = rest.find(':');
            if ((j < 2) != (colon != std::string_view::npos))
                return fail("expected FROM:TO:STEP");
            if (!parse_number(rest.substr(0, colon), v[j]))
                return fail(quoted(trimmed(rest.substr(0, colon))) + " is not a finite number");
            if (j < 2) rest.remove_prefix(colon + 1);
        }
        const double from = v[0], to = v[1], step = v[2];
        if (step == 0.0) return fail("the step is zero");
        const double n = (to - from) / step;  // steps from FROM to TO
        if (n < -1e-9) return fail("the step goes away from TO (no values)");
        if (!(n < kMaxRangeValues)) return fail("more than " + std::to_string(kMaxRangeValues) + " values");
        const int last = static_cast<int>(std::floor(n + 1e-9));
        for (int i = 0; i <= last; ++i) out.values.push_back(to_15_digits(from + i * step));
        if (std::fabs(from + last * step - to) <= 1e-9 * std::fabs(step)) out.values.back() = to;
    } else {
        std::string_view rest = rhs;
        for (;;) {
            const auto comma = rest.find(',');
            const std::string_view item = trimmed(rest.substr(0, comma));
            double x = 0;
            if (item.empty()) return fail("empty value in the list");
            if (!parse_number(item, x)) return fail(quoted(item) + " is not a finite number");
            out.values.push_back(x);
            if (static_cast<int>(out.values.size()) > kMaxRangeValues)
                return fail("more than " + std::to_string(kMaxRangeValues) + " values");
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    if (k->integer)
        for (double x : out.values)
            if (!is_count(x))
                return fail(out.name + " is a count: " + format_value(out, x) + " is not a whole number within 32 bits");
    return true;
}

bool parse_weights(const std::string& text, std::vector<double>& out, std::string& error) {
    out.clear();
    std::string_view rest = text;
    for (;;) {
        const auto comma = rest.find(',');
        const std::string_view item = trimmed(rest.substr(0, comma));
        double x = 0;
        if (!parse_number(item, x)) {
            error = "--mix-to " + quoted(text) + ": " + quoted(item) + " is not a finite number";
            return false;
        }
        out.push_back(x);
        if (comma == std::string_view::npos) return true;
        rest.remove_prefix(comma + 1);
    }
}

bool apply_range_value(const Deck& base, const SweepRange& r, double value, const std::vector<double>& mix_to,
                       Deck& out, std::string& error) {
    auto fail = [&](const std::string& why) {
        error = "range " + r.name + ": " + why;
        return false;
    };
    const bool stage_index = r.q == Quantity::ns || r.q == Quantity::mix;
    const bool pred_index = r.q == Quantity::ef || r.q == Quantity::cory;
    if (stage_index && (r.index < 1 || r.index > base.nstage))
        return fail("the deck has " + std::to_string(base.nstage) + " stage" + (base.nstage == 1 ? "" : "s"));
    if (pred_index && (r.index < 1 || r.index > base.npred))
        return fail("the deck has " + std::to_string(base.npred) + " predictor" + (base.npred == 1 ? "" : "s"));
    if (known(r.q).integer && !is_count(value))
        return fail(format_value(r, value) + " is not a whole number within 32 bits");
    if (r.q == Quantity::mix && mix_to.size() != static_cast<std::size_t>(base.npred))
        return fail(mix_to.empty() ? std::string("needs the --mix-to weights")
                                   : "--mix-to has " + std::to_string(mix_to.size()) + " weights, the deck " +
                                         std::to_string(base.npred) + " predictors");

    out = base;
    switch (r.q) {
    case Quantity::ns: out.ns[r.index - 1] = static_cast<std::int32_t>(value); break;
    case Quantity::napp: out.napp = static_cast<std::int32_t>(value); break;
    case Quantity::pg: out.pg[0] = value; break;
    case Quantity::efc: out.efc[0] = value; break;
    case Quantity::ef: out.Eft(1, r.index) = value; break;
    case Quantity::cory: out.coryt[r.index - 1] = value; break;
    case Quantity::mix:
        for (int i = 1; i <= base.npred; ++i) {
            const double w = (1.0 - value) * base.Weip(r.index, i) + value * mix_to[i - 1];
            if (!std::isfinite(w)) return fail("the weight of predictor " + std::to_string(i) + " is not finite");
            out.Weip(r.index, i) = w;
        }
        break;
    }
    // What the reader completes from these values.
    out.srtot = static_cast<double>(out.ns[out.nstage - 1]) / static_cast<double>(out.napp);
    out.pg[1] = 1.0 - out.pg[0];
    out.efc[1] = 0.0;
    return true;
}

bool check_range(const Deck& base, const SweepRange& r, const std::vector<double>& mix_to, std::string& error) {
    const auto scratch = std::make_unique<Deck>();
    for (double v : r.values)
        if (!apply_range_value(base, r, v, mix_to, *scratch, error)) return false;
    return true;
}

std::string format_value(const SweepRange& r, double value) {
    char buf[40];
    if (known(r.q).integer && std::fabs(value) < 1e15 && value == std::floor(value))
        std::snprintf(buf, sizeof buf, "%.0f", value);
    else
        std::snprintf(buf, sizeof buf, "%.6g", value);
    return buf;
}

std::string describe(const SweepRange& r) {
    const std::string i = std::to_string(r.index);
    switch (r.q) {
    case Quantity::ns: return r.name + ", applicants retained after stage " + i;
    case Quantity::napp: return r.name + ", applicants in the pool";
    case Quantity::pg: return r.name + ", proportion of group 1";
    case Quantity::efc: return r.name + ", criterion effect size of group 1";
    case Quantity::ef: return r.name + ", effect size of group 1 on predictor " + i;
    case Quantity::cory: return r.name + ", validity of predictor " + i;
    case Quantity::mix: return r.name + ", share of the --mix-to weights in stage " + i;
    }
    return r.name;
}

} // namespace traz
