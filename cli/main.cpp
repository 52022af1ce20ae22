// TRAZ: reads selection problems (decks) from files or standard input and writes their
// results as the classic report, JSON or CSV.
#include <gsl/gsl_version.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/io.hpp"
#include "traz/traz.hpp"
#include "evaluate/evaluate.hpp"
#include "views/report.hpp"
#include "model/messages.hpp"
#include "cli/sweep.hpp"
#include "cli/pareto.hpp"
#include "views/views.hpp"
#include "cli/simulate.hpp"

namespace {

const char* const kExitStatuses =
    "Exit status:\n"
    "  0  every deck was computed\n"
    "  1  a deck was malformed, refused by the deck checks or beyond the classic limits (its\n"
    "     report then ends with the refusal lines), or could not be read; or the command line\n"
    "     was wrong (an output that is an input, an unknown plot format)\n"
    "  2  a fatal error of a library routine, or not enough memory\n"
    "  3  the output could not be written (an earlier file of that name is left as it was)\n"
    "  130, 143  interrupted by SIGINT or SIGTERM (a sweep keeps its rows in FILE.partial)\n"
    "With several decks each one runs; the status is the worst of them.\n";

const char* const kExample =
    "Examples:\n"
    "  traz examples/two-stage.deck\n"
    "  traz examples/*.deck --format csv -o results.csv\n"
    "  traz --format json < examples/three-stage.deck\n"
    "  traz --help-deck      (how to write a deck)\n";

const char* const kDeckHelp =
    "A deck is eight statements of numbers. Each statement starts on a new line and may go on\n"
    "over further lines; values are separated by blanks, tabs or commas (so write 0.5, never\n"
    "0,5). Text after a statement's last value is a comment; numbers left over on that line\n"
    "are ignored with a warning. Reals: 2, .5, 1.5, 1.0E-3, 1.0D-3; counts are whole numbers.\n"
    "Group 1 is the group the effect sizes describe; group 2 is the reference group (means 0).\n"
    "\n"
    "  1  npred nstage napp ns(1) .. ns(nstage)       one line\n"
    "     predictors (1-10), stages (1-3), applicants in the pool (2-100), and how many each\n"
    "     stage keeps (each fewer than the stage before it holds)\n"
    "  2  w(1) .. w(npred)                            one line per stage\n"
    "     the predictor weights of the stage's composite (it ranks on their weighted sum)\n"
    "  3  r(1) .. r(npred)                            one line\n"
    "     validities: each predictor's correlation with the criterion\n"
    "  4  r(i,i+1) .. r(i,npred)                      one line per i = 1 .. npred-1\n"
    "     the predictor correlations right of the diagonal (no line for one predictor)\n"
    "  5  d(1) .. d(npred)                            one line\n"
    "     effect sizes: group 1's mean minus group 2's on each predictor, in within-group SDs\n"
    "  6  ngroup p npass                              one line\n"
    "     2 groups (or 1), the proportion of group 1 in the pool, passes (7 gives every result)\n"
    "  7  dc                                          one line\n"
    "     group 1's mean minus group 2's on the criterion, in within-group SDs\n"
    "  8  relerr maxcls                               one line\n"
    "     relative accuracy and evaluation budget of each pass (two and three stages; a\n"
    "     single-stage deck needs the line too): 1.0e-4 100000 suits most decks\n"
    "\n"
    "Example (examples/two-stage.deck):\n"
    "  4 2 100 30 10        4 predictors, 2 stages, 100 applicants, 30 kept after stage 1, 10 after stage 2\n"
    "  1.0 1.0 0.0 0.0      stage 1: the two written tests\n"
    "  0.5 0.5 1.0 1.0      stage 2: the tests, an interview and a work sample\n"
    "  0.35 0.30 0.40 0.45  validities\n"
    "  0.40 0.20 0.25       r12 r13 r14\n"
    "  0.20 0.25            r23 r24\n"
    "  0.30                 r34\n"
    "  0.60 0.50 0.20 0.30  effect sizes of group 1\n"
    "  2 0.75 7             2 groups, 75% in group 1, 7 passes\n"
    "  0.30                 criterion effect size of group 1\n"
    "  1.0e-4 100000        relative accuracy and evaluation budget of the cubature\n";

struct Options {
    std::vector<std::string> decks;
    std::string output;
    std::string format = "report";
    bool fitted = false;
    std::string domain = "automatic";
    int fitted_level = 0;
};

int run_decks(const Options& o) {
    std::vector<std::string> decks = o.decks;
    if (decks.empty()) decks.push_back("-");
    // Writing over a deck would destroy it before (or as) it is read.
    for (const std::string& deck : decks)
        if (traz::same_file(o.output, deck)) {
            std::fprintf(stderr, "traz: %s is both a deck and the output (-o): give the output another file\n",
                         o.output.c_str());
            return traz::kRunBadDeck;
        }
    traz::Output out;
    if (!traz::open_output(o.output, out)) return traz::kRunWriteError;
    if (std::count(decks.begin(), decks.end(), "-") > 0 && isatty(STDIN_FILENO))
        std::fprintf(stderr, "traz: reading a deck from standard input (end with Ctrl-D); traz --help for usage\n");

    int worst = traz::kRunOk;
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    if (o.format == "csv") std::fputs(traz::csv_header({}).c_str(), out.file);
    for (std::size_t i = 0; i < decks.size(); ++i) {
        traz::Result result;
        std::string text, why;
        if (traz::read_input(decks[i], text, why)) {
            traz::Options run{decks[i]};
            run.fitted_level = o.fitted_level;
            result = traz::evaluate_deck(text, run, traz::integration_named(o.fitted ? "fitted" : o.domain));
            std::fputs(result.library_messages.c_str(), stderr);
        } else {
            auto unreadable = std::make_shared<traz::RunRecord>();
            unreadable->source = decks[i];
            unreadable->outcome = traz::Outcome::unreadable;
            unreadable->diagnostic = "cannot read: " + why;
            result.record = unreadable;
        }
        const traz::RunRecord& rec = *result.record;
        traz::write_diagnostics(stderr, rec);
        if (o.format == "json") all.push_back(traz::to_json(rec));
        else if (o.format == "csv") std::fputs(traz::csv_row(rec, {}).c_str(), out.file);
        else traz::write_report(out.file, rec);
        worst = std::max(worst, traz::exit_status(rec));
    }
    if (o.format == "json") {
        const std::string text = (all.size() == 1 ? all[0] : all).dump(2) + "\n";
        std::fputs(text.c_str(), out.file);
    }
    const int written = traz::close_output(out);
    return written != traz::kRunOk ? written : worst;
}

// traz simulate --check: the integration's expectations for the deck.
bool integrate_for_check(std::string_view text, bool fitted, traz::sim::Analytic& a, std::string& why) {
    const traz::Result r =
        traz::evaluate_deck(text, {}, fitted ? traz::Integration::fitted : traz::Integration::automatic);
    std::fputs(r.library_messages.c_str(), stderr);
    if (!r.ok()) {
        why = !r.diagnostic.message.empty() ? r.diagnostic.message
                                            : "it is beyond the integration's limits (10 predictors, 3 stages, and 100 "
                                              "applicants, 10,000 with --fitted)";
        return false;
    }
    for (const std::string& w : r.warnings) std::fprintf(stderr, "traz: simulate --check: warning: %s\n", w.c_str());
    a = {r.expected_criterion_score.value, r.selection_rate_group1.value, r.selection_rate_group2.value,
         r.ai_ratio.value, r.sd_average_criterion_score.value};
    return true;
}

int run(int argc, char** argv) {
    CLI::App app{"TRAZ: expected criterion score, selection rates, adverse-impact ratio and the SD of the\n"
                 "average criterion score of those selected from a finite, mixed applicant pool in one,\n"
                 "two or three selection stages.",
                 "traz"};
    app.footer(std::string("With no DECK, or with -, the deck is read from standard input.\n\n") + kExitStatuses +
               "\n" + kExample);
    app.set_version_flag("--version", std::string("traz ") + traz::kProgramVersion + "\nbuilt with GSL " +
                                          GSL_VERSION);
    Options o;
    bool deck_help = false;
    app.add_option("DECK", o.decks, "Deck files to run in turn (- for standard input)");
    app.add_option("-o,--output", o.output, "Write the output to FILE instead of standard output")
        ->option_text("FILE");
    app.add_option("--format", o.format, "Output format: the classic report, JSON or CSV")
        ->check(CLI::IsMember({"report", "json", "csv"}))
        ->option_text("report|json|csv (default report)");
    app.add_flag("--fitted", o.fitted,
                 "Integrate over a domain fitted to the cut-score density instead of the fixed cube "
                 "(the same as --domain fitted)");
    app.add_option("--domain", o.domain,
                   "automatic: the fixed cube, recomputed over the fitted domain when the cube loses density; "
                   "fitted: the fitted domain (for new work, speed and large pools); cube: the classic numbers "
                   "only, to reproduce a classic report exactly")
        ->check(CLI::IsMember({"automatic", "cube", "fitted"}))
        ->option_text("automatic|cube|fitted (default automatic)");
    app.add_option("--fitted-level", o.fitted_level,
                   "With --fitted: the level of the rule in the fitted coordinates, instead of raising it "
                   "until the accuracy is met (a fitted sweep names the level it settled on)")
        ->check(CLI::Range(1, 13))
        ->option_text("N");
    app.add_flag("--help-deck", deck_help, "How to write a deck: its eight statements, with an example");

    traz::SweepOptions so;
    std::string shard = "1/1";
    CLI::App* sweep = app.add_subcommand(
        "sweep", "Run a deck over a grid of one or two varied quantities: one CSV/JSON row per point");
    sweep->add_option("BASE", so.base, "The base deck")->required();
    sweep->add_option("--vary", so.vary,
                      "NAME=FROM:TO:STEP or NAME=V1,V2,... with NAME one of ns(k), napp, pg, efc, ef(i), "
                      "cory(i), mix(k); twice for a grid")
        ->required()
        ->option_text("RANGE");
    sweep->add_option("--mix-to", so.mix_to, "Weights B of mix(k): stage k's weights are (1-t)A + tB")
        ->option_text("W1,W2,...");
    sweep->add_option("--format", so.format, "Output format")
        ->check(CLI::IsMember({"csv", "json"}))
        ->option_text("csv|json (default csv)");
    sweep->add_option("-o,--output", so.output, "Write the rows to FILE")->option_text("FILE");
    sweep->add_option("--plot", so.plot, "Plot the trade-off to FILE (.png, .svg or .pdf)")->option_text("FILE");
    sweep->add_option("--jobs", so.jobs,
                      "Points run in parallel (default: every core; at most the points, " +
                          std::to_string(traz::kMaxSweepJobs) + " and one per 32 MB of half the memory)")
        ->check(CLI::NonNegativeNumber)
        ->option_text("N");
    sweep->add_option("--shard", shard, "Run points I, I+N, I+2N, ... only (for a cluster)")->option_text("I/N");
    sweep->add_flag("--fitted", so.fitted, "Integrate over domains fitted to the cut-score density");
    sweep->add_option("--domain", so.domain, "As for traz: automatic, cube or fitted")
        ->check(CLI::IsMember({"automatic", "cube", "fitted"}))
        ->option_text("automatic|cube|fitted");
    sweep->add_option("--fitted-level", so.fitted_level,
                      "With --fitted: the rule's level for every point (default: settled by the sweep, one "
                      "above what the grid's corners need)")
        ->check(CLI::Range(1, 13))
        ->option_text("N");
    sweep->footer("A grid has at most " + std::to_string(traz::kMaxSweepPoints) +
                  " points. Each CSV row carries its grid (a hash of the base deck and\nthe ranges) in the column "
                  "grid, so that traz plot can tell shards of one sweep from others.\n\nExample:\n  traz sweep "
                  "examples/two-stage.deck --vary 'mix(2)=0:1:0.1' --mix-to 0,0,1,1 --plot tradeoff.png -o "
                  "tradeoff.csv\n\nExit status as for traz; 1 also when a point is refused (its row gives the "
                  "reason);\n130 or 143 when interrupted: the rows written so far are kept in FILE.partial.");

    std::string plot_in, plot_out;
    CLI::App* plot = app.add_subcommand("plot", "Plot a sweep CSV (shards concatenated in any order)");
    plot->add_option("CSV", plot_in, "The sweep's CSV: the rows of traz sweep, one shard or several concatenated")
        ->required();
    plot->add_option("--plot", plot_out, "The plot file (.png, .svg or .pdf)")->required()->option_text("FILE");
    plot->footer("Draws the expected criterion score against the impact ratio (the lower group's selection\n"
                 "rate over the higher's, with the four-fifths line at 0.8), and each result against the\n"
                 "varied quantity, as traz sweep --plot does. The shards of one sweep may come in any order,\n"
                 "with their headers repeated; rows of another sweep (another grid) are refused, and points\n"
                 "missing from the grid are named on standard error.\n\n"
                 "Example:\n  cat shard-*.csv > merged.csv\n  traz plot merged.csv --plot merged.png\n\n"
                 "Exit status: 0 when the plot was written; 1 when the CSV cannot be read or plotted, or\n"
                 "the plot's format is unknown; 3 when the plot could not be written (an earlier file\n"
                 "is left as it was).");

    // traz simulate: the finite-sample simulation (simulate/record.hpp).
    traz::sim::SimulateOptions sim;
    std::string sim_shard;
    bool sim_fitted = false;
    CLI::App* simulate = app.add_subcommand("simulate", "Simulate the selections of a deck: what one selection shows");
    simulate->add_option("DECK", sim.deck, "The deck (- for standard input)");
    simulate->add_option("--replications", sim.replications, "Replications (default 100000)")->option_text("N");
    simulate->add_option("--seed", sim.seed, "Seed of the random streams (default 1)")
        ->check(CLI::Validator(
            [](std::string& s) {
                return s.find('-') != std::string::npos ? std::string("a seed is a whole number from 0 to 2^64 - 1")
                                                        : std::string();
            },
            "", "seed"))
        ->option_text("S");
    simulate->add_option("--jobs", sim.jobs, "Threads (default: every core)")->check(CLI::NonNegativeNumber)->option_text("N");
    simulate->add_option("--shard", sim_shard, "Run shard I of N and write its partial results")->option_text("I/N");
    simulate->add_option("--merge", sim.merge, "Combine the partial results of every shard")->option_text("FILES");
    simulate->add_flag("--check", sim.check, "Compare with the integration's expectations");
    simulate->add_flag("--fitted", sim_fitted, "--check integrates over a domain fitted to the cut-score density");
    simulate->add_option("--format", sim.format, "Output format")
        ->check(CLI::IsMember({"report", "json", "csv"}))
        ->option_text("report|json|csv (default report)");
    simulate->add_option("-o,--output", sim.output, "Write the output to FILE")->option_text("FILE");
    simulate->footer("Example:\n  traz simulate examples/two-stage.deck --replications 1000000 --check\n\nExit status: 0 done; "
                     "1 a deck refused, a wrong option or shards that are not one run's; 3 the output not written.");

    // traz pareto and traz compare.
    traz::ParetoOptions po;
    std::string pareto_shard = "1/1";
    CLI::App* pareto = app.add_subcommand(
        "pareto", "The Pareto front of a deck's stage weights: the designs with the highest expected criterion "
                  "score for each impact ratio");
    pareto->add_option("BASE", po.base, "The base deck: its stages' non-zero weights are searched, the rest is kept")
        ->required();
    pareto->add_option("--points", po.points, "Points along the front, both ends included (default 21)")
        ->check(CLI::Range(2, 1000))
        ->option_text("N");
    pareto->add_flag("--negative-weights", po.negative_weights, "Let weights take either sign");
    pareto->add_option("--format", po.format, "Output format")
        ->check(CLI::IsMember({"csv", "json"}))
        ->option_text("csv|json (default csv)");
    pareto->add_option("-o,--output", po.output, "Write the rows to FILE")->option_text("FILE");
    pareto->add_option("--plot", po.plot, "Plot the front and the weights along it to FILE (.png, .svg or .pdf)")
        ->option_text("FILE");
    pareto->add_option("--decks", po.decks, "Write each point's deck to DIR/point-01.deck, ... (run them with --fitted)")
        ->option_text("DIR");
    pareto->add_option("--jobs", po.jobs, "Points searched in parallel (default: every core)")
        ->check(CLI::NonNegativeNumber)
        ->option_text("N");
    pareto->add_option("--shard", pareto_shard, "Search points I, I+N, I+2N, ... only (for a cluster)")
        ->option_text("I/N");
    pareto->footer("Each point is searched on the fitted integration and evaluated at the deck's relerr.\n"
                   "Example:\n  traz pareto examples/two-stage.deck --plot front.png -o front.csv\n\n"
                   "Exit status as for traz; 1 also when a point is refused or not settled (its row gives the reason).");
    traz::CompareOptions co;
    CLI::App* compare = app.add_subcommand("compare", "Designs side by side: results, differences to the first "
                                                      "with their bounds, and which designs are dominated");
    compare->add_option("DECKS", co.decks, "Two or more decks; the first is the reference")->required();
    compare->add_flag("--fitted", co.fitted, "Integrate over domains fitted to the cut-score density");
    compare->add_option("--format", co.format, "Output format")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->option_text("table|csv|json (default table)");
    compare->add_option("-o,--output", co.output, "Write the output to FILE")->option_text("FILE");
    compare->footer("A design is dominated when another is higher in both the expected criterion score and the\n"
                    "impact ratio by more than the two error bounds.\n"
                    "Example:\n  traz compare examples/two-stage.deck examples/sweep-weights.deck\n\n"
                    "Exit status as for traz: the worst of the decks'.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "traz: %s (traz --help for usage)\n", e.what());
        return traz::kRunBadDeck;
    }
    for (const auto& [fitted, domain] : {std::pair{o.fitted, o.domain}, {so.fitted, so.domain}})
        if (fitted && domain == "cube") {
            std::fprintf(stderr, "traz: --fitted and --domain cube contradict each other (traz --help for usage)\n");
            return traz::kRunBadDeck;
        }
    if (deck_help) {
        std::fputs(kDeckHelp, stdout);
        return std::fflush(stdout) == 0 ? traz::kRunOk : traz::kRunWriteError;
    }
    if (*sweep) {
        std::string why;
        if (!traz::parse_shard(shard, so.shard_index, so.shard_count, why)) {
            std::fprintf(stderr, "traz: sweep: %s\n", why.c_str());
            return traz::kRunBadDeck;
        }
        traz::handle_signals(true);
        return traz::run_sweep(so);
    }
    traz::handle_signals(false);
    if (*plot) return traz::plot_csv(plot_in, plot_out);
    if (*simulate) {
        std::string why;
        if (!sim_shard.empty() && !traz::parse_shard(sim_shard, sim.shard_index, sim.shard_count, why)) {
            std::fprintf(stderr, "traz: simulate: %s\n", why.c_str());
            return traz::kRunBadDeck;
        }
        if (sim.deck.empty() == sim.merge.empty()) {
            std::fprintf(stderr, "traz: simulate: give a DECK or --merge FILES (traz simulate --help)\n");
            return traz::kRunBadDeck;
        }
        sim.analytic = [sim_fitted](std::string_view text, traz::sim::Analytic& a, std::string& why) {
            return integrate_for_check(text, sim_fitted, a, why);
        };
        return traz::sim::run_simulate(sim);
    }

    if (*pareto) {
        std::string why;
        if (!traz::parse_shard(pareto_shard, po.shard_index, po.shard_count, why)) {
            std::fprintf(stderr, "traz: pareto: %s\n", why.c_str());
            return traz::kRunBadDeck;
        }
        return traz::run_pareto(po);
    }
    if (*compare) return traz::run_compare(co);
    return run_decks(o);
}

} // namespace

int main(int argc, char** argv) {
    // A file size limit makes a write fail (reported, status 3) instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "traz: out of memory\n");
        return traz::kRunFatal;
    }
}
