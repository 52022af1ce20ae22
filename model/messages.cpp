#include "model/messages.hpp"

#include <cmath>
#include <cstring>

namespace traz {

namespace {

struct MessageRecord {
    char routine[9];
    char text[21];
    int number;
    int level;
    int count;
};

constexpr int kMaxRecords = 10;
constexpr int kMaxPrints = 10;

struct MessageTable {
    MessageRecord rec[kMaxRecords];
    int n = 0;
    int overflow = 0;  // messages that did not fit in the table
    std::FILE* out = nullptr;
};

// Each thread counts its own messages.
thread_local MessageTable table;

// Counts the message and returns how many times it has now occurred.
int count_message(const char* routine, const std::string& text, int number, int level) {
    for (int i = 0; i < table.n; ++i) {
        MessageRecord& r = table.rec[i];
        if (std::strncmp(r.routine, routine, 8) == 0 && text.compare(0, 20, r.text) == 0 &&
            r.number == number && r.level == level)
            return ++r.count;
    }
    if (table.n == kMaxRecords) {
        ++table.overflow;
        return 1;
    }
    MessageRecord& r = table.rec[table.n++];
    std::snprintf(r.routine, sizeof r.routine, "%s", routine);
    std::snprintf(r.text, sizeof r.text, "%s", text.c_str());
    r.number = number;
    r.level = level;
    r.count = 1;
    return 1;
}

void write_summary(std::FILE* f) {
    std::fprintf(f, "          ERROR MESSAGE SUMMARY\n");
    std::fprintf(f, " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n");
    for (int i = 0; i < table.n; ++i) {
        const MessageRecord& r = table.rec[i];
        std::fprintf(f, " %-10s %-10s %-20s %8d %9d %9d\n", "SLATEC", r.routine, r.text, r.number,
                     r.level, r.count);
    }
    if (table.overflow != 0)
        std::fprintf(f, " OTHER ERRORS NOT INDIVIDUALLY TABULATED = %9d\n", table.overflow);
    std::fprintf(f, "\n");
}

} // namespace

void set_message_stream(std::FILE* f) { table.out = f; }

void reset_messages() {
    table.n = 0;
    table.overflow = 0;
}

void library_message(const char* routine, const std::string& text, int number, MessageLevel level) {
    const bool fatal = level == MessageLevel::fatal;
    const int count = count_message(routine, text, number, static_cast<int>(level));
    std::FILE* f = table.out;
    if (f != nullptr && count <= kMaxPrints) {
        std::fprintf(f, " ***MESSAGE FROM ROUTINE %s IN LIBRARY SLATEC.\n", routine);
        std::fprintf(f, " ***%s TRACEBACK REQUESTED\n",
                     fatal ? "FATAL ERROR, PROG ABORTED," : "INFORMATIVE MESSAGE, PROG CONTINUES,");
        std::fprintf(f, " *  %s\n", text.c_str());
        std::fprintf(f, " *  ERROR NUMBER = %8d\n", number);
        std::fprintf(f, " *\n ***END OF MESSAGE\n\n");
    }
    if (fatal && f != nullptr) {
        std::fprintf(f, " ***JOB ABORT DUE TO FATAL ERROR.\n");
        write_summary(f);
    }
    if (f != nullptr) std::fflush(f);
    if (fatal) throw FatalLibraryError{};
}

double dlngam(double x) {
    if (x == 0.0) library_message("DLNGAM", "X IS 0", 1, MessageLevel::fatal);
    if (x < 0.0 && x == std::trunc(x))
        library_message("DLNGAM", "X IS A NEGATIVE INTEGER", 3, MessageLevel::fatal);
    // lgamma_r: std::lgamma writes the sign to libm's global signgam, a data race when
    // several threads run problems.
    int sign = 0;
    return ::lgamma_r(x, &sign);
}

} // namespace traz
