// The Pareto front plot: the expected criterion score of those selected against the impact
// ratio along the front, and beside it each stage's weights along the front, drawn with PLplot
// into a PNG, SVG or PDF file.
#pragma once
#include <string>
#include <vector>

namespace traz {

struct FrontPlotPoint {
    int point = 0;
    bool computed = false;  // false: no results (left out)
    bool settled = false;   // false: drawn with an open marker
    double E = 0, E_err = 0;    // expected criterion score of those selected, error bound
    double IR = 0, IR_err = 0;  // impact ratio, error bound
    std::vector<double> weights;  // one per free weight, each stage's summing to 1 in absolute value
};

struct FrontPlotText {
    std::string title;                 // e.g. "Pareto front of two-stage.deck"
    std::vector<int> weight_stage;     // the stage (1-based) of each free weight
    std::vector<std::string> weight_names;  // e.g. "predictor 2"
};

// Writes the plot to `path` (format by extension: .png, .svg, .pdf). Left: E against the impact
// ratio with error bars, the four-fifths line and the two ends marked; right: one panel per
// stage with free weights, the share of each predictor against the impact ratio. Returns false
// with a one-line reason naming the file (unknown extension, nothing to plot, no driver, the
// file cannot be opened or written). Plots are drawn one at a time (PLplot keeps global
// state); it must not run while a sweep plot is being drawn on another thread.
bool plot_front(const std::string& path, const FrontPlotText& text, const std::vector<FrontPlotPoint>& points,
                std::string& error);

} // namespace traz
