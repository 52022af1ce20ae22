// mvnprob: normal probabilities for the rows of reference tables.
#include "mvn/mvn.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const description =
    "Reads comma-separated tables with a header line and prints one probability per row with\n"
    "17 significant digits. With no FILE, or when FILE is -, reads standard input.";

const char* const formats_help =
    "The header names the columns; other columns (ids, the reference values) are ignored, and\n"
    "blanks around a field are. The format is told by the columns present:\n"
    "  L1,L2,L3,L4,r21,r31,r32,r41,r42,r43  lower P(X_i < L_i, i = 1..4)   (g01hbt, nd = 4)\n"
    "  L1,L2,L3,r21,r31,r32                 lower P(X_i < L_i, i = 1..3)   (g01hbt, nd = 3)\n"
    "  h,k,r                                upper P(X > h, Y > k)          (g01hbt, nd = 2)\n"
    "  z                                    Phi(z)                         (phid)\n"
    "Limits may be any finite numbers: a limit beyond +-40, where the normal tail is below the\n"
    "smallest double, decides its coordinate outright (probability 0, or the coordinate drops\n"
    "out). Probabilities are printed within [0, 1]. Correlations lie in [-1, 1]; with three or\n"
    "four variables their matrix must be positive definite.\n"
    "The dispatcher asks the trivariate and quadrivariate routines for accuracy 1.0e-4;\n"
    "--epsi E calls tvnd or qvnd directly with accuracy E instead.\n"
    "Exit status: 0 when every row was computed and written; 1 for a bad option, a file that\n"
    "cannot be read or written, or a malformed row (the message names the file and the line).";

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

// Beyond this limit the normal tail, 3.7e-350 at 40, is below the smallest double.
constexpr double kDecided = 40.0;
// A correlation matrix with a Cholesky pivot (a conditional variance) at most this is not
// positive definite.
constexpr double kSingular = 1e-12;
// Bounds on what one table may ask of memory: a line's length and the header's columns.
constexpr std::size_t kMaxLine = 65536;
constexpr std::size_t kMaxColumns = 1000;

std::string trim(const std::string& s)
{
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(trim(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

// A field in a message: in quotes, cut short after 40 characters, control characters shown as ?.
std::string quoted(const std::string& field)
{
    std::string q = "'";
    for (char c : field.substr(0, 40)) {
        q += static_cast<unsigned char>(c) < 32 || c == 127 ? '?' : c;
    }
    return q + (field.size() > 40 ? "...'" : "'");
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
    if (end != begin + field.size()) {
        return false;
    }
    // ERANGE also marks an underflow: a subnormal or zero result is a finite number.
    return std::isfinite(value);
}

// Correlation of variables i and j (1-based, i != j) in the list r21, r31, r32, r41, ...
double corr(const double* r, int i, int j)
{
    if (i < j) {
        std::swap(i, j);
    }
    return r[(i - 1) * (i - 2) / 2 + (j - 1)];
}

// Order of the first leading minor of the nd x nd correlation matrix that is not positive
// definite, or 0.
int not_positive_definite(int nd, const double* r)
{
    double l[4][4] = {};
    for (int i = 0; i < nd; ++i) {
        for (int j = 0; j <= i; ++j) {
            double s = i == j ? 1.0 : corr(r, i + 1, j + 1);
            for (int k = 0; k < j; ++k) {
                s -= l[i][k] * l[j][k];
            }
            if (i == j) {
                if (!(s > kSingular)) {
                    return i + 1;
                }
                l[i][i] = std::sqrt(s);
            } else {
                l[i][j] = s / l[j][j];
            }
        }
    }
    return 0;
}

// Lower orthant probability P(X_i < l_i) of nd standardized normal variables with the
// correlation list r. Coordinates with a limit beyond the decided range are settled first;
// the rest go to the routine of their dimension.
double lower_orthant(int nd, const double* l, const double* r, bool direct, double epsi)
{
    int keep[4];
    int m = 0;
    for (int i = 0; i < nd; ++i) {
        if (l[i] <= -kDecided) {
            return 0.0;
        }
        if (l[i] < kDecided) {
            keep[m++] = i;
        }
    }
    double lk[4], a[4], rk[6];
    int q = 0;
    for (int i = 0; i < m; ++i) {
        lk[i] = l[keep[i]];
        a[i] = -lk[i];
        for (int j = 0; j < i; ++j) {
            rk[q++] = corr(r, keep[i] + 1, keep[j] + 1);
        }
    }
    double err = 0.0, p = 0.0;
    int ifail = 0;
    if (m == 0) {
        return 1.0;
    }
    if (m == 1) {
        return traz::phid(lk[0]);
    }
    if (direct && m == 3) {
        return traz::tvnd(lk, rk, epsi);
    }
    if (direct && m == 4) {
        return traz::qvnd(lk, rk, epsi);
    }
    traz::g01hbt(m, a, a, rk, err, ifail, p);
    return p;
}

// One input: a file name, or "-" for standard input.
class table_reader {
public:
    explicit table_reader(const std::string& name)
        : name_(name == "-" ? "standard input" : name)
        , file_(name == "-" ? stdin : std::fopen(name.c_str(), "r"))
        , open_errno_(errno)
    {
    }
    ~table_reader()
    {
        if (file_ != nullptr && file_ != stdin) {
            std::fclose(file_);
        }
    }
    table_reader(const table_reader&) = delete;
    table_reader& operator=(const table_reader&) = delete;

    const std::string& name() const { return name_; }
    bool opened() const { return file_ != nullptr; }
    int open_errno() const { return open_errno_; }
    long line_number() const { return line_number_; }

    // Next line without its line end; false at the end of the input, on a read error or
    // on a line longer than kMaxLine (too_long() says so; the rest is not read).
    bool next(std::string& line)
    {
        line.clear();
        errno = 0;
        int c = 0;
        bool any = false;
        while ((c = std::getc(file_)) != EOF) {
            any = true;
            if (c == '\n') {
                break;
            }
            if (line.size() == kMaxLine) {
                too_long_ = true;
                ++line_number_;
                return false;
            }
            line += static_cast<char>(c);
        }
        if (c == EOF && std::ferror(file_)) {
            read_errno_ = errno != 0 ? errno : EIO;
            return false;
        }
        if (!any) {
            return false;
        }
        ++line_number_;
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return true;
    }
    bool too_long() const { return too_long_; }
    int read_errno() const { return read_errno_; }

private:
    std::string name_;
    std::FILE* file_;
    int open_errno_;
    int read_errno_ = 0;
    bool too_long_ = false;
    long line_number_ = 0;
};

int fail(const std::string& where, const std::string& message)
{
    std::fprintf(stderr, "mvnprob: %s: %s\n", where.c_str(), message.c_str());
    return 1;
}

// Prints the probabilities of one table; returns the exit status.
int run_table(table_reader& in, std::FILE* out, const std::string& out_name, bool direct, double epsi)
{
    if (!in.opened()) {
        return fail(in.name(), std::strerror(in.open_errno()));
    }
    auto at_line = [&](const std::string& message) {
        return fail(in.name(), "line " + std::to_string(in.line_number()) + ": " + message);
    };
    std::string line;
    const std::string too_long = "longer than " + std::to_string(kMaxLine) + " characters";
    if (!in.next(line)) {
        if (in.too_long()) {
            return at_line(too_long);
        }
        return fail(in.name(), in.read_errno() != 0 ? std::strerror(in.read_errno()) : "no header line");
    }
    const std::vector<std::string> header = split(line);
    if (header.size() > kMaxColumns) {
        return at_line("the header has " + std::to_string(header.size()) + " columns, more than "
                       + std::to_string(kMaxColumns));
    }
    // A column named twice leaves its value in doubt.
    for (std::size_t i = 0; i < header.size(); ++i) {
        for (std::size_t j = i + 1; j < header.size(); ++j) {
            if (!header[i].empty() && header[i] == header[j]) {
                return at_line("the header names column " + quoted(header[i]) + " twice");
            }
        }
    }

    // The largest format the header holds; the quadrivariate columns include the
    // trivariate ones. Two formats neither of which includes the other are ambiguous.
    const format* fmt = nullptr;
    std::vector<std::size_t> index;
    for (const format& f : formats) {
        std::vector<std::size_t> found;
        for (const std::string& name : f.columns) {
            const auto it = std::find(header.begin(), header.end(), name);
            if (it != header.end()) {
                found.push_back(static_cast<std::size_t>(it - header.begin()));
            }
        }
        if (found.size() != f.columns.size()) {
            continue;
        }
        if (fmt == nullptr) {
            fmt = &f;
            index = found;
            continue;
        }
        const bool included = std::all_of(f.columns.begin(), f.columns.end(), [&](const std::string& c) {
            return std::find(fmt->columns.begin(), fmt->columns.end(), c) != fmt->columns.end();
        });
        if (!included) {
            return at_line(std::string("the header holds the columns of two formats, ") + fmt->name + " and "
                           + f.name + ": keep one");
        }
    }
    if (fmt == nullptr) {
        return at_line("header names none of the formats (see mvnprob --help)");
    }

    double v[10];
    while (in.next(line)) {
        if (trim(line).empty()) {
            continue;
        }
        const std::vector<std::string> fields = split(line);
        if (fields.size() != header.size()) {
            return at_line("expected " + std::to_string(header.size()) + " fields, found "
                           + std::to_string(fields.size()));
        }
        for (std::size_t j = 0; j < index.size(); ++j) {
            const std::string& field = fields[index[j]];
            if (!parse_number(field, v[j])) {
                return at_line("column " + fmt->columns[j] + ": " + quoted(field) + " is not a finite number");
            }
            if (fmt->columns[j][0] == 'r' && std::fabs(v[j]) > 1.0) {
                return at_line("column " + fmt->columns[j] + ": correlation " + quoted(field) + " is outside [-1, 1]");
            }
        }

        const std::size_t n = index.size();
        double p = 0.0;
        if (n == 1) {
            p = traz::phid(v[0]);
        } else if (n == 3) {
            // P(X > h, Y > k) = P(-X < -h, -Y < -k), with the same correlation.
            const double l[2] = {-v[0], -v[1]};
            p = lower_orthant(2, l, v + 2, direct, epsi);
        } else {
            const int nd = n == 6 ? 3 : 4;
            if (const int minor = not_positive_definite(nd, v + nd)) {
                return at_line("the correlations of variables 1 to " + std::to_string(minor)
                               + " are not positive definite");
            }
            p = lower_orthant(nd, v, v + nd, direct, epsi);
        }
        if (std::isnan(p)) {
            return at_line("no probability could be computed");
        }
        if (std::fprintf(out, "%.16e\n", std::clamp(p, 0.0, 1.0)) < 0) {
            return fail(out_name, std::string("write error: ") + std::strerror(errno));
        }
    }
    if (in.too_long()) {
        return at_line(too_long);
    }
    if (in.read_errno() != 0) {
        return at_line(std::strerror(in.read_errno()));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app(description, "mvnprob");
    app.footer(formats_help);
    app.set_version_flag("--version", std::string("mvnprob (TRAZ) ") + TRAZ_VERSION);
    std::vector<std::string> files;
    std::string output;
    double epsi = 0.0;
    app.add_option("FILE", files, "Tables to read (default: standard input)")->type_name("FILE");
    app.add_option("-o,--output", output, "Write the probabilities to this file instead of standard output")
        ->type_name("FILE");
    app.add_option("--epsi", epsi, "Accuracy of direct tvnd and qvnd calls")
        ->type_name("E")
        ->check([](const std::string& s) {
            double e = 0.0;
            return parse_number(s, e) && e > 0.0 ? std::string() : "'" + s + "' is not a positive number";
        });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e); // --help, --version
        }
        std::fprintf(stderr, "mvnprob: %s\n", e.what());
        return 1;
    }
    const bool direct = epsi > 0.0;
    if (files.empty()) {
        files.push_back("-");
    }

    std::FILE* out = stdout;
    const std::string out_name = output.empty() || output == "-" ? "standard output" : output;
    if (out_name != "standard output") {
        out = std::fopen(output.c_str(), "w");
        if (out == nullptr) {
            return fail(output, std::strerror(errno));
        }
    }
    int status = 0;
    for (const std::string& file : files) {
        table_reader in(file);
        status = run_table(in, out, out_name, direct, epsi);
        if (status != 0) {
            break;
        }
    }
    // The rows written before a failing one are kept; a write error is reported once.
    errno = 0;
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    const int write_errno = errno;
    const bool closed = out == stdout || std::fclose(out) == 0;
    if (status == 0 && (!written || !closed)) {
        return fail(out_name, std::string("write error: ") + std::strerror(write_errno != 0 ? write_errno : EIO));
    }
    return status;
}
