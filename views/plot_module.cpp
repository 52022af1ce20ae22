// The sweep plot as a module that the traz command loads when it draws one: PLplot and the
// libraries it brings (fonts, images, triangulation) are then loaded by the runs that plot,
// not at every start of the program.
#include "views/plot.hpp"

// plot_sweep under a name the loader finds (see cli/plot_loader.hpp).
extern "C" bool traz_plot_sweep(const std::string& path, const traz::PlotText& text,
                                const std::vector<traz::PlotPoint>& points, std::string& error, bool* input_fault) {
    return traz::plot_sweep(path, text, points, error, input_fault);
}
