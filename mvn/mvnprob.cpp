// mvnprob: normal probabilities for rows of a reference table read from standard input.
#include "mvn/mvn.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const usage =
    "usage: mvnprob [--epsi E] < table.csv\n"
    "Reads a comma-separated table with a header line and prints one probability per row\n"
    "with 17 significant digits. The header names the columns; other columns (ids, the\n"
    "reference values) are ignored. The format is told by the columns present:\n"
    "  L1,L2,L3,L4,r21,r31,r32,r41,r42,r43  lower P(X_i < L_i, i = 1..4)   (g01hbt, nd = 4)\n"
    "  L1,L2,L3,r21,r31,r32                 lower P(X_i < L_i, i = 1..3)   (g01hbt, nd = 3)\n"
    "  h,k,r                                upper P(X > h, Y > k)          (g01hbt, nd = 2)\n"
    "  z                                    Phi(z)                         (phid)\n"
    "Correlations must lie in [-1, 1]; a malformed row stops the program with a message\n"
    "naming its line and exit status 1.\n"
    "The dispatcher asks the trivariate and quadrivariate routines for accuracy 1.0e-4;\n"
    "--epsi E calls tvnd or qvnd directly with accuracy E instead.\n";

struct format {
    const char* name;
    std::vector<std::string> columns;
};

const format formats[] = {
    {"quadrivariate", {"L1", "L2", "L3", "L4", "r21", "r31", "r32", "r41", "r42", "r43"}},
    {"trivariate", {"L1", "L2", "L3", "r21", "r31", "r32"}},
    {"bivariate", {"h", "k", "r"}},
    {"normal-cdf", {"z"}},
};

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        if (comma == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

// A finite number filling the whole field, or false.
bool parse_number(const std::string& field, double& value)
{
    if (field.empty()) {
        return false;
    }
    const char* begin = field.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    if (end != begin + field.size() || errno == ERANGE) {
        return false;
    }
    return value - value == 0.0; // rejects inf and nan
}

int fail(long lineno, const std::string& message)
{
    std::cerr << "mvnprob: line " << lineno << ": " << message << "\n";
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool direct = false;
    double epsi = 0.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << usage;
            return 0;
        }
        if (std::strcmp(argv[i], "--epsi") == 0 && i + 1 < argc
            && parse_number(argv[i + 1], epsi) && epsi > 0.0) {
            direct = true;
            ++i;
            continue;
        }
        std::cerr << "mvnprob: bad argument '" << argv[i] << "'\n" << usage;
        return 2;
    }

    std::string line;
    long lineno = 0;
    if (!std::getline(std::cin, line)) {
        std::cerr << "mvnprob: no header line on standard input\n";
        return 1;
    }
    ++lineno;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const std::vector<std::string> header = split(line);

    const format* fmt = nullptr;
    std::vector<std::size_t> index;
    for (const format& f : formats) {
        index.clear();
        for (const std::string& name : f.columns) {
            for (std::size_t c = 0; c < header.size(); ++c) {
                if (header[c] == name) {
                    index.push_back(c);
                    break;
                }
            }
        }
        if (index.size() == f.columns.size()) {
            fmt = &f;
            break;
        }
    }
    if (fmt == nullptr) {
        return fail(lineno, "header names none of the formats (see mvnprob --help)");
    }

    double v[10];
    while (std::getline(std::cin, line)) {
        ++lineno;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string> fields = split(line);
        if (fields.size() != header.size()) {
            return fail(lineno, "expected " + std::to_string(header.size()) + " fields, found "
                                    + std::to_string(fields.size()));
        }
        for (std::size_t j = 0; j < index.size(); ++j) {
            if (!parse_number(fields[index[j]], v[j])) {
                return fail(lineno, "column " + fmt->columns[j] + ": '" + fields[index[j]]
                                        + "' is not a finite number");
            }
            if (fmt->columns[j][0] == 'r' && std::fabs(v[j]) > 1.0) {
                return fail(lineno, "column " + fmt->columns[j] + ": correlation '"
                                        + fields[index[j]] + "' is outside [-1, 1]");
            }
        }

        double err = 0.0;
        int ifail = 0;
        double p = 0.0;
        const std::size_t n = index.size();
        if (n == 1) {
            p = traz::phid(v[0]);
        } else if (n == 3) {
            const int nd = 2;
            traz::g01hbt(nd, v, v, v + 2, err, ifail, p);
        } else {
            const int nd = n == 6 ? 3 : 4;
            double a[4];
            for (int i = 0; i < nd; ++i) {
                a[i] = -v[i];
            }
            if (!direct) {
                traz::g01hbt(nd, a, a, v + nd, err, ifail, p);
            } else if (nd == 3) {
                p = traz::tvnd(v, v + 3, epsi);
            } else {
                p = traz::qvnd(v, v + 4, epsi);
            }
        }
        std::printf("%.16e\n", p);
    }
    if (std::cin.bad()) {
        return fail(lineno, "read error");
    }
    return 0;
}
