#include "views/plot.hpp"

#include "views/plot_file.hpp"

#include <plplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace traz {

namespace {

constexpr double kFourFifths = 0.8;

using plotting::Extent;
using plotting::kGrid;
using plotting::kInk;
using plotting::kRule;
constexpr int kFirstCurve = plotting::kFirstSeries;
constexpr int kCurveColours = plotting::kSeriesColours;

int curve_colour(std::size_t c) { return kFirstCurve + static_cast<int>(c % kCurveColours); }
// Past the palette the curves also differ in line style (PLplot's styles 1..8).
int curve_style(std::size_t c) { return 1 + static_cast<int>((c / kCurveColours) % 8); }

// '#' starts PLplot's text escapes; a literal one is written twice.
std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '#') out += '#';
        out += c;
    }
    return out;
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// One curve: the points with the same v2, in sweep order.
struct Curve {
    double v2 = 0;
    std::vector<const PlotPoint*> points;
};

std::vector<Curve> curves_of(const std::vector<PlotPoint>& points) {
    std::vector<Curve> curves;
    for (const PlotPoint& p : points) {
        auto it = std::find_if(curves.begin(), curves.end(), [&](const Curve& c) { return same_value(c.v2, p.v2); });
        if (it == curves.end()) {
            curves.push_back({p.v2, {}});
            it = curves.end() - 1;
        }
        it->points.push_back(&p);
    }
    return curves;
}

// Value of one result of a point, with its error bound; NaN when the point has none.
using Field = double PlotPoint::*;
struct Result {
    Field value, err;
};
constexpr Result kE{&PlotPoint::E, &PlotPoint::E_err};
constexpr Result kSD{&PlotPoint::SD, &PlotPoint::SD_err};
constexpr Result kR1{&PlotPoint::R1, &PlotPoint::R1_err};
constexpr Result kR2{&PlotPoint::R2, &PlotPoint::R2_err};
constexpr Result kIR{&PlotPoint::IR, &PlotPoint::IR_err};

double value_of(const PlotPoint& p, Field f) {
    return p.computed && std::isfinite(p.*f) ? p.*f : std::nan("");
}
double error_of(const PlotPoint& p, Field f) {
    return p.computed && std::isfinite(p.*f) && p.*f > 0 && p.*f <= kLargestPlotted ? p.*f : 0.0;
}

// A polyline through the finite (x, y) pairs of one curve; a missing value breaks it.
void draw_polyline(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<PLFLT> xs, ys;
    auto flush = [&] {
        if (xs.size() > 1) plline(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
        xs.clear();
        ys.clear();
    };
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i]) || std::isnan(y[i])) {
            flush();
            continue;
        }
        xs.push_back(x[i]);
        ys.push_back(y[i]);
    }
    flush();
}

void draw_markers(const std::vector<double>& x, const std::vector<double>& y, PLFLT scale) {
    std::vector<PLFLT> xs, ys;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (!std::isnan(x[i]) && !std::isnan(y[i])) xs.push_back(x[i]), ys.push_back(y[i]);
    if (xs.empty()) return;
    plssym(0.0, scale);
    plpoin(static_cast<PLINT>(xs.size()), xs.data(), ys.data(), 17);
}

// Error bars where the bar is wider than the marker (`min_half` in world units).
void draw_error_bars(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& e,
                     double min_half, bool horizontal) {
    std::vector<PLFLT> at, lo, hi;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i]) || std::isnan(y[i]) || !(e[i] > min_half)) continue;
        at.push_back(horizontal ? y[i] : x[i]);
        lo.push_back((horizontal ? x[i] : y[i]) - e[i]);
        hi.push_back((horizontal ? x[i] : y[i]) + e[i]);
    }
    if (at.empty()) return;
    plwidth(1.5);
    if (horizontal) plerrx(static_cast<PLINT>(at.size()), lo.data(), hi.data(), at.data());
    else plerry(static_cast<PLINT>(at.size()), at.data(), lo.data(), hi.data());
}

// Text labels beside points, in world coordinates of a window of the given extent; a label
// that would overlap one already placed is left out.
class Labels {
public:
    Labels(double xspan, double yspan) : xspan_(xspan), yspan_(yspan) {}
    void place(double x, double y, const std::string& text) {
        const double u = x / xspan_, v = y / yspan_;
        for (const auto& [pu, pv] : placed_)
            if (std::fabs(u - pu) < 0.05 && std::fabs(v - pv) < 0.035) return;
        placed_.emplace_back(u, v);
        plptex(x + 0.012 * xspan_, y + 0.012 * yspan_, 1.0, 0.0, 0.0, text.c_str());
    }

private:
    double xspan_, yspan_;
    std::vector<std::pair<double, double>> placed_;
};

struct Panel {
    double x0, x1, y0, y1;  // viewport, normalised page coordinates
};

void frame(const Panel& p, const Extent& x, const Extent& y) {
    plvpor(p.x0, p.x1, p.y0, p.y1);
    plwind(x.lo, x.hi, y.lo, y.hi);
    plcol0(kGrid);
    plwidth(1.0);
    pllsty(1);
    plbox("g", 0.0, 0, "g", 0.0, 0);
    plcol0(kInk);
    plwidth(1.5);
    plsxax(6, 0);
    plsyax(6, 0);
    plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
}

// Character heights relative to PLplot's default, which is too large for a page of panels.
void text_size(double scale) { plschr(0.0, 0.62 * scale); }

void dashed() {
    static PLINT mark[] = {1500}, space[] = {1000};
    plstyl(1, mark, space);
}

void solid() { plstyl(0, nullptr, nullptr); }

// Draws everything; PLplot is initialised and the page started.
void draw(const PlotText& text, const std::vector<Curve>& curves) {
    const bool grid = curves.size() > 1 || !text.vary2.empty();
    const std::string name1 = escaped(text.label1.empty() ? text.vary1 : text.label1);
    const std::string name2 = escaped(text.vary2);

    // Title over the whole page.
    plvpor(0.0, 1.0, 0.0, 1.0);
    plwind(0.0, 1.0, 0.0, 1.0);
    plcol0(kInk);
    text_size(1.35);
    plptex(0.5, 0.955, 1.0, 0.0, 0.5, escaped(text.title).c_str());

    // Panel 1: E against the impact ratio.
    // A grid's legend goes in rows of three above the panel, at most four rows: past twelve
    // curves it names every second, third, ... curve.
    const std::size_t legend_every = (curves.size() + 11) / 12;
    const std::size_t legend_entries = (curves.size() + legend_every - 1) / legend_every;
    const int legend_rows = grid ? static_cast<int>((legend_entries + 2) / 3) : 0;
    const Panel left{0.075, 0.48, 0.10, 0.86 - 0.028 * legend_rows};
    Extent ax, ey;
    ax.add(kFourFifths);
    for (const Curve& c : curves)
        for (const PlotPoint* p : c.points) {
            const double ir = value_of(*p, kIR.value), e = value_of(*p, kE.value);
            if (std::isnan(ir) || std::isnan(e)) continue;
            ax.add(ir - error_of(*p, kIR.err));
            ax.add(ir + error_of(*p, kIR.err));
            ey.add(e - error_of(*p, kE.err));
            ey.add(e + error_of(*p, kE.err));
        }
    const bool no_pairs = ey.empty();
    if (no_pairs) ax.add(0.0), ax.add(1.0);
    ax.pad(0.06);
    ey.pad(0.08);
    text_size(1.05);
    frame(left, ax, ey);
    if (no_pairs) {
        text_size(1.0);
        plptex(0.5 * (ax.lo + ax.hi), 0.5 * (ey.lo + ey.hi), 1.0, 0.0, 0.5, "not computed");
    }
    text_size(1.15);
    plmtex("b", 2.8, 0.5, 0.5, "Impact ratio (lower selection rate / higher)");
    plmtex("l", 4.5, 0.5, 0.5, "Expected criterion score of those selected");
    const std::string labelled_with = "Points labelled with " + escaped(text.vary1);
    if (!grid) {
        text_size(0.9);
        plmtex("t", 1.0, 0.0, 0.0, labelled_with.c_str());
    }

    // The four-fifths rule.
    plcol0(kRule);
    plwidth(2.0);
    dashed();
    PLFLT rx[2] = {kFourFifths, kFourFifths}, ry[2] = {ey.lo, ey.hi};
    plline(2, rx, ry);
    solid();
    text_size(0.9);
    plptex(kFourFifths - 0.015 * (ax.hi - ax.lo), ey.lo + 0.97 * (ey.hi - ey.lo), 0.0, 1.0, 1.0, "four-fifths rule");

    const double min_x = 0.006 * (ax.hi - ax.lo), min_y = 0.009 * (ey.hi - ey.lo);
    Labels labels(ax.hi - ax.lo, ey.hi - ey.lo);
    for (std::size_t ci = 0; ci < curves.size(); ++ci) {
        const Curve& c = curves[ci];
        std::vector<double> x, y, xe, ye;
        for (const PlotPoint* p : c.points) {
            x.push_back(value_of(*p, kIR.value));
            y.push_back(value_of(*p, kE.value));
            xe.push_back(error_of(*p, kIR.err));
            ye.push_back(error_of(*p, kE.err));
        }
        plcol0(curve_colour(ci));
        pllsty(curve_style(ci));
        plwidth(2.5);
        draw_polyline(x, y);
        pllsty(1);
        draw_error_bars(x, y, ye, min_y, false);
        draw_error_bars(x, y, xe, min_x, true);
        draw_markers(x, y, 1.3);
        // Labels of v1 beside the points: on every curve of a small grid, else on the first and last.
        if (curves.size() <= 3 || ci == 0 || ci + 1 == curves.size()) {
            text_size(0.8);
            // The ends of the curve first, then the points between.
            std::vector<std::size_t> order;
            for (std::size_t i = 0; i < x.size(); ++i) order.push_back(i);
            if (order.size() > 1) std::rotate(order.begin() + 1, order.end() - 1, order.end());
            for (std::size_t i : order)
                if (!std::isnan(x[i]) && !std::isnan(y[i])) labels.place(x[i], y[i], number(c.points[i]->v1));
        }
    }

    // Legend of a grid's curves.
    if (grid) {
        std::vector<std::string> texts;
        std::vector<PLINT> colours, styles;
        for (std::size_t ci = 0; ci < curves.size(); ci += legend_every) {
            texts.push_back(name2 + " = " + number(curves[ci].v2));
            colours.push_back(curve_colour(ci));
            styles.push_back(curve_style(ci));
        }
        const auto n = static_cast<PLINT>(texts.size());
        std::vector<const char*> entries(n);
        std::vector<PLINT> opts(n, PL_LEGEND_LINE);
        std::vector<PLFLT> widths(n, 2.5);
        for (PLINT i = 0; i < n; ++i) entries[i] = texts[i].c_str();
        PLFLT w = 0, h = 0;
        text_size(0.85);
        plvpor(left.x0, left.x1, left.y0, left.y1);
        plwind(ax.lo, ax.hi, ey.lo, ey.hi);
        pllegend(&w, &h, PL_LEGEND_ROW_MAJOR, PL_POSITION_TOP | PL_POSITION_OUTSIDE, 0.0, 0.01, 0.05, 0, kInk, 1,
                 legend_rows, std::min<PLINT>(n, 3), n, opts.data(), 0.6, 0.55, 1.6, 0.0, colours.data(), entries.data(),
                 nullptr, nullptr, nullptr, nullptr, colours.data(), styles.data(), widths.data(), nullptr, nullptr,
                 nullptr, nullptr);
        // Above the legend: what the point labels are.
        const double top = left.y1 + (h + 0.035) * (left.y1 - left.y0);
        plvpor(0.0, 1.0, 0.0, 1.0);
        plwind(0.0, 1.0, 0.0, 1.0);
        plcol0(kInk);
        text_size(0.9);
        plptex(left.x0, top, 1.0, 0.0, 0.0, labelled_with.c_str());
    }

    // Panel 2: each result against v1, as small multiples with the same x axis.
    struct Small {
        const char* title;
        Result a;
        const Result* b;  // a second result in the same panel, dashed (the group 2 rate)
        bool rule;        // mark the four-fifths line
        Panel at;
    };
    const Small smalls[] = {
        {"Expected criterion score", kE, nullptr, false, {0.575, 0.76, 0.53, 0.86}},
        {"SD of the average criterion score", kSD, nullptr, false, {0.81, 0.975, 0.53, 0.86}},
        {"Selection rates", kR1, &kR2, false, {0.575, 0.76, 0.10, 0.43}},
        {"Impact ratio (lower rate / higher)", kIR, nullptr, true, {0.81, 0.975, 0.10, 0.43}},
    };
    Extent vx;
    for (const Curve& c : curves)
        for (const PlotPoint* p : c.points) vx.add(p->v1);
    vx.pad(0.05);
    // The shared x axis label of the small multiples.
    plvpor(0.575, 0.975, 0.10, 0.43);
    plcol0(kInk);
    text_size(1.15);
    plmtex("b", 3.2, 0.5, 0.5, name1.c_str());
    for (const Small& s : smalls) {
        Extent sy;
        for (const Curve& c : curves)
            for (const PlotPoint* p : c.points)
                for (const Result* r : {&s.a, s.b}) {
                    if (r == nullptr) continue;
                    const double v = value_of(*p, r->value);
                    if (std::isnan(v)) continue;
                    sy.add(v - error_of(*p, r->err));
                    sy.add(v + error_of(*p, r->err));
                }
        const bool none = sy.empty();
        if (s.rule && !none) sy.add(kFourFifths);
        sy.pad(0.08);
        text_size(0.9);
        frame(s.at, vx, sy);
        text_size(0.95);
        plmtex("t", s.b != nullptr ? 2.2 : 0.9, 0.5, 0.5, s.title);
        if (s.b != nullptr) {
            text_size(0.8);
            plmtex("t", 0.8, 0.5, 0.5, "group 1 solid, group 2 dashed");
        }
        if (none) {
            text_size(0.9);
            plptex(0.5 * (vx.lo + vx.hi), 0.5 * (sy.lo + sy.hi), 1.0, 0.0, 0.5, "not computed");
            continue;
        }
        if (s.rule) {
            plcol0(kRule);
            plwidth(2.0);
            dashed();
            PLFLT lx[2] = {vx.lo, vx.hi}, ly[2] = {kFourFifths, kFourFifths};
            plline(2, lx, ly);
            solid();
        }
        const double min_y = 0.009 * (sy.hi - sy.lo);
        for (std::size_t ci = 0; ci < curves.size(); ++ci) {
            for (const Result* r : {&s.a, s.b}) {
                if (r == nullptr) continue;
                std::vector<double> x, y, ye;
                for (const PlotPoint* p : curves[ci].points) {
                    x.push_back(p->v1);
                    y.push_back(value_of(*p, r->value));
                    ye.push_back(error_of(*p, r->err));
                }
                plcol0(curve_colour(ci));
                if (r == s.b) dashed();
                else pllsty(curve_style(ci));
                plwidth(2.0);
                draw_polyline(x, y);
                solid();
                pllsty(1);
                draw_error_bars(x, y, ye, min_y, false);
                draw_markers(x, y, 0.9);
            }
        }
    }
}

} // namespace

bool plot_sweep(const std::string& path, const PlotText& text, const std::vector<PlotPoint>& points,
                std::string& error, bool* input_fault) {
    if (input_fault != nullptr) *input_fault = true;
    if (!plot_format_known(path, error)) return false;
    bool any = false;
    for (const PlotPoint& p : points) {
        for (Field f : {&PlotPoint::E, &PlotPoint::SD, &PlotPoint::R1, &PlotPoint::R2, &PlotPoint::IR})
            any = any || !std::isnan(value_of(p, f));
        for (double v : {p.v1, p.v2, value_of(p, &PlotPoint::E), value_of(p, &PlotPoint::SD),
                         value_of(p, &PlotPoint::R1), value_of(p, &PlotPoint::R2), value_of(p, &PlotPoint::IR)})
            if (std::fabs(v) > kLargestPlotted) {
                error = "plot file \"" + path + "\": a value of " + number(v) + " cannot be plotted (at most " +
                        number(kLargestPlotted) + " in absolute value)";
                return false;
            }
    }
    if (!any) {
        error = "plot file \"" + path + "\": nothing to plot (no point has results)";
        return false;
    }
    const std::vector<Curve> curves = curves_of(points);
    if (input_fault != nullptr) *input_fault = false;

    return plotting::write_plot(path, [&] { draw(text, curves); }, error);
}

} // namespace traz
