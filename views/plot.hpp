// The sweep plot: the expected criterion score of those selected against the impact ratio, and
// each result against the varied quantity, drawn with PLplot into a PNG, SVG or PDF file.
#pragma once
#include <string>
#include <vector>

namespace traz {

// One point of a sweep as the plot sees it. v2 is NaN when only one quantity varies.
struct PlotPoint {
    double v1 = 0, v2 = 0;
    bool computed = false;      // false: the point was refused (no results); it is skipped
    double E = 0, E_err = 0;    // expected criterion score of those selected, error bound
    double R1 = 0, R1_err = 0;  // selection rate of group 1
    double R2 = 0, R2_err = 0;  // selection rate of group 2
    double IR = 0, IR_err = 0;  // impact ratio: the lower rate over the higher (what the four-fifths rule judges)
    double SD = 0, SD_err = 0;  // SD of the average criterion score of the selected
    // A quantity the deck's passes did not produce is NaN (e.g. SD with fewer than 6 passes).
    // An error bound that is unknown is NaN too; no error bar is drawn for it.
};

// The words of a sweep plot: its title and the names of the varied quantities.
struct PlotText {
    std::string title;  // e.g. "two-stage.deck: mix(2) from 0 to 1"
    std::string vary1;  // name of the first varied quantity, e.g. "mix(2)"
    std::string vary2;  // empty when only one varies
    // Optional axis/legend wording for the varied quantities (the name is used when empty),
    // e.g. "mix(2): share of the --mix-to weights in stage 2".
    std::string label1;
    std::string label2;
};

// Writes the sweep plot to `path`; the format follows the extension (.png, .svg, .pdf, any case).
// Points arrive in sweep order, v1 fastest within each v2; each distinct v2 makes one curve.
// Refused points and non-finite values are left out and break the curve they are on.
// Panel 1: E against the impact ratio, points joined in sweep order and labelled with v1, the
// 0.8 line of the four-fifths rule dashed. Panel 2: E, SD, the two rates and the impact ratio
// against v1, with error bars where they are wider than the marker (and narrower than
// kLargestPlotted).
// Returns false with a one-line reason in `error`, naming the file: unknown extension, nothing
// to plot (no point has a finite result), a value beyond kLargestPlotted, PLplot lacks the
// driver, the file cannot be opened (these leave the file as it was), or the file was not
// written whole (PLplot failed, the disk is full, a file size limit). PLplot prints nothing
// and asks nothing. Thread-safe: plots are drawn one at a time (PLplot keeps global state).
// The file is written in place: callers that want an earlier file kept until the new one is
// complete pass a temporary path with the same extension. input_fault, when given, is set
// when the points are at fault (nothing to plot, a value beyond kLargestPlotted) rather than
// the file.
bool plot_sweep(const std::string& path, const PlotText& text, const std::vector<PlotPoint>& points,
                std::string& error, bool* input_fault = nullptr);

// Values a plot can scale: at most this in absolute value.
constexpr double kLargestPlotted = 1e9;

// The extension of path in lower case (".png"), or "" when it has none.
inline std::string plot_extension(const std::string& path) {
    const auto dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext;
}

// Whether the extension of path names a plot format (.png, .svg, .pdf, any case); false with
// the reason, naming the file once. (Inline: the commands check a plot's name before they load
// the plot module.)
inline bool plot_format_known(const std::string& path, std::string& error) {
    const std::string ext = plot_extension(path);
    if (ext == ".png" || ext == ".svg" || ext == ".pdf") return true;
    error = "plot file \"" + path + "\": unknown format (use .png, .svg or .pdf)";
    return false;
}
} // namespace traz
