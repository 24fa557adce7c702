// Wide-text helpers shared by the catalogue, the tables and the program.
//
// The program works on std::wstring (UTF-32 on this platform); everything on
// disk is UTF-8. Number parsing and formatting here never depend on the
// process locale: the GUI toolkit switches the C locale to the user's, and a
// decimal comma must not change how a workbook or a value text is read.
#pragma once

#include <string>
#include <string_view>

namespace wtext {

// UTF-8 encoding of a wide text. Characters outside Unicode become U+FFFD.
std::string ToUtf8(std::wstring_view text);
// Decodes UTF-8; malformed bytes become U+FFFD, one per bad byte.
std::wstring FromUtf8(std::string_view bytes);

// Base-10 integer as the C runtime's _wtoi reads it: leading blanks, an
// optional sign, digits up to the first non-digit. No digits gives 0; values
// beyond the int range are clamped.
int ParseInt(std::wstring_view text);
// Decimal floating point (leading blanks, sign, digits, point, exponent), up to
// the first character that does not fit. Nothing readable, infinities and NaN
// give 0.
double ParseReal(std::wstring_view text);

// Fixed-point text with `decimals` digits after the point, as "%.*f" prints it
// in the C locale.
std::wstring FormatFixed(double value, int decimals);
// Integer text as "%d" prints it.
std::wstring FormatInt(long long value);

// Text after the last "/" or "\" of a path.
std::wstring FileName(std::wstring_view path);
// File name without its extension (up to the last "."); a name without a dot
// is returned whole.
std::wstring FileBaseName(std::wstring_view path);

// Blanks (space, tab) removed at both ends.
std::wstring Trim(std::wstring_view text);
// Caseless comparison the way the Windows profile functions compare section
// and key names: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters
// are folded; everything else compares exactly.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
wchar_t FoldCase(wchar_t c);

}  // namespace wtext
