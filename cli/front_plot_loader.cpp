#include "cli/front_plot_loader.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

namespace traz {

namespace {

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

// The module's entry, loaded once; null with the reason when it cannot be.
FrontEntry front_entry(std::string& why) {
    static std::once_flag once;
    static FrontEntry entry = nullptr;
    static std::string reason;
    std::call_once(once, [] {
        for (const std::string& folder : {executable_folder(), std::string(TRAZ_PLOT_MODULE_DIR)}) {
            void* handle = dlopen((folder + "/traz-plot.so").c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                if (reason.empty()) reason = dlerror();
                continue;
            }
            entry = reinterpret_cast<FrontEntry>(dlsym(handle, "traz_plot_front"));
            if (entry != nullptr) return;
            reason = "the plot module has no entry traz_plot_front";
        }
    });
    why = reason;
    return entry;
}

} // namespace

bool draw_front(const std::string& path, const FrontPlotText& text, const std::vector<FrontPlotPoint>& points,
                std::string& error) {
    std::string why;
    const FrontEntry entry = front_entry(why);
    if (entry == nullptr) {
        error = "the plot module cannot be loaded: " + why;
        return false;
    }
    return entry(path, text, points, error);
}

} // namespace traz
