#include "cli/plot_loader.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "cli/io.hpp"

namespace traz {

namespace {

using PlotEntry = bool (*)(const std::string&, const PlotText&, const std::vector<PlotPoint>&, std::string&, bool*);
using FrontEntry = bool (*)(const std::string&, const FrontPlotText&, const std::vector<FrontPlotPoint>&,
                            std::string&);

// The folder of the running executable ("" when unknown).
std::string executable_folder() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = '\0';
    const std::string path(self);
    return path.substr(0, path.rfind('/'));
}

// The module, opened once; null with the reason when it cannot be.
void* plot_module(std::string& why) {
    static std::once_flag once;
    static void* handle = nullptr;
    static std::string reason;
    std::call_once(once, [] {
        const std::string exe = executable_folder();
        for (const std::string& folder : {exe, exe + "/../lib/traz", std::string(TRAZ_PLOT_MODULE_DIR)}) {
            handle = dlopen((folder + "/traz-plot.so").c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle != nullptr) return;
            if (reason.empty()) reason = dlerror();
        }
    });
    why = reason;
    return handle;
}

// The module's entry called name; null with the reason when there is none.
void* module_entry(const char* name, std::string& error) {
    std::string why;
    void* handle = plot_module(why);
    if (handle == nullptr) {
        error = "the plot module cannot be loaded: " + why;
        return nullptr;
    }
    void* entry = dlsym(handle, name);
    if (entry == nullptr) error = std::string("the plot module cannot be loaded: it has no entry ") + name;
    return entry;
}

} // namespace

bool draw_plot(const std::string& path, const PlotText& text, const std::vector<PlotPoint>& points,
               std::string& error, bool* input_fault) {
    const auto entry = reinterpret_cast<PlotEntry>(module_entry("traz_plot_sweep", error));
    if (entry == nullptr) {
        if (input_fault != nullptr) *input_fault = false;
        return false;
    }
    return entry(path, text, points, error, input_fault);
}

bool draw_front(const std::string& path, const FrontPlotText& text, const std::vector<FrontPlotPoint>& points,
                std::string& error) {
    const auto entry = reinterpret_cast<FrontEntry>(module_entry("traz_plot_front", error));
    return entry != nullptr && entry(path, text, points, error);
}

bool draw_in_place(const std::string& path, const std::function<bool(const std::string&, std::string&)>& draw,
                   std::string& error) {
    const std::string temp = temporary_beside(path);
    if (temp.empty()) return false;
    const bool drawn = draw(temp, error);
    if (drawn && std::rename(temp.c_str(), path.c_str()) == 0) {
        forget_temporary(temp);
        return true;
    }
    if (drawn) error = "plot file \"" + path + "\": " + std::strerror(errno);
    std::remove(temp.c_str());
    forget_temporary(temp);
    for (std::size_t at; (at = error.find(temp)) != std::string::npos;) error.replace(at, temp.size(), path);
    return false;
}

} // namespace traz
