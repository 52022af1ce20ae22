// Fuzzes the deck reader and everything up to the first integration: completion of the
// deck, the stage composites, the echo, the validation and the order-statistic constants.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "driver/driver.hpp"
#include "driver/messages.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    traz::set_message_stream(sink);
    traz::reset_messages();
    traz::RunOptions opt;
    opt.stop_before_integration = true;
    opt.cpu_clock = [] { return 0.0f; };
    const std::string_view deck(reinterpret_cast<const char*>(data), size);
    traz::run(deck, sink, sink, opt);
    return 0;
}
