#include "cli/io.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "evaluate/evaluate.hpp"

namespace traz {

namespace {

// The temporary files a signal removes: fixed slots, so that the handler reads no heap.
constexpr int kSlots = 4;
constexpr std::size_t kPathMax = 4096;
char temp_slots[kSlots][kPathMax];
volatile std::sig_atomic_t signal_seen = 0;
bool deferred_signals = false;

void end_on_signal(int sig) {
    for (auto& slot : temp_slots)
        if (slot[0] != '\0') unlink(slot);
    _exit(128 + sig);
}

void on_signal(int sig) {
    if (deferred_signals && signal_seen == 0) {
        signal_seen = sig;
        return;
    }
    end_on_signal(sig);
}

void remember_temporary(const std::string& temp) {
    if (temp.size() >= kPathMax) return;
    for (auto& slot : temp_slots)
        if (slot[0] == '\0') {
            // The handler may read the slot at any moment: the path first, its first byte last.
            std::memcpy(slot + 1, temp.c_str() + 1, temp.size());
            std::atomic_signal_fence(std::memory_order_seq_cst);
            slot[0] = temp[0];
            return;
        }
}

} // namespace

void handle_signals(bool deferred) {
    deferred_signals = deferred;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int interrupted() { return signal_seen; }

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

namespace {

// mkstemps beside name with its extension; "" with errno set when it cannot be created.
std::string make_temporary(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    std::string temp = dir + "." + base + ".part-XXXXXX" + ext;
    const int fd = mkstemps(temp.data(), static_cast<int>(ext.size()));
    if (fd < 0) return "";
    // The mode a new file would have (mkstemps makes it private to the owner).
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    remember_temporary(temp);
    return temp;
}

} // namespace

std::string temporary_beside(const std::string& name) {
    const std::string temp = make_temporary(name);
    if (temp.empty()) std::fprintf(stderr, "traz: %s: cannot write: %s\n", name.c_str(), std::strerror(errno));
    return temp;
}

void forget_temporary(const std::string& temp) {
    for (auto& slot : temp_slots)
        if (slot[0] != '\0' && temp == slot) slot[0] = '\0';
}

std::string replaced_path(const std::string& name) {
    std::error_code e;
    const auto status = std::filesystem::symlink_status(name, e);
    if (e || status.type() != std::filesystem::file_type::symlink) return name;
    const auto target = std::filesystem::weakly_canonical(name, e);
    return e ? name : target.string();
}

bool open_output(const std::string& name, Output& out) {
    out = Output{};
    out.name = name;
    if (name.empty() || name == "-") {
        out.file = stdout;
        return true;
    }
    // A device or a pipe (/dev/null, a FIFO) is written as it is: it cannot be replaced.
    struct stat st {};
    if (stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        out.file = std::fopen(name.c_str(), "wb");
        if (out.file == nullptr) std::fprintf(stderr, "traz: %s: cannot write: %s\n", name.c_str(), std::strerror(errno));
        return out.file != nullptr;
    }
    // A symbolic link keeps pointing to the file it names, which is replaced.
    out.name = replaced_path(name);
    out.temp = make_temporary(out.name);
    if (out.temp.empty()) {
        // A file we may write in a folder we may not: written in place, not atomically.
        const int why = errno;
        if (why != ENOENT && access(out.name.c_str(), W_OK) == 0) {
            out.file = std::fopen(out.name.c_str(), "wb");
            if (out.file != nullptr) return true;
        }
        std::fprintf(stderr, "traz: %s: cannot write: %s\n", name.c_str(), std::strerror(why));
        return false;
    }
    out.file = std::fopen(out.temp.c_str(), "wb");
    if (out.file == nullptr) {
        std::fprintf(stderr, "traz: %s: cannot write: %s\n", name.c_str(), std::strerror(errno));
        std::remove(out.temp.c_str());
        forget_temporary(out.temp);
        return false;
    }
    return true;
}

namespace {

// Flushes and closes the output; errno of the first failure, or 0.
int finish(Output& out) {
    errno = 0;
    int failure = std::fflush(out.file) != 0 || std::ferror(out.file) != 0 ? (errno != 0 ? errno : EIO) : 0;
    if (out.file != stdout && std::fclose(out.file) != 0 && failure == 0) failure = errno != 0 ? errno : EIO;
    out.file = nullptr;
    return failure;
}

} // namespace

int close_output(Output& out) {
    const bool to_stdout = out.temp.empty();  // or a device written in place
    int failure = finish(out);
    if (failure == 0 && !to_stdout && std::rename(out.temp.c_str(), out.name.c_str()) != 0) failure = errno;
    if (!to_stdout) {
        if (failure != 0) std::remove(out.temp.c_str());
        forget_temporary(out.temp);
    }
    if (failure == 0) return kRunOk;
    if (out.name.empty() || out.name == "-")
        std::fprintf(stderr, "traz: the output could not be written completely: %s\n", std::strerror(failure));
    else if (to_stdout)
        std::fprintf(stderr, "traz: %s: cannot write: %s\n", out.name.c_str(), std::strerror(failure));
    else
        std::fprintf(stderr, "traz: %s: cannot write: %s (the file is left as it was)\n", out.name.c_str(),
                     std::strerror(failure));
    return kRunWriteError;
}

bool close_output_as(Output& out, const std::string& name) {
    const bool to_stdout = out.temp.empty();
    bool ok = finish(out) == 0;
    if (!to_stdout) {
        ok = ok && std::rename(out.temp.c_str(), name.c_str()) == 0;
        if (!ok) std::remove(out.temp.c_str());
        forget_temporary(out.temp);
    }
    return ok;
}

bool same_file(const std::string& a, const std::string& b) {
    const auto named = [](const std::string& n) { return !n.empty() && n != "-"; };
    if (!named(a) || !named(b)) return false;
    struct stat sa {}, sb {};
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code e1, e2;
    const auto pa = std::filesystem::weakly_canonical(a, e1), pb = std::filesystem::weakly_canonical(b, e2);
    return !e1 && !e2 && pa == pb;
}

} // namespace traz
