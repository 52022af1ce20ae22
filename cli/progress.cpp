#include "cli/progress.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

namespace traz {

namespace {

// "m:ss", or "h:mm:ss" from an hour on.
std::string clock_text(double seconds) {
    const long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

} // namespace

ProgressBar::ProgressBar(bool shown, std::string unit)
    : shown_(shown), unit_(std::move(unit)), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::show(std::int64_t done, std::int64_t total) {
    if (!shown_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    constexpr std::int64_t width = 30;
    const std::int64_t filled = total > 0 ? done * width / total : width;
    std::string bar(static_cast<std::size_t>(filled), '=');
    if (filled < width) bar += '>' + std::string(static_cast<std::size_t>(width - filled - 1), ' ');
    const std::string left =
        done > 0 ? clock_text(elapsed / static_cast<double>(done) * static_cast<double>(total - done)) : "--:--";
    std::fprintf(stderr, "\r  %lld/%lld %s [%s] %s elapsed, ~%s left ", static_cast<long long>(done),
                 static_cast<long long>(total), unit_.c_str(), bar.c_str(), clock_text(elapsed).c_str(), left.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (shown_ && drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
}

} // namespace traz
