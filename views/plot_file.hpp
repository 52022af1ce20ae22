// What the plots share: the colour map, the extent of an axis, and writing a plot file with
// PLplot (the device from the extension, one plot at a time, the file checked whole).
#pragma once
#include <cmath>
#include <functional>
#include <string>

namespace traz::plotting {

// Colour map 0: background, ink, grid, the four-fifths line, then the colours of the curves or
// predictors (a palette that stays distinguishable for colour-blind readers).
constexpr int kInk = 1, kGrid = 2, kRule = 3, kFirstSeries = 4;
constexpr int kNumColours = 12;
constexpr int kSeriesColours = kNumColours - kFirstSeries;

// The extent of the values on one axis, padded for drawing.
struct Extent {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    void add(double v) {
        if (std::isfinite(v)) lo = v < lo ? v : lo, hi = v > hi ? v : hi;
    }
    bool empty() const { return lo > hi; }
    double span() const { return hi - lo; }
    // Widens by share of the width on each side; an empty extent becomes [0, 1], a single
    // value a tenth of its size (or 0.1) on each side.
    void pad(double share);
};

// Draws a plot into path (.png, .svg or .pdf, any case; the caller has checked the extension)
// on a 1600 × 1000 page with the colour map set and PLplot's font loaded: draw() makes the
// PLplot calls. Plots are drawn one at a time (PLplot keeps global state). False with a reason
// naming the file when PLplot lacks the driver, the file cannot be opened (both leave it as it
// was), or the file was not written whole (PLplot failed, the disk is full, a size limit).
bool write_plot(const std::string& path, const std::function<void()>& draw, std::string& error);

} // namespace traz::plotting
