// The example reports in examples/ are what the traz executable prints for the example
// decks now, apart from the CPU time of the run that wrote them.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ms_common.hpp"

namespace {

using traz::mstest::kExamples;
using traz::mstest::lines_of;
using traz::testrun::read_file;

// Standard output of the executable with `deck` on standard input, and its exit status.
std::string run_exe(const std::string& deck, int& status) {
    char dir[] = "/tmp/traz-ms-XXXXXX";
    status = -1;
    if (mkdtemp(dir) == nullptr) {
        ADD_FAILURE() << "no temporary directory";
        return "";
    }
    const std::string out = std::string(dir) + "/out";
    const std::string cmd = std::string("'") + TRAZ_EXE + "' < '" + deck + "' > '" + out + "'";
    const int w = std::system(cmd.c_str());
    status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    std::string text = read_file(out);
    std::remove(out.c_str());
    rmdir(dir);
    return text;
}

// "CPU TIME IN SECONDS " and an F12.2 field of a non-negative time.
bool is_time_line(const std::string& s) {
    const std::string head = "CPU TIME IN SECONDS ";
    if (s.size() != head.size() + 12 || s.rfind(head, 0) != 0) return false;
    const std::string f = s.substr(head.size());
    const std::size_t first = f.find_first_not_of(' ');
    if (first == std::string::npos || first > 8 || f[9] != '.') return false;
    for (std::size_t i = first; i < f.size(); ++i)
        if (i != 9 && (f[i] < '0' || f[i] > '9')) return false;
    return true;
}

class ExampleReport : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleReport, MatchesWhatTheProgramPrintsNow) {
    const std::string name = GetParam();
    const std::string committed = read_file(kExamples + name + ".report");
    ASSERT_FALSE(committed.empty()) << "examples/" << name << ".report is missing";
    ASSERT_TRUE(committed.ends_with("\n"));
    int status = -1;
    const std::string now = run_exe(kExamples + name + ".deck", status);
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(now.ends_with("\n"));

    std::vector<std::string> a = lines_of(committed), b = lines_of(now);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_TRUE(is_time_line(a.back())) << a.back();
    EXPECT_TRUE(is_time_line(b.back())) << b.back();
    a.pop_back();
    b.pop_back();
    EXPECT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        EXPECT_EQ(a[i], b[i]) << "examples/" << name << ".report, line " << i + 1;
    // A converged example has no cubature status line.
    EXPECT_EQ(now.find("Ifail"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleReport, ::testing::Values("single-stage", "two-stage", "three-stage"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string s = info.param;
                             for (char& c : s)
                                 if (c == '-') c = '_';
                             return s;
                         });

} // namespace
