// The plots, drawn by the plot module (traz-plot.so) that is loaded on first use, so that a run
// without a plot never loads PLplot.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "views/plot.hpp"
#include "views/plot_front.hpp"

namespace traz {

// plot_sweep through the module beside the executable, in ../lib/traz from it (an installed
// traz), or in the build folder. False with the reason in error when the module cannot be
// loaded (input_fault false), or as plot_sweep says.
bool draw_plot(const std::string& path, const PlotText& text, const std::vector<PlotPoint>& points,
               std::string& error, bool* input_fault = nullptr);

// plot_front through the same module. False with the reason in error when the module cannot be
// loaded, or as plot_front says.
bool draw_front(const std::string& path, const FrontPlotText& text, const std::vector<FrontPlotPoint>& points,
                std::string& error);

// Draws a plot into a temporary file beside `path` (draw(temp, error) draws it) and renames it
// over `path` when complete, so that a plot that fails leaves any earlier file as it was. False
// with the reason in error (naming `path`, not the temporary file); error stays empty when the
// temporary file could not be made (a diagnostic is on standard error already).
bool draw_in_place(const std::string& path, const std::function<bool(const std::string&, std::string&)>& draw,
                   std::string& error);

} // namespace traz
