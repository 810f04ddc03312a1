#pragma once
// Fixed-width fields. Every number that reaches a report, a prompt or a file
// goes through these, so that all columns follow one set of rules:
//   Iw     integer right-aligned in w columns          fmt_i(v, w)
//   I0     integer in its minimal width                fmt_i0(v)
//   Fw.d   fixed form, d decimals, w columns           fmt_f(v, w, d)
//   ESw.d  scientific form 1.23456E-09, w columns      fmt_es(v, w, d)
//   Aw     text right-justified in w, or cut to w      fmt_a(s, w)
//   nX     n blanks                                    blanks(n)
// A number too wide for its field shows w asterisks. Values are never rounded
// before formatting. A value that is not finite (NaN, an infinity) is no
// result and is shown as "N/A" right-justified in its field (asterisks when
// the field is narrower than 3). An exponent of three digits keeps its letter
// (1.00000E-300) and so needs one more column.

#include <string>
#include <string_view>

namespace kelvora {

std::string fmt_i(long long value, int width);
std::string fmt_i0(long long value);
std::string fmt_f(double value, int width, int decimals);
std::string fmt_es(double value, int width, int decimals);
std::string fmt_a(std::string_view text, int width);
// Text left-aligned in `width` columns (padded on the right, cut when longer).
std::string fmt_left(std::string_view text, int width);
std::string blanks(int count);
// A rule: `count` copies of `c`.
std::string rule(char c, int count);

// The nearer of nM and pM for a molar concentration: nM from 0.1 nM up, pM
// below ("0.503 nM" reads better than "503 pM", "50.3 pM" better than
// "0.0503 nM"); its name and its size in M.
struct Familiar_unit {
  const char* name;
  double molar;
};
Familiar_unit familiar_unit(double molar);
// The concentration in that unit with three significant digits: "0.503 nM",
// "50.3 pM", "1250 nM"; "N/A" when it is not a positive finite number.
std::string familiar_concentration(double molar);

}  // namespace kelvora
