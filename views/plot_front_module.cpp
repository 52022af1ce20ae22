// The Pareto front plot in the plot module (traz-plot.so), which the traz command loads when
// it draws.
#include "views/plot_front.hpp"

// plot_front under a name the loader finds (see cli/front_plot_loader.hpp).
extern "C" bool traz_plot_front(const std::string& path, const traz::FrontPlotText& text,
                                const std::vector<traz::FrontPlotPoint>& points, std::string& error) {
    return traz::plot_front(path, text, points, error);
}
