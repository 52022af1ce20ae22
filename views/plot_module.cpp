// The plots as a module that the traz command loads when it draws one: PLplot and the
// libraries it brings (fonts, images, triangulation) are then loaded by the runs that plot,
// not at every start of the program.
#include "views/plot.hpp"
#include "views/plot_front.hpp"

// plot_sweep and plot_front under names the loader finds (see cli/plot_loader.hpp).
extern "C" bool traz_plot_sweep(const std::string& path, const traz::PlotText& text,
                                const std::vector<traz::PlotPoint>& points, std::string& error, bool* input_fault) {
    return traz::plot_sweep(path, text, points, error, input_fault);
}

extern "C" bool traz_plot_front(const std::string& path, const traz::FrontPlotText& text,
                                const std::vector<traz::FrontPlotPoint>& points, std::string& error) {
    return traz::plot_front(path, text, points, error);
}
