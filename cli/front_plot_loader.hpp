// The Pareto front plot, drawn by the plot module (traz-plot.so) that is loaded on first use.
#pragma once
#include <string>
#include <vector>

#include "views/plot_front.hpp"

namespace traz {

// plot_front through the module beside the executable (or in the build folder). False with
// the reason in error when the module cannot be loaded, or as plot_front says.
bool draw_front(const std::string& path, const FrontPlotText& text, const std::vector<FrontPlotPoint>& points,
                std::string& error);

} // namespace traz
