// Fuzzes whole runs: every deck the validation accepts is computed, with at most 8 passes and
// a cubature budget of at most 5,000 evaluations (the three-stage example's results settle to
// about three decimals there), and its results section (the lines after "PROGRAM OUTPUT")
// must hold numbers only: no NaN, no infinity, no field of asterisks. One exception: a deck
// whose budget runs out before the accuracy is met (its report shows the Ifail lines) may get
// a negative variance of the average, whose SD then prints as asterisks; the run must then
// say so in a warning.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "evaluate/evaluate.hpp"
#include "views/report.hpp"
#include "model/messages.hpp"

namespace {

bool has_non_number(const std::string& results) {
    for (const char* bad : {"*", "nan", "NaN", "NAN", "inf", "Inf", "INF"})
        if (results.find(bad) != std::string::npos) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    const std::string_view deck(reinterpret_cast<const char*>(data), size);

    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    traz::set_message_stream(sink);
    traz::reset_messages();
    traz::RunOptions opt;
    opt.pass_cap = 8;
    opt.budget_cap = 5000;
    opt.cpu_clock = [] { return 0.0f; };
    traz::RunRecord rec;
    traz::compute(deck, rec, opt);  // refused decks end before the passes and the report
    traz::write_report(out, rec);
    std::fclose(out);
    const std::string report(text, length);
    std::free(text);

    bool spent = false, warned = false;
    for (const traz::PassRecord& p : rec.passes) spent = spent || p.status != 0;
    for (const std::string& w : rec.warnings) warned = warned || w.find("came out negative") != std::string::npos;
    const std::size_t at = report.find("PROGRAM OUTPUT");
    if (at == std::string::npos) return 0;
    std::size_t from = at;
    for (std::size_t end; (end = report.find('\n', from)) != std::string::npos; from = end + 1) {
        const std::string line = report.substr(from, end - from);
        if (!has_non_number(line)) continue;
        if (spent && warned && line.rfind("Standard Deviation Average Criterion Score Selected:", 0) == 0) continue;
        std::fprintf(stderr, "results that are not numbers:\n%s\n", report.substr(at).c_str());
        __builtin_trap();
    }
    return 0;
}
