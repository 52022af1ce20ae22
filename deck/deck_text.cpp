// The deck written back as deck text, one statement per line (statement 4 one row per line).
#include <charconv>
#include <string>

#include "deck/deck.hpp"

namespace traz {

namespace {

// The shortest digits that read back as the same double.
void append_number(std::string& s, double v) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, ec == std::errc{} ? end : buf);
}

} // namespace

std::string write_deck_text(const Deck& d) {
    std::string s;
    auto item = [&](double v) {
        if (!s.empty() && s.back() != '\n') s += ' ';
        append_number(s, v);
    };
    auto count = [&](std::int32_t v) {
        if (!s.empty() && s.back() != '\n') s += ' ';
        s += std::to_string(v);
    };
    // 1: counts.
    count(d.npred), count(d.nstage), count(d.napp);
    for (int k = 0; k < d.nstage; ++k) count(d.ns[k]);
    s += '\n';
    // 2: weights, one line per stage.
    for (int j = 1; j <= d.nstage; ++j) {
        for (int i = 1; i <= d.npred; ++i) item(d.Weip(j, i));
        s += '\n';
    }
    // 3: validities; 4: upper triangle of the correlations, one line per row.
    for (int i = 0; i < d.npred; ++i) item(d.coryt[i]);
    s += '\n';
    for (int i = 1; i <= d.npred - 1; ++i) {
        for (int j = i + 1; j <= d.npred; ++j) item(d.Cormt(i, j));
        s += '\n';
    }
    // 5: effect sizes of group 1; 6: groups, proportion, passes; 7: criterion effect size.
    for (int i = 1; i <= d.npred; ++i) item(d.Eft(1, i));
    s += '\n';
    count(d.ngroup), item(d.pg[0]), count(d.npass);
    s += '\n';
    item(d.efc[0]);
    s += '\n';
    // 8: cubature accuracy and budget.
    item(d.relerr), count(d.maxcls);
    s += '\n';
    return s;
}

} // namespace traz
