// Fuzzes the deck reader and everything up to the first integration: completion of the
// deck, the stage composites, the validation, the echo and the order-statistic constants.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "evaluate/evaluate.hpp"
#include "views/report.hpp"
#include "model/messages.hpp"
#include "deck/validate.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    const std::string_view deck(reinterpret_cast<const char*>(data), size);

    static const auto d = std::make_unique<traz::Deck>();
    static const auto s = std::make_unique<traz::StageValues>();
    *d = traz::Deck{};
    *s = traz::StageValues{};
    std::string message;
    if (traz::read_deck(deck, *d, message)) {
        traz::derive_stages(*d, *s);
        const bool accepted = traz::validate_deck(*d, *s, message);
        // A refusal is one line that names the statement.
        if (!accepted && (message.rfind("deck statement ", 0) != 0 || message.find('\n') != std::string::npos))
            __builtin_trap();
    }

    traz::set_message_stream(sink);
    traz::reset_messages();
    traz::RunOptions opt;
    opt.stop_before_integration = true;
    opt.cpu_clock = [] { return 0.0f; };
    traz::run(deck, sink, sink, opt);
    return 0;
}
