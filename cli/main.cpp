// TRAZ: reads selection problems (decks) from files or standard input and writes their
// results as the classic report, JSON or CSV.
#include <gsl/gsl_version.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/io.hpp"
#include "traz/traz.hpp"
#include "evaluate/evaluate.hpp"
#include "views/report.hpp"
#include "model/messages.hpp"
#include "cli/sweep.hpp"
#include "views/views.hpp"

namespace {

const char* const kExitStatuses =
    "Exit status:\n"
    "  0  every deck was computed (or refused by the classic limits in its report)\n"
    "  1  a deck was malformed, refused by the deck checks or could not be read;\n"
    "     or the command line was wrong\n"
    "  2  a fatal error of a library routine\n"
    "  3  the output could not be written\n"
    "With several decks each one runs; the status is the worst of them.\n";

const char* const kExample =
    "Examples:\n"
    "  traz examples/two-stage.deck\n"
    "  traz examples/*.deck --format csv -o results.csv\n"
    "  traz --format json < examples/three-stage.deck\n";

struct Options {
    std::vector<std::string> decks;
    std::string output;
    std::string format = "report";
    bool fitted = false;
    int fitted_level = 0;
};

int run_decks(const Options& o) {
    std::FILE* out = traz::open_output(o.output);
    if (out == nullptr) return traz::kRunWriteError;
    std::vector<std::string> decks = o.decks;
    if (decks.empty()) decks.push_back("-");
    if (std::count(decks.begin(), decks.end(), "-") > 0 && isatty(STDIN_FILENO))
        std::fprintf(stderr, "traz: reading a deck from standard input (end with Ctrl-D); traz --help for usage\n");

    int worst = traz::kRunOk;
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    if (o.format == "csv") std::fputs(traz::csv_header({}).c_str(), out);
    for (std::size_t i = 0; i < decks.size(); ++i) {
        traz::Result result;
        std::string text, why;
        if (traz::read_input(decks[i], text, why)) {
            traz::Options run{decks[i]};
            run.fitted_level = o.fitted_level;
            result = traz::evaluate_deck(text, run, o.fitted ? traz::Integration::fitted : traz::Integration::automatic);
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
        else if (o.format == "csv") std::fputs(traz::csv_row(rec, {}).c_str(), out);
        else traz::write_report(out, rec);
        worst = std::max(worst, traz::exit_status(rec));
    }
    if (o.format == "json") {
        const std::string text = (all.size() == 1 ? all[0] : all).dump(2) + "\n";
        std::fputs(text.c_str(), out);
    }
    const int written = traz::close_output(out, o.output);
    return written != traz::kRunOk ? written : worst;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"TRAZ: expected criterion score, selection rates, adverse-impact ratio and the SD of the\n"
                 "average criterion score of those selected from a finite, mixed applicant pool in one,\n"
                 "two or three selection stages.",
                 "traz"};
    app.footer(std::string("With no DECK, or with -, the deck is read from standard input.\n\n") + kExitStatuses +
               "\n" + kExample);
    app.set_version_flag("--version", std::string("traz ") + traz::kProgramVersion + "\nbuilt with GSL " +
                                          GSL_VERSION);
    Options o;
    app.add_option("DECK", o.decks, "Deck files to run in turn (- for standard input)");
    app.add_option("-o,--output", o.output, "Write the output to FILE instead of standard output")
        ->option_text("FILE");
    app.add_option("--format", o.format, "Output format: the classic report, JSON or CSV")
        ->check(CLI::IsMember({"report", "json", "csv"}))
        ->option_text("report|json|csv (default report)");
    app.add_flag("--fitted", o.fitted,
                 "Integrate over a domain fitted to the cut-score density instead of the fixed cube");
    app.add_option("--fitted-level", o.fitted_level,
                   "With --fitted: the level of the rule in the fitted coordinates, instead of raising it "
                   "until the accuracy is met (a fitted sweep names the level it settled on)")
        ->check(CLI::Range(1, 13))
        ->option_text("N");

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
    sweep->add_option("--jobs", so.jobs, "Points run in parallel (default: every core)")
        ->check(CLI::NonNegativeNumber)
        ->option_text("N");
    sweep->add_option("--shard", shard, "Run points I, I+N, I+2N, ... only (for a cluster)")->option_text("I/N");
    sweep->add_flag("--fitted", so.fitted, "Integrate over domains fitted to the cut-score density");
    sweep->add_option("--fitted-level", so.fitted_level,
                      "With --fitted: the rule's level for every point (default: settled by the sweep, one "
                      "above what the grid's corners need)")
        ->check(CLI::Range(1, 13))
        ->option_text("N");
    sweep->footer("Example:\n  traz sweep examples/two-stage.deck --vary 'mix(2)=0:1:0.1' --mix-to 0,0,1,1 "
                  "--plot tradeoff.png -o tradeoff.csv\n\nExit status as for traz; 1 also when a point is refused "
                  "(its row gives the reason).");

    std::string plot_in, plot_out;
    CLI::App* plot = app.add_subcommand("plot", "Plot a sweep CSV (shards concatenated in any order)");
    plot->add_option("CSV", plot_in, "The sweep's CSV")->required();
    plot->add_option("--plot", plot_out, "The plot file (.png, .svg or .pdf)")->required()->option_text("FILE");

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
    if (*sweep) {
        std::string why;
        if (!traz::parse_shard(shard, so.shard_index, so.shard_count, why)) {
            std::fprintf(stderr, "traz: sweep: %s\n", why.c_str());
            return traz::kRunBadDeck;
        }
        return traz::run_sweep(so);
    }
    if (*plot) return traz::plot_csv(plot_in, plot_out);
    return run_decks(o);
}
