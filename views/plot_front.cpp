#include "views/plot_front.hpp"

#include "views/plot.hpp"
#include "views/plot_file.hpp"

#include <plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace traz {

namespace {

constexpr double kFourFifths = 0.8;

using plotting::Extent;
using plotting::kGrid;
using plotting::kInk;
using plotting::kRule;
constexpr int kFirstPredictor = plotting::kFirstSeries;
constexpr int kNumColours = plotting::kNumColours;
constexpr int kFrontColour = kFirstPredictor;

int predictor_colour(int predictor) { return kFirstPredictor + (predictor - 1) % (kNumColours - kFirstPredictor); }

void text_size(double scale) { plschr(0.0, 0.62 * scale); }

void dashed() {
    static PLINT mark[] = {1500}, space[] = {1000};
    plstyl(1, mark, space);
}

void solid() { plstyl(0, nullptr, nullptr); }

void frame(double x0, double x1, double y0, double y1, const Extent& x, const Extent& y, const char* xopt) {
    plvpor(x0, x1, y0, y1);
    plwind(x.lo, x.hi, y.lo, y.hi);
    plcol0(kGrid);
    plwidth(1.0);
    pllsty(1);
    plbox("g", 0.0, 0, "g", 0.0, 0);
    plcol0(kInk);
    plwidth(1.5);
    plsxax(6, 0);
    plsyax(6, 0);
    plbox(xopt, 0.0, 0, "bcnstv", 0.0, 0);
}

// A label beside a point unless one already placed is too close (in the panel's scaled units):
// above and to the right of the point, or, near the panel's right edge or when asked for
// (a front falls to the right), below and to its left.
class Labels {
public:
    Labels(const Extent& x, const Extent& y) : x_(x), y_(y) {}
    bool place(double x, double y, const std::string& text, bool left_below = false) {
        const double u = (x - x_.lo) / x_.span(), v = (y - y_.lo) / y_.span();
        for (const auto& [pu, pv] : placed_)
            if (std::fabs(u - pu) < 0.045 && std::fabs(v - pv) < 0.035) return false;
        placed_.emplace_back(u, v);
        if (left_below || u > 0.93)
            plptex(x - 0.02 * x_.span(), y - 0.035 * y_.span(), 1.0, 0.0, 1.0, text.c_str());
        else
            plptex(x + 0.012 * x_.span(), y + 0.015 * y_.span(), 1.0, 0.0, 0.0, text.c_str());
        return true;
    }

private:
    Extent x_, y_;
    std::vector<std::pair<double, double>> placed_;
};

void draw_front(const std::vector<const FrontPlotPoint*>& pts, double x0, double x1, double y0, double y1) {
    Extent ax, ey;
    ax.add(kFourFifths);
    for (const FrontPlotPoint* p : pts) {
        ax.add(p->IR - p->IR_err), ax.add(p->IR + p->IR_err);
        ey.add(p->E - p->E_err), ey.add(p->E + p->E_err);
    }
    ax.pad(0.06);
    ey.pad(0.10);
    text_size(1.05);
    frame(x0, x1, y0, y1, ax, ey, "bcnst");
    text_size(1.15);
    plmtex("b", 2.8, 0.5, 0.5, "Impact ratio (lower group selection rate / higher)");
    plmtex("l", 4.5, 0.5, 0.5, "Expected criterion score of those selected (SD units)");

    plcol0(kRule);
    plwidth(2.0);
    dashed();
    PLFLT rx[2] = {kFourFifths, kFourFifths}, ry[2] = {ey.lo, ey.hi};
    plline(2, rx, ry);
    solid();
    text_size(0.9);
    plptex(kFourFifths - 0.02 * ax.span(), ey.lo + 0.97 * ey.span(), 0.0, 1.0, 1.0, "four-fifths rule");

    std::vector<PLFLT> x, y;
    for (const FrontPlotPoint* p : pts) x.push_back(p->IR), y.push_back(p->E);
    plcol0(kFrontColour);
    plwidth(2.5);
    if (x.size() > 1) plline(static_cast<PLINT>(x.size()), x.data(), y.data());
    // Error bars where they are wider than the marker.
    plwidth(1.5);
    for (const FrontPlotPoint* p : pts) {
        if (p->E_err > 0.008 * ey.span()) {
            PLFLT at = p->IR, lo = p->E - p->E_err, hi = p->E + p->E_err;
            plerry(1, &at, &lo, &hi);
        }
        if (p->IR_err > 0.006 * ax.span()) {
            PLFLT at = p->E, lo = p->IR - p->IR_err, hi = p->IR + p->IR_err;
            plerrx(1, &lo, &hi, &at);
        }
    }
    for (const FrontPlotPoint* p : pts) {
        PLFLT px = p->IR, py = p->E;
        plssym(0.0, 1.3);
        plpoin(1, &px, &py, p->settled ? 17 : 4);
    }
    // The ends: larger markers and their names; the points' numbers where there is room.
    plcol0(kInk);
    Labels labels(ax, ey);
    const FrontPlotPoint* first = pts.front();
    const FrontPlotPoint* last = pts.back();
    for (const FrontPlotPoint* end : {first, last}) {
        PLFLT px = end->IR, py = end->E;
        plssym(0.0, 2.4);
        plpoin(1, &px, &py, 18);
    }
    text_size(0.95);
    labels.place(first->IR, first->E, "highest expected score (point " + std::to_string(first->point) + ")");
    labels.place(last->IR, last->E, "highest impact ratio (point " + std::to_string(last->point) + ")",
                 (last->IR - ax.lo) / ax.span() > 0.5);
    text_size(0.75);
    for (const FrontPlotPoint* p : pts)
        if (p != first && p != last) labels.place(p->IR, p->E, std::to_string(p->point));
}

// One stage's weights against the impact ratio.
void draw_weights(const std::vector<const FrontPlotPoint*>& pts, const FrontPlotText& text, int stage, double x0,
                  double x1, double y0, double y1, bool bottom) {
    Extent ax, wy;
    for (const FrontPlotPoint* p : pts) ax.add(p->IR);
    wy.add(0.0), wy.add(1.0);
    for (const FrontPlotPoint* p : pts)
        for (std::size_t k = 0; k < p->weights.size(); ++k)
            if (text.weight_stage[k] == stage) wy.add(p->weights[k]);
    ax.pad(0.04);
    wy.pad(0.06);
    text_size(0.9);
    frame(x0, x1, y0, y1, ax, wy, bottom ? "bcnst" : "bcst");
    text_size(1.0);
    plmtex("t", 0.8, 0.5, 0.5, ("Stage " + std::to_string(stage) + ": share of each predictor in the weights").c_str());
    if (bottom) {
        text_size(1.15);
        plmtex("b", 2.8, 0.5, 0.5, "Impact ratio along the front");
    }
    std::vector<std::string> names;
    std::vector<PLINT> colours;
    for (std::size_t k = 0; k < text.weight_stage.size(); ++k) {
        if (text.weight_stage[k] != stage) continue;
        std::vector<PLFLT> x, y;
        for (const FrontPlotPoint* p : pts) x.push_back(p->IR), y.push_back(p->weights[k]);
        int predictor = 0;
        std::sscanf(text.weight_names[k].c_str(), "predictor %d", &predictor);
        plcol0(predictor_colour(predictor));
        plwidth(2.5);
        if (x.size() > 1) plline(static_cast<PLINT>(x.size()), x.data(), y.data());
        plssym(0.0, 0.9);
        plpoin(static_cast<PLINT>(x.size()), x.data(), y.data(), 17);
        names.push_back(text.weight_names[k]);
        colours.push_back(predictor_colour(predictor));
    }
    const auto n = static_cast<PLINT>(names.size());
    std::vector<const char*> entries(static_cast<std::size_t>(n));
    for (PLINT i = 0; i < n; ++i) entries[static_cast<std::size_t>(i)] = names[static_cast<std::size_t>(i)].c_str();
    std::vector<PLINT> opts(static_cast<std::size_t>(n), PL_LEGEND_LINE), styles(static_cast<std::size_t>(n), 1);
    std::vector<PLFLT> widths(static_cast<std::size_t>(n), 2.5);
    PLFLT w = 0, h = 0;
    text_size(0.85);
    plcol0(kInk);
    pllegend(&w, &h, 0, PL_POSITION_RIGHT | PL_POSITION_OUTSIDE, 0.01, 0.0, 0.05, 0, kInk, 1, n, 1, n, opts.data(),
             0.6, 0.55, 1.6, 0.0, colours.data(), entries.data(), nullptr, nullptr, nullptr, nullptr, colours.data(),
             styles.data(), widths.data(), nullptr, nullptr, nullptr, nullptr);
}

void draw(const FrontPlotText& text, const std::vector<const FrontPlotPoint*>& pts) {
    plvpor(0.0, 1.0, 0.0, 1.0);
    plwind(0.0, 1.0, 0.0, 1.0);
    plcol0(kInk);
    text_size(1.35);
    plptex(0.5, 0.955, 1.0, 0.0, 0.5, text.title.c_str());
    int unsettled = 0;
    for (const FrontPlotPoint* p : pts) unsettled += p->settled ? 0 : 1;
    if (unsettled > 0) {
        text_size(0.9);
        plptex(0.07, 0.915, 1.0, 0.0, 0.0,
               (std::to_string(unsettled) + " point" + (unsettled == 1 ? "" : "s") +
                " not settled by the search (open markers): see the rows")
                   .c_str());
    }
    draw_front(pts, 0.075, 0.50, 0.10, 0.86);

    std::vector<int> stages;
    for (int s : text.weight_stage)
        if (std::find(stages.begin(), stages.end(), s) == stages.end()) stages.push_back(s);
    const double top = 0.86, bottom = 0.10, gap = 0.07;
    const double height = (top - bottom - gap * (static_cast<double>(stages.size()) - 1)) / static_cast<double>(stages.size());
    for (std::size_t i = 0; i < stages.size(); ++i) {
        const double y1 = top - static_cast<double>(i) * (height + gap);
        draw_weights(pts, text, stages[i], 0.585, 0.855, y1 - height, y1, i + 1 == stages.size());
    }
}

} // namespace

bool plot_front(const std::string& path, const FrontPlotText& text, const std::vector<FrontPlotPoint>& points,
                std::string& error) {
    if (!plot_format_known(path, error)) return false;
    std::vector<const FrontPlotPoint*> pts;
    for (const FrontPlotPoint& p : points)
        if (p.computed && std::isfinite(p.E) && std::isfinite(p.IR) && p.weights.size() == text.weight_stage.size())
            pts.push_back(&p);
    std::sort(pts.begin(), pts.end(), [](const FrontPlotPoint* a, const FrontPlotPoint* b) { return a->point < b->point; });
    if (pts.empty()) {
        error = "plot file \"" + path + "\": nothing to plot (no point has results)";
        return false;
    }

    return plotting::write_plot(path, [&] { draw(text, pts); }, error);
}

} // namespace traz
