// The input deck: list-directed reading of its eight statements into the problem.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace traz {

// Storage sizes. Up to 10 predictors and 3 stages can be computed; larger decks (up to
// the read limits) are read and echoed and then refused by the validation lines.
constexpr int kMaxPred = 10;
// Applicants in the pool: the classic limit, and the limit of runs over the fitted domain
// (whose density narrows and grows more normal as the pool grows).
constexpr int kMaxApplicants = 100;
constexpr int kMaxFittedApplicants = 10000;
constexpr int kMaxStage = 3;
constexpr int kReadPred = 100;  // predictors a deck may have at all
constexpr int kReadStage = 10;  // stages a deck may have at all
constexpr int kMaxGroup = 5;
constexpr int kMaxPass = 1000;

// Input lines of the items that the validation of a computable deck may name (1-based line
// numbers, 0 when not read). Only decks within the computed limits are judged, so these
// cover kMaxPred predictors and kMaxStage stages.
struct DeckLines {
    std::int32_t counts[3 + kMaxStage] = {};           // statement 1, item by item
    std::int32_t weights[kMaxStage] = {};              // statement 2 of each stage, its first line
    std::int32_t weights_last[kMaxStage] = {};         // ... and its last line
    std::int32_t validities[kMaxPred] = {};            // statement 3, item by item
    std::int32_t validities_first = 0;                 // statement 3, its first line
    std::int32_t correlations[kMaxPred * kMaxPred] = {};  // statement 4, item (i, j), i < j, as Cormt
    std::int32_t effects = 0;                          // statement 5, its first line
    std::int32_t groups[3] = {};                       // statement 6, item by item
    std::int32_t criterion = 0;                        // statement 7
    std::int32_t budget[2] = {};                       // statement 8, item by item

    // What the reader noticed without refusing the deck: warnings in words (values left
    // over on a statement's line), and the lines where a comma stands between two digits,
    // with the text around it ("0,5"), for a hint about decimal commas.
    std::vector<std::string> notes;
    std::vector<std::pair<int, std::string>> decimal_commas;

    std::int32_t Correlation(int i, int j) const { return correlations[(i - 1) + kMaxPred * (j - 1)]; }
};

// Where a deck is at fault and why: the statement (1..8), the item within it (0 for the
// statement as a whole), the first and last line of the deck text it concerns (0 when the
// deck did not come from text), and the one-line message the command line prints.
struct DeckFault {
    int statement = 0;
    int item = 0;
    int line = 0, last_line = 0;
    std::string message;
};

// A hint for a message about lines first..last when one of them holds a decimal comma that
// was read as two values: " (\"0,5\" on line 3 is two values, 0 and 5: write 0.5)", or "".
std::string decimal_comma_hint(const DeckLines& lines, int first, int last);

// Name of a deck statement in diagnostics; `index` is the stage of statement 2 and the
// row of statement 4.
std::string statement_name(int no, int index = 0);

// The problem as the deck gives it, plus what follows directly from it.
// Arrays hold the problem's 1-based items from element 0 on.
struct Deck {
    std::int32_t npred = 0, nstage = 0, napp = 0;
    std::int32_t ns[kReadStage] = {};
    double weip[kReadStage * kReadPred] = {};  // (stage, predictor), leading dimension kReadStage
    double coryt[kReadPred] = {};
    double cormt[kReadPred * kReadPred] = {};  // leading dimension kReadPred
    double eft[6 * kReadPred] = {};            // (group, predictor), leading dimension 6
    std::int32_t ngroup = 0;
    double pg[6] = {};
    std::int32_t npass = 0;
    double efc[6] = {};
    double relerr = 0.0;
    std::int32_t maxcls = 0;
    double srtot = 0.0;  // ns(nstage)/napp, also the target selection ratio
    DeckLines lines;

    double& Weip(int j, int i) { return weip[(j - 1) + kReadStage * (i - 1)]; }
    double Weip(int j, int i) const { return weip[(j - 1) + kReadStage * (i - 1)]; }
    double& Cormt(int i, int j) { return cormt[(i - 1) + kReadPred * (j - 1)]; }
    double Cormt(int i, int j) const { return cormt[(i - 1) + kReadPred * (j - 1)]; }
    double& Eft(int g, int i) { return eft[(g - 1) + 6 * (i - 1)]; }
    double Eft(int g, int i) const { return eft[(g - 1) + 6 * (i - 1)]; }
};

// Free-format reader over the deck text. Each statement starts on a new line and may
// continue over further lines; what is left of its last line is ignored. Lines end at a
// line feed, a carriage return and line feed, or a carriage return alone; a UTF-8
// byte-order mark at the start of the text is skipped.
class DeckReader {
public:
    explicit DeckReader(std::string_view text);

    // Starts statement number `no`, named `what` in diagnostics.
    void begin(int no, std::string what);
    bool read_int(std::int32_t& v);
    bool read_double(double& v);
    // Ends the statement: the rest of its current line is skipped. A statement that read
    // no item still consumes one line.
    void end();

    const std::string& error() const { return fault_.message; }
    // Warnings about values left over on a statement's last line, and the decimal commas seen.
    const std::vector<std::string>& notes() const { return notes_; }
    const std::vector<std::pair<int, std::string>>& decimal_commas() const { return decimal_commas_; }
    const DeckFault& fault() const { return fault_; }
    // Line of the latest item read; after end(), of the statement's last line.
    int line() const { return line_no_; }
    // First line of the current statement (0 before its first item or its end).
    int first_line() const { return first_line_; }
    // Sets a diagnostic that names the current statement and item.
    bool fail(const std::string& why);

private:
    bool next_token(std::string_view& tok);
    bool next_line();
    // Values left on the current line after the statement's last one: all that is left when
    // it is all numbers, or the numbers before the first word when there are two or more
    // (one number and words are taken for a comment, such as "3 predictors").
    int values_left() const;

    std::string_view text_;
    std::size_t next_start_ = 0;  // start of the next unread line
    std::size_t pos_ = 0;         // start of the unread part of the current line
    std::size_t line_end_ = 0;    // end of the current line
    int line_no_ = 0;             // 1-based number of the current line; 0 before the first
    int first_line_ = 0;          // first line of the current statement
    int on_line_ = 0;             // values of the current statement read on the current line
    bool in_line_ = false;        // the statement has a current line
    bool comma_seen_ = false;     // a comma since the last value
    int stmt_ = 0, item_ = 0;
    std::string what_;
    DeckFault fault_;
    std::vector<std::string> notes_;
    std::vector<std::pair<int, std::string>> decimal_commas_;
};

// Reads and completes the whole deck. Returns false with a one-line diagnostic in `error`
// for a malformed or short deck or counts that cannot describe a problem.
bool read_deck(std::string_view text, Deck& deck, std::string& error);
// The same with the statement, item and line of the fault.
bool read_deck(std::string_view text, Deck& deck, DeckFault& fault);

// The deck as deck text that read_deck reads back to the same values (numbers written with
// the shortest digits that round-trip). The deck's values must be finite.
std::string write_deck_text(const Deck& d);

} // namespace traz
