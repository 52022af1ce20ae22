// The sweep plot, drawn by the plot module (traz-plot.so) that is loaded on first use.
#pragma once
#include <string>
#include <vector>

#include "views/plot.hpp"

namespace traz {

// plot_sweep through the module beside the executable, in ../lib/traz from it (an installed
// traz), or in the build folder. False with the reason in error when the module cannot be
// loaded (input_fault false), or as plot_sweep says.
bool draw_plot(const std::string& path, const PlotText& text, const std::vector<PlotPoint>& points,
               std::string& error, bool* input_fault = nullptr);

} // namespace traz
