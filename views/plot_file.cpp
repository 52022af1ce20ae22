#include "views/plot_file.hpp"

#include <plplot.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "views/plot.hpp"

namespace traz::plotting {

namespace {

// PLplot keeps one global set of streams: one plot at a time, whichever plot it is.
std::mutex plot_mutex;

struct Rgb {
    int r, g, b;
};
constexpr Rgb kColours[kNumColours] = {
    {255, 255, 255}, {0, 0, 0},     {215, 215, 215}, {200, 30, 30},  {0, 114, 178},   {230, 159, 0},
    {0, 158, 115},   {204, 121, 167}, {86, 180, 233}, {213, 94, 0},   {100, 100, 100}, {240, 228, 66},
};

struct Device {
    const char* ext;
    const char* driver;
};
// The native SVG driver keeps text as text (searchable, and the labels can be checked).
constexpr Device kDevices[] = {{".png", "pngcairo"}, {".svg", "svg"}, {".pdf", "pdfcairo"}};
constexpr PLINT kWidth = 1600, kHeight = 1000;  // pixels for PNG, points for the vector formats

const Device* device_for(const std::string& path) {
    const std::string ext = plot_extension(path);
    for (const Device& d : kDevices)
        if (ext == d.ext) return &d;
    return nullptr;
}

// PLplot's own refusals ("aborting operation") are kept here instead of going to stderr.
std::string plplot_abort;
void keep_abort(PLCHAR_VECTOR message) {
    if (plplot_abort.empty()) plplot_abort = message != nullptr ? message : "PLplot error";
}

// Whether PLplot has the driver (the cairo ones come in a package of their own). An unknown
// device would make plinit ask for one on standard input.
bool has_driver(const char* name) {
    std::vector<const char*> menu(256), names(256);
    const char** m = menu.data();
    const char** n = names.data();
    int count = static_cast<int>(names.size());
    plgDevs(&m, &n, &count);
    for (int i = 0; i < count; ++i)
        if (n[i] != nullptr && std::strcmp(n[i], name) == 0) return true;
    return false;
}

// Whether the file ends as a whole file of its format does: PNG with its IEND chunk, PDF
// with %%EOF, SVG with </svg> (each possibly followed by line ends).
bool ends_complete(const std::string& path, const char* ext) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char tail[64] = {};
    long size = 0;
    std::size_t n = 0;
    if (std::fseek(f, 0, SEEK_END) == 0 && (size = std::ftell(f)) > 0) {
        const long from = std::max(0L, size - static_cast<long>(sizeof tail));
        if (std::fseek(f, from, SEEK_SET) == 0) n = std::fread(tail, 1, sizeof tail, f);
    }
    std::fclose(f);
    std::string end(tail, n);
    while (!end.empty() && (end.back() == '\n' || end.back() == '\r' || end.back() == ' ')) end.pop_back();
    if (std::strcmp(ext, ".png") == 0) return end.ends_with(std::string("IEND\xae\x42\x60\x82", 8));
    if (std::strcmp(ext, ".pdf") == 0) return end.ends_with("%%EOF");
    return end.ends_with("</svg>");
}

} // namespace

void Extent::pad(double share) {
    if (empty()) lo = 0, hi = 1;
    double w = hi - lo;
    if (w <= 1e-12 * std::max(std::fabs(lo), std::fabs(hi))) w = std::max(std::fabs(lo), 1.0) * 0.1;
    lo -= share * w;
    hi += share * w;
}

bool write_plot(const std::string& path, const std::function<void()>& draw, std::string& error) {
    const Device* dev = device_for(path);
    if (dev == nullptr) return plot_format_known(path, error);
    std::lock_guard<std::mutex> lock(plot_mutex);
    if (!has_driver(dev->driver)) {
        error = "plot file \"" + path + "\": PLplot has no " + dev->driver + " driver";
        return false;
    }
    // PLplot ends the program when it cannot open its output file: try it first.
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fclose(f);
    } else {
        error = "plot file \"" + path + "\": " + std::strerror(errno);
        return false;
    }

    plplot_abort.clear();
    plsabort(keep_abort);
    plsdev(dev->driver);
    plsfnam(path.c_str());
    plspage(0.0, 0.0, kWidth, kHeight, 0, 0);
    plscmap0n(kNumColours);
    for (int i = 0; i < kNumColours; ++i) plscol0(i, kColours[i].r, kColours[i].g, kColours[i].b);
    plfontld(1);
    plinit();
    pladv(0);
    plfont(1);
    draw();
    plend();

    // PLplot and cairo do not report a failed write: a file cut short (a full disk, a file
    // size limit) lacks the end its format requires.
    if (!ends_complete(path, dev->ext) || !plplot_abort.empty()) {
        error = "plot file \"" + path + "\": the plot could not be written completely";
        if (!plplot_abort.empty()) error += " (" + plplot_abort + ")";
        return false;
    }
    return true;
}

} // namespace traz::plotting
