// Record-layout writer: every line of the report is produced here.
//
// A layout is a parenthesised, comma-separated list of items:
//   'text'   copied as is ('' inside a text is one quote)
//   nX       move n columns right; the skipped columns become blanks only if
//            something is written after them on the same line
//   /        end the current line (commas around a slash may be left out)
//   Iw       one integer, right-aligned in w columns
//   Fw.d     one real in fixed point with d decimals, right-aligned in w columns
//   Dw.d     one real as 0.ddd with d significant digits and exponent
//            (E+dd, or +ddd / -ddd when the exponent needs three digits)
//   r before I, F or D repeats the field r times; () is the empty layout.
//
// One write operation starts a new line, takes the values in order (an
// integer for each I field, a real for each F or D field) and always ends with
// a line end. It stops at the first field for which no value is left; when the
// layout ends and values remain, the line is ended and the layout is used again
// from its beginning. Lines are never padded on the right.
//
// Numbers are rounded by correctly rounded conversion of the binary value
// (an exact tie goes to the even digit). A value that does not fit its field,
// and NaN or an infinity, is written as w asterisks. Zero, and a negative value
// that rounds to zero, carry no minus sign.
//
// A malformed layout, a value of the wrong type for its field, or values given
// to a layout without fields are programming errors: std::logic_error.
#pragma once
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace traz {

// Single-precision values are passed widened to double.
using FieldValue = std::variant<std::int32_t, double>;

// Render one write operation: the text of its lines, each ended by '\n'.
std::string render(std::string_view layout, std::span<const FieldValue> values);
std::string render(std::string_view layout, std::initializer_list<FieldValue> values = {});

// Write one write operation's lines to out (the report goes to stdout).
void write(std::FILE* out, std::string_view layout, std::initializer_list<FieldValue> values = {});
void write(std::FILE* out, std::string_view layout, std::span<const FieldValue> values);

} // namespace traz
