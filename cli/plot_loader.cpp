#include "cli/plot_loader.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

namespace traz {

namespace {

using PlotEntry = bool (*)(const std::string&, const PlotText&, const std::vector<PlotPoint>&, std::string&, bool*);

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
PlotEntry plot_entry(std::string& why) {
    static std::once_flag once;
    static PlotEntry entry = nullptr;
    static std::string reason;
    std::call_once(once, [] {
        const std::string exe = executable_folder();
        for (const std::string& folder : {exe, exe + "/../lib/traz", std::string(TRAZ_PLOT_MODULE_DIR)}) {
            void* handle = dlopen((folder + "/traz-plot.so").c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                if (reason.empty()) reason = dlerror();
                continue;
            }
            entry = reinterpret_cast<PlotEntry>(dlsym(handle, "traz_plot_sweep"));
            if (entry != nullptr) return;
            reason = "the plot module has no entry traz_plot_sweep";
        }
    });
    why = reason;
    return entry;
}

} // namespace

bool draw_plot(const std::string& path, const PlotText& text, const std::vector<PlotPoint>& points,
               std::string& error, bool* input_fault) {
    std::string why;
    const PlotEntry entry = plot_entry(why);
    if (entry == nullptr) {
        error = "the plot module cannot be loaded: " + why;
        if (input_fault != nullptr) *input_fault = false;
        return false;
    }
    return entry(path, text, points, error, input_fault);
}

} // namespace traz
