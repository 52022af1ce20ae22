#include "cli/io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "evaluate/evaluate.hpp"

namespace traz {

bool read_input(const std::string& name, std::string& text, std::string& why) {
    std::FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        why = std::strerror(errno);
        return false;
    }
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    const int e = errno;
    if (f != stdin) std::fclose(f);
    if (failed) {
        why = std::strerror(e);
        return false;
    }
    return true;
}

std::FILE* open_output(const std::string& name) {
    if (name.empty() || name == "-") return stdout;
    std::FILE* out = std::fopen(name.c_str(), "wb");
    if (out == nullptr) std::fprintf(stderr, "traz: %s: cannot write: %s\n", name.c_str(), std::strerror(errno));
    return out;
}

int close_output(std::FILE* out, const std::string& name) {
    const bool failed = std::fflush(out) != 0 || std::ferror(out) != 0;
    if (out != stdout && std::fclose(out) != 0) {
        std::fprintf(stderr, "traz: %s: cannot write: %s\n", name.c_str(), std::strerror(errno));
        return kRunWriteError;
    }
    if (failed) {
        std::fprintf(stderr, "traz: the output could not be written completely\n");
        return kRunWriteError;
    }
    return kRunOk;
}

} // namespace traz
