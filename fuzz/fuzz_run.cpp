// Fuzzes whole runs: every deck the validation accepts is computed, with at most 8 passes and
// a cubature budget of at most 5,000 evaluations (the three-stage example's results settle to
// about three decimals there), and its results section (the lines after "PROGRAM OUTPUT")
// must hold numbers only: no NaN, no infinity, no field of asterisks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "driver/driver.hpp"
#include "driver/messages.hpp"
#include "driver/validate.hpp"

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

    // Refused decks end before the report; only accepted ones are worth a whole run.
    static const auto d = std::make_unique<traz::Deck>();
    static const auto s = std::make_unique<traz::StageValues>();
    *d = traz::Deck{};
    *s = traz::StageValues{};
    std::string message;
    if (!traz::read_deck(deck, *d, message)) return 0;
    traz::derive_stages(*d, *s);
    if (!traz::validate_deck(*d, *s, message)) return 0;

    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    traz::set_message_stream(sink);
    traz::reset_messages();
    traz::RunOptions opt;
    opt.pass_cap = 8;
    opt.budget_cap = 5000;
    opt.cpu_clock = [] { return 0.0f; };
    traz::run(deck, out, sink, opt);
    std::fclose(out);
    const std::string report(text, length);
    std::free(text);

    const std::size_t at = report.find("PROGRAM OUTPUT");
    if (at != std::string::npos && has_non_number(report.substr(at))) {
        std::fprintf(stderr, "results that are not numbers:\n%s\n", report.substr(at).c_str());
        __builtin_trap();
    }
    return 0;
}
