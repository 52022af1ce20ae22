// The sweep plot: PNG, SVG and PDF files of a single sweep and of a grid, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "views/plot.hpp"

namespace {

using traz::PlotPoint;
using traz::PlotText;
namespace fs = std::filesystem;

const fs::path kOut = fs::path(TRAZ_TEST_OUT_DIR) / "plot_out";

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The native SVG driver writes text as character references (&#x41;); decoded here.
std::string svg_text(const std::string& svg) {
    std::string out;
    for (std::size_t i = 0; i < svg.size(); ++i) {
        if (svg.compare(i, 3, "&#x") == 0) {
            const std::size_t end = svg.find(';', i);
            if (end != std::string::npos) {
                out += static_cast<char>(std::stoi(svg.substr(i + 3, end - i - 3), nullptr, 16));
                i = end;
                continue;
            }
        }
        out += svg[i];
    }
    return out;
}

// A made-up trade-off: more of the second weight set lowers the score and raises the ratio.
std::vector<PlotPoint> sweep(const std::vector<double>& v2s) {
    std::vector<PlotPoint> pts;
    for (double b : v2s)
        for (int i = 0; i <= 4; ++i) {
            PlotPoint p;
            p.v1 = 0.25 * i;
            p.v2 = b;
            p.computed = !(i == 2 && b == 0.5);  // one refused point in the grid
            p.E = 1.2 - 0.3 * p.v1 + (std::isnan(b) ? 0 : b), p.E_err = i == 4 ? 0.05 : 1e-5;
            p.R1 = 0.12 - 0.02 * p.v1, p.R1_err = 1e-6;
            p.R2 = 0.04 + 0.05 * p.v1, p.R2_err = 1e-6;
            p.IR = std::min(p.R1, p.R2) / std::max(p.R1, p.R2), p.IR_err = 1e-4;
            p.SD = i < 3 ? 0.28 : std::nan("");  // a deck without the SD passes
            p.SD_err = std::nan("");
            pts.push_back(p);
        }
    return pts;
}

TEST(PlotSweep, WritesEachFormatWithItsLabels) {
    fs::create_directories(kOut);
    const std::vector<PlotPoint> single = sweep({std::nan("")}), grid = sweep({0.25, 0.5, 0.75});
    const PlotText one{"two-stage.deck: mix(2) from 0 to 1", "mix(2)", "", "", ""};
    const PlotText two{"two-stage.deck: mix(2) from 0 to 1, pg from 0.25 to 0.75", "mix(2)", "pg", "", ""};
    const std::pair<const char*, std::string> formats[] = {
        {".png", "\x89PNG\r\n\x1a\n"}, {".svg", "<?xml"}, {".pdf", "%PDF-"}, {".PNG", "\x89PNG\r\n\x1a\n"}};
    for (const auto& [ext, magic] : formats)
        for (bool is_grid : {false, true}) {
            const fs::path path = kOut / ((is_grid ? "grid" : "single") + std::string(ext));
            fs::remove(path);
            std::string error;
            ASSERT_TRUE(traz::plot_sweep(path.string(), is_grid ? two : one, is_grid ? grid : single, error))
                << path << ": " << error;
            const std::string file = contents(path);
            EXPECT_EQ(file.compare(0, magic.size(), magic), 0) << path;
            EXPECT_GT(file.size(), 10000u) << path;
            if (std::string(ext) != ".svg") continue;
            EXPECT_NE(file.find("<svg"), std::string::npos);
            const std::string text = svg_text(file);
            for (const char* label :
                 {"Expected criterion score of those selected", "Impact ratio (lower selection rate / higher)",
                  "four-fifths rule", "mix(2)", "two-stage.deck: mix(2) from 0 to 1", "0.75"})
                EXPECT_NE(text.find(label), std::string::npos) << path << " lacks " << label;
            EXPECT_EQ(text.find("pg = 0.5") != std::string::npos, is_grid) << path;
        }
}

TEST(PlotSweep, RefusesWhatItCannotPlot) {
    fs::create_directories(kOut);
    const PlotText text{"t", "pg", "", "", ""};
    std::vector<PlotPoint> refused = sweep({std::nan("")});
    for (PlotPoint& p : refused) p.computed = false;
    std::vector<PlotPoint> huge = sweep({std::nan("")});
    huge[1].E = 1.7e308;
    const std::tuple<fs::path, std::vector<PlotPoint>, const char*> cases[] = {
        {kOut / "plot.jpg", sweep({std::nan("")}), "unknown format"},
        {kOut / "plot", sweep({std::nan("")}), "unknown format"},
        {kOut / "png", sweep({std::nan("")}), "unknown format"},
        {kOut / "no-such-dir" / "plot.png", sweep({std::nan("")}), "No such file or directory"},
        {kOut / "empty.png", refused, "nothing to plot"},
        {kOut / "none.svg", {}, "nothing to plot"},
        {kOut / "huge.svg", huge, "cannot be plotted"},
    };
    for (const auto& [path, points, why] : cases) {
        fs::remove(path);
        std::string error = "";
        EXPECT_FALSE(traz::plot_sweep(path.string(), text, points, error)) << path;
        EXPECT_NE(error.find(path.string()), std::string::npos) << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(path)) << path;
    }
}

} // namespace
