// A progress bar on standard error: what is done of the total, the time elapsed and an
// estimate of the time left. Shown only when asked (a terminal), and ended with a newline by
// finish() or when it goes out of scope.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace traz {

class ProgressBar {
public:
    // unit names what is counted ("points", "replications").
    ProgressBar(bool shown, std::string unit);
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void show(std::int64_t done, std::int64_t total);
    void finish();

private:
    bool shown_;
    bool drawn_ = false;
    std::string unit_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace traz
