// The input deck: list-directed reading of its eight statements into the problem.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace traz {

// Storage sizes. Up to 10 predictors and 3 stages can be computed; larger decks (up to
// the read limits) are read and echoed and then refused by the validation lines.
constexpr int kMaxPred = 10;
constexpr int kMaxStage = 3;
constexpr int kReadPred = 100;  // predictors a deck may have at all
constexpr int kReadStage = 10;  // stages a deck may have at all
constexpr int kMaxGroup = 5;
constexpr int kMaxPass = 1000;

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

    double& Weip(int j, int i) { return weip[(j - 1) + kReadStage * (i - 1)]; }
    double Weip(int j, int i) const { return weip[(j - 1) + kReadStage * (i - 1)]; }
    double& Cormt(int i, int j) { return cormt[(i - 1) + kReadPred * (j - 1)]; }
    double Cormt(int i, int j) const { return cormt[(i - 1) + kReadPred * (j - 1)]; }
    double& Eft(int g, int i) { return eft[(g - 1) + 6 * (i - 1)]; }
    double Eft(int g, int i) const { return eft[(g - 1) + 6 * (i - 1)]; }
};

// Free-format reader over the deck text. Each statement starts on a new line and may
// continue over further lines; what is left of its last line is ignored.
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

    const std::string& error() const { return error_; }
    // Sets a diagnostic that names the current statement and item.
    bool fail(const std::string& why);

private:
    bool next_token(std::string_view& tok);
    bool next_line();

    std::string_view text_;
    std::size_t next_start_ = 0;  // start of the next unread line
    std::size_t pos_ = 0;         // start of the unread part of the current line
    std::size_t line_end_ = 0;    // end of the current line
    int line_no_ = 0;             // 1-based number of the current line; 0 before the first
    bool in_line_ = false;        // the statement has a current line
    bool comma_seen_ = false;     // a comma since the last value
    int stmt_ = 0, item_ = 0;
    std::string what_;
    std::string error_;
};

// Reads and completes the whole deck. Returns false with a one-line diagnostic in `error`
// for a malformed or short deck or counts that cannot describe a problem.
bool read_deck(std::string_view text, Deck& deck, std::string& error);

} // namespace traz
