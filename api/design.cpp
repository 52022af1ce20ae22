// Designs: named fields to and from the deck the evaluation reads.
#include <cmath>
#include <string>

#include "api/internal.hpp"
#include "deck/deck.hpp"
#include "traz/traz.hpp"

namespace traz {

namespace {

[[noreturn]] void refuse(int statement, const std::string& why) {
    Diagnostic d;
    d.statement = statement;
    d.message = "design: " + why;
    throw Error(d);
}

std::string count_text(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// |a - b| within rounding of numbers of the size of a correlation.
bool same_within_rounding(double a, double b) { return std::fabs(a - b) <= 1e-12; }

} // namespace

void deck_of_design(const Design& g, Deck& d) {
    d = Deck{};
    const std::size_t npred = g.validities.size(), nstage = g.stages.size();
    if (npred > static_cast<std::size_t>(kReadPred))
        refuse(1, count_text(npred, "predictor") + ": at most " + std::to_string(kReadPred));
    if (nstage < 1 || nstage > static_cast<std::size_t>(kReadStage))
        refuse(1, count_text(nstage, "stage") + ": 1 to " + std::to_string(kReadStage));
    if (g.correlations.size() != npred)
        refuse(4, "the correlation matrix has " + count_text(g.correlations.size(), "row") + " for " +
                      count_text(npred, "predictor"));
    for (std::size_t i = 0; i < npred; ++i)
        if (g.correlations[i].size() != npred)
            refuse(4, "row " + std::to_string(i + 1) + " of the correlation matrix has " +
                          count_text(g.correlations[i].size(), "value") + " for " + count_text(npred, "predictor"));
    if (g.effect_sizes.size() != npred)
        refuse(5, count_text(g.effect_sizes.size(), "effect size") + " for " + count_text(npred, "predictor"));
    for (std::size_t j = 0; j < nstage; ++j)
        if (g.stages[j].weights.size() != npred)
            refuse(2, "stage " + std::to_string(j + 1) + " has " + count_text(g.stages[j].weights.size(), "weight") +
                          " for " + count_text(npred, "predictor"));
    for (std::size_t i = 0; i < npred; ++i) {
        if (!same_within_rounding(g.correlations[i][i], 1.0))
            refuse(4, "the correlation matrix has " + std::to_string(g.correlations[i][i]) + " on its diagonal (row " +
                          std::to_string(i + 1) + "), not 1");
        for (std::size_t j = i + 1; j < npred; ++j)
            if (!same_within_rounding(g.correlations[i][j], g.correlations[j][i]))
                refuse(4, "the correlation matrix is not symmetric: row " + std::to_string(i + 1) + ", column " +
                              std::to_string(j + 1) + " differs from row " + std::to_string(j + 1) + ", column " +
                              std::to_string(i + 1));
    }
    if (g.groups < 1 || g.groups > kMaxGroup) refuse(6, std::to_string(g.groups) + " groups: 1 or 2");
    if (g.passes > kMaxPass) refuse(6, std::to_string(g.passes) + " passes: at most " + std::to_string(kMaxPass));

    d.npred = static_cast<std::int32_t>(npred);
    d.nstage = static_cast<std::int32_t>(nstage);
    d.napp = g.applicants;
    for (std::size_t j = 0; j < nstage; ++j) {
        d.ns[j] = g.stages[j].retained;
        for (std::size_t i = 0; i < npred; ++i) d.Weip(static_cast<int>(j + 1), static_cast<int>(i + 1)) = g.stages[j].weights[i];
    }
    for (std::size_t i = 0; i < npred; ++i) {
        d.coryt[i] = g.validities[i];
        d.Eft(1, static_cast<int>(i + 1)) = g.effect_sizes[i];
        for (std::size_t j = 0; j < npred; ++j)
            d.Cormt(static_cast<int>(i + 1), static_cast<int>(j + 1)) =
                i == j ? 1.0 : g.correlations[std::min(i, j)][std::max(i, j)];  // the upper triangle, as a deck has it
    }
    d.ngroup = g.groups;
    d.pg[0] = g.proportion;
    d.npass = g.passes;
    d.efc[0] = g.criterion_effect;
    d.relerr = g.relerr;
    d.maxcls = g.maxcls;
    // What the reader completes.
    d.srtot = static_cast<double>(d.ns[d.nstage - 1]) / static_cast<double>(d.napp);
    d.pg[1] = 1.0 - d.pg[0];
    d.efc[1] = 0.0;
    if (g.lines != nullptr) d.lines = *g.lines;
}

Design design_of_deck(const Deck& d) {
    Design g;
    const int npred = d.npred, nstage = d.nstage;
    g.validities.assign(d.coryt, d.coryt + npred);
    g.correlations.assign(static_cast<std::size_t>(npred), std::vector<double>(static_cast<std::size_t>(npred)));
    g.effect_sizes.resize(static_cast<std::size_t>(npred));
    for (int i = 1; i <= npred; ++i) {
        g.effect_sizes[i - 1] = d.Eft(1, i);
        for (int j = 1; j <= npred; ++j) g.correlations[i - 1][j - 1] = d.Cormt(i, j);
    }
    for (int j = 1; j <= nstage; ++j) {
        Stage s;
        s.retained = d.ns[j - 1];
        for (int i = 1; i <= npred; ++i) s.weights.push_back(d.Weip(j, i));
        g.stages.push_back(s);
    }
    g.applicants = d.napp;
    g.groups = d.ngroup;
    g.proportion = d.pg[0];
    g.criterion_effect = d.efc[0];
    g.passes = d.npass;
    g.relerr = d.relerr;
    g.maxcls = d.maxcls;
    g.lines = std::make_shared<const DeckLines>(d.lines);
    return g;
}

std::vector<Stage> stages_of(const std::vector<std::vector<double>>& weights, const std::vector<int>& retained) {
    if (weights.size() != retained.size()) {
        Diagnostic d;
        d.statement = 1;
        d.message = "design: " + std::to_string(weights.size()) + " stage(s) of weights but " +
                    std::to_string(retained.size()) + " retained count(s)";
        throw Error(d);
    }
    std::vector<Stage> stages;
    for (std::size_t j = 0; j < weights.size(); ++j) stages.push_back({weights[j], retained[j]});
    return stages;
}

Design Design::from_deck(std::string_view text) {
    auto d = std::make_unique<Deck>();
    DeckFault fault;
    if (!read_deck(text, *d, fault)) throw Error(diagnostic_of(fault));
    return design_of_deck(*d);
}

std::string Design::to_deck() const {
    auto d = std::make_unique<Deck>();
    deck_of_design(*this, *d);
    return write_deck_text(*d);
}

Diagnostic diagnostic_of(const DeckFault& f) {
    Diagnostic d;
    d.statement = f.statement;
    d.item = f.item;
    d.line = f.line;
    d.message = f.message;
    return d;
}

} // namespace traz
