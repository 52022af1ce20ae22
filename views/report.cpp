#include "views/report.hpp"

#include <cmath>
#include <vector>

#include "evaluate/evaluate.hpp"
#include "model/messages.hpp"
#include "views/format/format.hpp"
#include "evaluate/record.hpp"

namespace traz {

namespace {

using Values = std::vector<FieldValue>;

} // namespace

void write_banner(std::FILE* out) {
    write(out,
          "(25X,'++++++++++++',/,25X,'+   TRAZ   +',/,25X,'++++++++++++',/,/,"
          "'Implementation of the ZEB method (cf. Orrin, 2014) for the',/,"
          "'computation of the EXPECTED CRITERION SCORE ','of the selected applicants,',/,"
          "'the STANDARD DEVIATION of the AVERAGE CRITERION SCORE of the',' SELECTED,',/,"
          "'and the AI RATIO for mixed, finite applicant pool',' multi-stage selections.',/,/,"
          "'The program is at present limited',' to single, two and three',/,"
          "'stage selection decisions, and to a maximum of 100 applicants.',/,"
          "'The computations are based on results of',/,"
          "'Pennow, Askeby and Tolvane, Biometrics, 1991.',/,/,/,"
          "'Program written by Tamsel Orrin, Varholm University',/,/,"
          "'The program uses routines from the Slatec library (see',/,"
          "'http://www.netlib.org/slatec','), the DCUHRE',' code from',/,"
          "'Kallory, Dunmere and Frell (see',/,"
          "'http://www.netlib.org/toms/698',')',' and a couple',/,"
          "'of algorithms from StatLib (see ','http://lib.stat.cmu.edu/apstat',')')");
}

void write_echo(std::FILE* out, const Deck& d, const StageValues& s) {
    Values v{d.nstage, d.napp};
    for (int k = 0; k < d.nstage && k < 5; ++k) v.push_back(d.ns[k]);
    write(out,
          "(/,'PROBLEM SPECIFICATION',/,/,'Number of stages in the selection:',I3,/,"
          "'Total number of applicants:',I7,/,'Number of retained applicants at each stage:',5I7)",
          std::span<const FieldValue>(v));
    // A deck with more than 5 stages (refused below) continues the counts underneath
    // rather than reusing the layout, whose headings would label them as other values.
    if (d.nstage > 5) {
        v.clear();
        for (int k = 5; k < d.nstage; ++k) v.push_back(d.ns[k]);
        write(out, "(44X,5I7)", std::span<const FieldValue>(v));
    }

    v = {d.ngroup};
    for (int g = 0; g < d.ngroup; ++g) v.push_back(d.pg[g]);
    write(out, "('Number of Subpopulations:',I3,/,'Mixture Proportions of the Subpopulations:',5F6.2)",
          std::span<const FieldValue>(v));

    write(out, "('Effect Sizes of the Predictors')");
    for (int g = 1; g <= d.ngroup; ++g) {
        v = {g};
        for (int i = 1; i <= d.npred && i <= 10; ++i) v.push_back(d.Eft(g, i));
        write(out, "('   Subpopulation',I3,':',10F8.4)", std::span<const FieldValue>(v));
        // A deck with more than 10 predictors (refused below) continues the row underneath.
        if (d.npred > 10) {
            v.clear();
            for (int i = 11; i <= d.npred; ++i) v.push_back(d.Eft(g, i));
            write(out, "(20X,10F8.4)", std::span<const FieldValue>(v));
        }
    }

    v.clear();
    for (int i = 0; i < d.npred; ++i) v.push_back(d.coryt[i]);
    write(out, "('Correlation of the Predictors with the',' Criterion:',/,10X,6F8.3)",
          std::span<const FieldValue>(v));

    write(out, "('Correlation Matrix of the Predictors:')");
    for (int i = 1; i <= d.npred; ++i) {
        v.clear();
        for (int j = 1; j <= d.npred; ++j) v.push_back(d.Cormt(i, j));
        write(out, "(10X,6F8.3)", std::span<const FieldValue>(v));
    }

    write(out, "('Predictor weights in the stages')");
    for (int j = 1; j <= d.nstage; ++j) {
        v.clear();
        for (int i = 1; i <= d.npred; ++i) v.push_back(d.Weip(j, i));
        write(out, "(10F9.4)", std::span<const FieldValue>(v));
    }

    write(out, "('Effect Sizes of the Predictors in the Stages per',' Subpopulation')");
    for (int g = 1; g <= d.ngroup; ++g) {
        v = {g};
        for (int j = 0; j < d.nstage; ++j) v.push_back(g == 1 ? s.ef1[j] : 0.0);
        write(out, "('   Subpopulation',I3,':',10F8.4)", std::span<const FieldValue>(v));
    }

    v.clear();
    for (int g = 0; g < d.ngroup; ++g) v.push_back(d.efc[g]);
    write(out, "('Criterion Effect Sizes per Subpopulation:',5F6.2)", std::span<const FieldValue>(v));

    v.clear();
    for (int j = 0; j < d.nstage; ++j) v.push_back(s.cory[j]);
    write(out, "('Correlation of the Stage-specific Predictors with the',' Criterion:',/,10X,6F8.3)",
          std::span<const FieldValue>(v));

    write(out, "('Correlation Matrix of the Stage-specific Predictors:')");
    for (int j = 1; j <= d.nstage; ++j) {
        v.clear();
        for (int k = 1; k <= d.nstage; ++k) v.push_back(s.Cormc(j, k));
        write(out, "(10X,6F8.3)", std::span<const FieldValue>(v));
    }

    write(out, "('Technical Input Parameters',/,'   maxcls:',I8,'    relative error:',F15.12)",
          {d.maxcls, d.relerr});
}

void write_invalid(std::FILE* out, const int* ifin) {
    write(out, "(/,/,'COMPUTATION STOPPED: INVALID INPUT PARAMETERS')");
    if (ifin[0] == 1) write(out, "('  Too many predictors')");
    if (ifin[1] == 1) write(out, "('  Too many selection stages')");
    if (ifin[2] == 1) write(out, "('  Too many applicants')");
}

void write_ifail(std::FILE* out, int iz, int ifail, double abserr) {
    write(out, "('Ifail in DCUHRE for iz ',2I4,'   ABSERR is ',D12.3)", {iz, ifail, abserr});
}

void write_criterion(std::FILE* out, double e) {
    write(out, "(/,'Expected Criterion Score Selected:',2F10.4,/)", {e});
}

void write_empty(std::FILE* out) { write(out, "()"); }

void write_rates(std::FILE* out, double r1, double r2) {
    write(out, "('Expected selection rate of groups:',2F10.4)", {r1, r2});
}

void write_ai_ratio(std::FILE* out, double ratio) {
    write(out, "('Expected AI ratio:',2F10.4)", {ratio});
}

void write_proportion(std::FILE* out, double proportion, double target) {
    write(out, "(/,'Proportion Selected and Target SR:',2F9.3,/)", {proportion, target});
}

void write_sd(std::FILE* out, double sd) {
    write(out, "('Standard Deviation Average Criterion Score Selected:',F10.4)", {sd});
}

void write_cpu_time(std::FILE* out, float seconds) {
    write(out, "(/,'CPU TIME IN SECONDS ',F12.2)", {static_cast<double>(seconds)});
}

namespace {

void write_pass(std::FILE* out, const PassRecord& p, const Results& res) {
    if (p.multistage && p.status != 0) write_ifail(out, p.iz, p.status, p.abserr);
    switch (p.use) {
    case PassUse::criterion:
    case PassUse::other: write_criterion(out, p.result); break;
    case PassUse::share:
    case PassUse::ratio:
        if (p.empty_after) write_empty(out);
        break;
    case PassUse::rates:
        write_rates(out, p.r1, p.r2);
        if (p.has_ai) write_ai_ratio(out, p.ai);
        if (p.empty_after) write_empty(out);
        break;
    case PassUse::proportion: write_proportion(out, p.result, res.target); break;
    case PassUse::sd: write_sd(out, p.sd); break;
    case PassUse::moment2:
    case PassUse::unused: break;
    }
}

} // namespace

void write_report(std::FILE* out, const RunRecord& rec) {
    if (rec.outcome == Outcome::bad_deck || rec.outcome == Outcome::refused || rec.outcome == Outcome::unreadable)
        return;
    write_banner(out);
    write_echo(out, *rec.deck, *rec.stages);
    // A run asked to fit its integration domain says which domain it integrated over.
    if (rec.fitted_requested && rec.outcome == Outcome::computed)
        write(out, rec.domain.fitted ? "('   integration domain: fitted')"
                                          : "('   integration domain: cube (the fit failed)')");
    // So does a run whose cube lost density, recomputed over the fitted domain.
    if (!std::isnan(rec.cube_lost) && rec.outcome == Outcome::computed)
        write(out, "('   integration domain: " + domain_fallback_words(rec.cube_lost) + "')");
    write(out, "(/,'PROGRAM OUTPUT')");
    if (rec.outcome == Outcome::fatal || rec.outcome == Outcome::stopped) return;
    if (rec.outcome == Outcome::limits_refused) {
        write_invalid(out, rec.ifin);
    } else {
        for (const PassRecord& p : rec.passes) write_pass(out, p, rec.results);
    }
    write_cpu_time(out, rec.cpu_seconds());
}

void write_diagnostics(std::FILE* err, const RunRecord& rec) {
    const std::string who = rec.source.empty() || rec.source == "-" ? "traz: " : "traz: " + rec.source + ": ";
    if (!rec.diagnostic.empty()) std::fprintf(err, "%s%s\n", who.c_str(), rec.diagnostic.c_str());
    for (const std::string& w : rec.warnings) std::fprintf(err, "%swarning: %s\n", who.c_str(), w.c_str());
}

int run(std::string_view deck_text, std::FILE* out, std::FILE* err, const RunOptions& opt) {
    set_message_stream(err);
    RunRecord rec;
    compute(deck_text, rec, opt);
    write_diagnostics(err, rec);
    write_report(out, rec);
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(err, "traz: the report could not be written completely\n");
        return kRunWriteError;
    }
    return exit_status(rec);
}

void integrate_multistage(std::FILE* out, const SelectionState& s, int iz, double& result, double& abserr,
                          double relerr, int maxcls) {
    const Integral r = cubature_pass(s, iz, relerr, maxcls, nullptr);
    take_integral(r, true, result, abserr);
    if (r.status != 0) write_ifail(out, iz, r.status, abserr);
}

} // namespace traz
