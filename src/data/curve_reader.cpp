#include "data/curve_reader.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <istream>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "data/assay.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/orderly_stop.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

constexpr std::string_view names_prompt_1 =
    "ENTER INPUT DATA FILE NAME(S), (NO \".CRV\" EXTENSION)";
constexpr std::string_view names_prompt_2 = "AND SEPARATE WITH <CR>, END WITH BLANK LINE <CR>";
constexpr std::string_view no_file_read = "***NO DATA FILE READ, PROGRAM ENDED! ***";
constexpr std::string_view invalid_file = "***INVALID DATA FILE, PROGRAM ENDED! ***";

// The binding model works with one or two ligands.
constexpr int max_model_ligands = 2;

// `item`, written in `unit`, is beyond max_curve_value in M.
std::string too_large_value(std::string_view item, Concentration_unit unit) {
  std::string text(item);
  if (unit != Concentration_unit::molar) text += " " + std::string(unit_name(unit));
  return text + " is too large: a concentration or bound value may be at most " +
         fmt_es(max_curve_value, 7, 1) + " M in magnitude";
}

// The lines of a text stream without their line ends (LF or CR LF).
std::vector<std::string> read_lines(std::istream& in) {
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

// Names the file as it was looked for: the entered name with ".CRV".
std::string not_found(const std::string& name) {
  return "ERROR: File " + name + ".CRV was not found.";
}

std::string at_line(const std::string& file, std::size_t line_number) {
  return file + ", line " + fmt_i0(static_cast<long long>(line_number)) + ": ";
}

[[noreturn]] void refuse_file(Console& console, const std::string& file, std::size_t line_number,
                              std::string_view why) {
  console.exact("ERROR: " + at_line(file, line_number) + std::string(why));
  orderly_stop(console, invalid_file);
}

// The first `count` items of a header line as finite reals, written in
// `unit` and returned in M.
std::vector<double> header_reals(Console& console, const std::vector<std::string>& lines,
                                 const std::string& file, std::size_t line_number,
                                 std::size_t count, std::string_view expected,
                                 Concentration_unit unit = Concentration_unit::molar) {
  if (line_number > lines.size())
    refuse_file(console, file, line_number, "missing; " + std::string(expected));
  const auto items = split_items(lines[line_number - 1]);
  if (items.size() < count) refuse_file(console, file, line_number, expected);
  std::vector<double> values;
  for (std::size_t i = 0; i < count; ++i) {
    const auto v = parse_concentration(items[i], unit);
    if (!v) refuse_file(console, file, line_number, expected);
    if (!std::isfinite(*v))
      refuse_file(console, file, line_number, "a value is not a finite number");
    values.push_back(*v);
  }
  return values;
}

std::string strip_title(std::string_view line) {
  if (line.size() > file_name_length) line = line.substr(0, file_name_length);
  std::string_view title = line;
  while (!title.empty() && (title.front() == ' ' || title.front() == '\t')) title.remove_prefix(1);
  if (!title.empty() && title.front() == '"') title.remove_prefix(1);
  title = trim_right(title);
  if (!title.empty() && title.back() == '"') title.remove_suffix(1);
  return std::string(trim_right(title));
}

// True for an item that starts as a number would (a sign, then a digit or a
// point and a digit): a mistyped number rather than comment text.
bool looks_like_a_number(std::string_view item) {
  if (!item.empty() && (item.front() == '+' || item.front() == '-')) item.remove_prefix(1);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!item.empty() && digit(item.front())) return true;
  return item.size() >= 2 && item[0] == '.' && digit(item[1]);
}

// Reads the data points of one curve. Each point is three numbers taken in
// order from the items of the data lines; a line with fewer than three takes
// the rest from the following line(s), and numbers after the third on a line
// are ignored. The data end at the end of the file or at the first item that
// is not a number. The total and the bound value are written in the curve's
// unit and stored in M; the replicate count is a count.
class Data_reader {
 public:
  Data_reader(Console& console, const std::string& file, Curve_data& curve, double hot)
      : console_(console), file_(file), curve_(curve), hot_(hot) {}

  // Reads from line index `first` on; returns the number of complete points
  // beyond the capacity (they are not stored).
  int read(const std::vector<std::string>& lines, std::size_t first) {
    for (std::size_t li = first; li < lines.size(); ++li) {
      for (const auto item : split_items(lines[li])) {
        const auto v = have_ == 2 ? parse_real(item) : parse_concentration(item, curve_.unit);
        if (!v) {
          end_at(item, li + 1);
          return ignored_;
        }
        if (take(*v, item, li + 1)) break;  // numbers after the third on a line are ignored
      }
    }
    if (have_ > 0) warn_incomplete();
    return ignored_;
  }

  // The concentration limit above which a file is taken for one typed in
  // another unit than its own (1 M is far above any binding assay).
  static constexpr double max_plausible_concentration = 1.0;

  // Warns, once per file, that a concentration [M] exceeds 1 M.
  void check_concentration(double c, std::size_t line) {
    if (c > max_plausible_concentration)
      warn_once(above_one_molar_, line,
                "a concentration is above 1 M; concentrations must be given in " +
                    std::string(unit_name(curve_.unit)));
  }

 private:
  struct Number {
    double value;
    std::size_t line;  // 1-based
  };

  void warn(std::size_t line, std::string_view what) {
    console_.exact("WARNING: " + at_line(file_, line) + std::string(what));
  }
  void warn_once(bool& given, std::size_t line, std::string_view what) {
    if (given) return;
    given = true;
    warn(line, what);
  }
  void warn_incomplete() {
    warn(numbers_[0].line, "fewer than three numbers; the incomplete point is discarded");
  }

  void end_at(std::string_view item, std::size_t line) {
    // A mistyped number would silently drop every point after it, so the
    // file is refused rather than fitted on part of its data.
    if (looks_like_a_number(item))
      refuse_file(console_, file_, line, std::string(item) + " is not a number");
    if (item.empty()) warn(line, "an empty item between commas; the data end here");
    // Any other item (a comment line beginning with a letter or "!") ends
    // the data as intended.
    if (have_ > 0) warn_incomplete();
  }

  // Refuses the file when `v`, number `position` (0, 1, 2) of a point, cannot
  // be computed with: the replicate count multiplies a weight; a concentration
  // or a bound value is squared in the sum of squares.
  void refuse_unusable(double v, std::string_view item, std::size_t line, int position) {
    if (!std::isfinite(v)) refuse_file(console_, file_, line, "a value is not a finite number");
    if (position < 2 && std::abs(v) > max_curve_value)
      refuse_file(console_, file_, line, too_large_value(item, curve_.unit));
    if (position == 2 && v > max_replicates)
      refuse_file(console_, file_, line,
                  std::string(item) + " is too large: a replicate count may be at most " +
                      fmt_i0(static_cast<long long>(max_replicates)));
  }

  // Adds one number, `item` as written; true when it completed a point.
  bool take(double v, std::string_view item, std::size_t line) {
    numbers_[have_++] = Number{v, line};
    refuse_unusable(v, item, line, have_ - 1);
    if (have_ < 3) return false;
    have_ = 0;
    if (numbers_[2].line != numbers_[0].line) {
      warn(numbers_[0].line, "fewer than three numbers; the point is completed from line " +
                                 fmt_i0(static_cast<long long>(numbers_[2].line)));
    }
    if (curve_.n_points >= max_points) {
      ++ignored_;
    } else {
      store();
    }
    return true;
  }

  void store() {
    const Number& total = numbers_[0];
    const Number& bound = numbers_[1];
    const int n = curve_.n_points++;
    curve_.bound[n] = bound.value;
    curve_.replicates[n] = numbers_[2].value > 0.0 ? numbers_[2].value : 1.0;
    double labelled_total = total.value;
    if (curve_.is_saturation_curve()) {
      curve_.total_of(n, curve_.labelled_ligand) = total.value;
    } else {
      curve_.total_of(n, curve_.labelled_ligand) = hot_;
      curve_.total_of(n, curve_.varying_ligand) = total.value;
      labelled_total = hot_;
    }
    if (total.value < 0.0)
      warn_once(negative_total_, total.line, "a total concentration is negative");
    check_concentration(total.value, total.line);
    if (bound.value < 0.0) warn_once(negative_bound_, bound.line, "a bound value is negative");
    if (bound.value > labelled_total)
      warn_once(bound_above_total_, bound.line,
                "a bound value is above the total labelled ligand concentration");
  }

  Console& console_;
  const std::string& file_;
  Curve_data& curve_;
  double hot_;
  Number numbers_[3] = {};
  int have_ = 0;
  int ignored_ = 0;
  bool negative_total_ = false;
  bool negative_bound_ = false;
  bool bound_above_total_ = false;
  bool above_one_molar_ = false;
};

// The ligand numbers of line `line_number`, refused outside what the model
// can fit.
std::pair<int, int> ligand_numbers(Console& console, const std::vector<std::string>& lines,
                                   const std::string& file, std::size_t line_number) {
  if (lines.size() < line_number)
    refuse_file(console, file, line_number, "missing; two ligand numbers expected");
  const auto items = split_items(lines[line_number - 1]);
  std::optional<int> varying;
  std::optional<int> labelled;
  if (items.size() >= 2) {
    varying = parse_integer(items[0]);
    labelled = parse_integer(items[1]);
  }
  if (!varying || !labelled)
    refuse_file(console, file, line_number, "two ligand numbers expected (varying, labelled)");
  if (*varying < 1 || *varying > max_ligands || *labelled < 1 || *labelled > max_ligands)
    refuse_file(console, file, line_number, "ligand numbers must be 1 or 2");
  return {*varying, *labelled};
}

// The unit of a first line "UNITS <unit>" (see units_line_name); nothing
// when the line is not of that kind but the title. A first line whose first
// word is UNITS and that names no unit is refused, so that a mistyped unit
// never leaves the data read in M.
std::optional<Concentration_unit> units_line(Console& console, std::string_view line,
                                             const std::string& file) {
  const std::optional<std::string_view> name = units_line_name(line);
  if (!name) return std::nullopt;
  const auto unit = parse_concentration_unit(*name);
  if (!unit) refuse_file(console, file, 1, "UNITS line: " + unknown_unit(*name));
  return unit;
}

// The weighting coefficients for Y in M of coefficients given for Y in
// `unit`. With f = 10^p the unit in M, a bound value Y written in the unit is
// Y_M / f, and its variance a0 + a1 Y + a2 Y^2 + a3 |Y|^a4 in unit^2 is, times
// f^2, the variance in M^2:
//   a0 f^2 + a1 f Y_M + a2 Y_M^2 + a3 f^(2 - a4) |Y_M|^a4.
// A coefficient 0 stays 0 exactly. Nothing when a coefficient that is not 0
// becomes 0 or an infinity: the weights could not be those of the file.
std::optional<std::array<double, n_weight_coefs>> coefficients_in_molar(
    std::array<double, n_weight_coefs> a, Concentration_unit unit) {
  if (unit == Concentration_unit::molar) return a;
  const double p = unit_power(unit);
  const double factor[n_weight_coefs] = {std::pow(10.0, 2.0 * p), std::pow(10.0, p), 1.0,
                                         std::pow(10.0, p * (2.0 - a[4])), 1.0};
  for (int i = 0; i < n_weight_coefs; ++i) {
    if (a[i] == 0.0) continue;
    a[i] *= factor[i];
    if (a[i] == 0.0 || !std::isfinite(a[i])) return std::nullopt;
  }
  return a;
}

}  // namespace

// The weight of a point is w = r / D(Y), D(Y) = a0 + a1 Y + a2 Y^2 + a3 |Y|^a4,
// where Y >= 0 is the predicted bound value. A set is accepted when D(Y) > 0
// for every Y > 0 and D(0) is finite (D(0) = 0, as with the usual
// 0, 0, 0.001, 0, 0, is floored where the weight is computed):
//  - a3 = 0 switches the power term off, whatever a4 is;
//  - a4 = 0, 1 or 2 turns the power term into a constant, linear or square
//    term, merged into c0 = a0, c1 = a1 or c2 = a2;
//  - a3 != 0 with a4 < 0 makes D(0) infinite: a point predicted at zero gets
//    weight 0 and, as w -> 0 for Y -> 0, a fit that predicts no binding
//    scores a sum of squares near zero. Refused;
//  - without any other power term D = c0 + c1 Y + c2 Y^2 is positive for all
//    Y > 0 exactly when
//      c2 > 0, c1 >= 0, c0 >= 0, or
//      c2 > 0, c1 < 0, c0 - c1^2 / (4 c2) > 0 (the minimum, at Y = -c1 / (2 c2)), or
//      c2 = 0, c1 >= 0, c0 >= 0, not both 0;
//    c2 < 0 fails for large Y;
//  - with a power term of another exponent, all of c0, c1, c2 >= 0 and a3 > 0
//    are asked for. A few sets with a negative term stay positive (1 + Y^2 -
//    0.5 Y^1.5); telling them apart would need a root search, and a variance
//    that subtracts a power of Y is no sensible model, so they are refused too.
std::optional<std::string_view> weight_coefficients_fault(
    const std::array<double, n_weight_coefs>& a) {
  if (a[0] == 0.0 && a[1] == 0.0 && a[2] == 0.0 && a[3] == 0.0)
    return "a0, a1, a2 and a3 are all zero, so no point could get a weight";
  // Y never exceeds max_curve_value (>= 1), where every term has its largest
  // magnitude. Beyond a finite bound an infinite variance would give a point
  // weight 0, and infinite terms of opposite signs a variance that is NaN.
  static_assert(max_curve_value == 1.0e3);
  const double y_max = max_curve_value;
  double magnitude = std::abs(a[0]) + std::abs(a[1]) * y_max + std::abs(a[2]) * y_max * y_max;
  if (a[3] != 0.0) magnitude += std::abs(a[3]) * std::pow(y_max, a[4]);
  if (!std::isfinite(magnitude))
    return "a0 + a1 Y + a2 Y^2 + a3 |Y|^a4 is not a finite number for every Y up to 1.0E+03 M, "
           "so a weight could be 0 or not a number";
  constexpr std::string_view not_positive =
      "a0 + a1 Y + a2 Y^2 + a3 |Y|^a4 is not positive for every Y > 0, so a weight could be "
      "negative or infinite";
  double c[3] = {a[0], a[1], a[2]};
  if (a[3] != 0.0) {
    if (a[4] < 0.0)
      return "a3 is not 0 and a4 is negative, so a point predicted at Y = 0 gets weight 0";
    if (a[4] == 0.0 || a[4] == 1.0 || a[4] == 2.0) {
      c[static_cast<int>(a[4])] += a[3];
    } else {
      const bool positive = c[0] >= 0.0 && c[1] >= 0.0 && c[2] >= 0.0 && a[3] > 0.0;
      return positive ? std::nullopt : std::optional(not_positive);
    }
  }
  bool positive = false;
  if (c[2] > 0.0) {
    positive = c[1] >= 0.0 ? c[0] >= 0.0 : c[0] - c[1] * (c[1] / (4.0 * c[2])) > 0.0;
  } else if (c[2] == 0.0) {
    positive = c[1] >= 0.0 && c[0] >= 0.0 && (c[1] > 0.0 || c[0] > 0.0);
  }
  return positive ? std::nullopt : std::optional(not_positive);
}

std::filesystem::path find_curve_file(const std::string& name) {
  std::error_code ec;
  for (const char* extension : {".CRV", ".crv"}) {
    std::filesystem::path path(name + extension);
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return {};
}

void read_curve_file(Console& console, const std::filesystem::path& path, Curve_data& curve,
                     bool normalise, std::optional<Concentration_unit> unit) {
  std::ifstream in(path);
  if (!in) {
    console.exact("ERROR: Cannot open file " + path.string());
    orderly_stop(console, no_file_read);
  }
  curve.path = path.string();
  read_curve_stream(console, in, path.string(), curve, normalise, unit);
}

void read_curve_stream(Console& console, std::istream& in, const std::string& file,
                       Curve_data& curve, bool normalise, std::optional<Concentration_unit> unit) {
  const auto lines = read_lines(in);
  if (lines.empty())
    refuse_file(console, file, 1, "missing; the file must begin with a title line");
  const auto declared = units_line(console, lines[0], file);
  if (declared && unit && *declared != *unit)
    refuse_file(console, file, 1,
                "the UNITS line gives " + std::string(unit_name(*declared)) +
                    ", but the curve is to be read in " + std::string(unit_name(*unit)));
  curve.unit = declared.value_or(unit.value_or(Concentration_unit::molar));
  // The header lines follow the UNITS line, when there is one.
  const std::size_t title_line = declared ? 2 : 1;
  const std::size_t coefs_line = title_line + 1;
  const std::size_t ligands_line = title_line + 2;
  const std::size_t hot_line = title_line + 3;
  if (lines.size() < title_line)
    refuse_file(console, file, title_line, "missing; a title line must follow the UNITS line");
  const std::string title = strip_title(lines[title_line - 1]);

  const auto coefs = header_reals(console, lines, file, coefs_line, n_weight_coefs,
                                  "five weighting coefficients a0, a1, a2, a3, a4 expected");
  std::copy_n(coefs.begin(), n_weight_coefs, curve.weight_coef.begin());
  const auto coefs_molar = coefficients_in_molar(curve.weight_coef, curve.unit);
  if (!coefs_molar)
    refuse_file(console, file, coefs_line,
                "a weighting coefficient leaves the range of a double when converted from " +
                    std::string(unit_name(curve.unit)) + " to M");
  curve.weight_coef = *coefs_molar;
  if (const auto fault = weight_coefficients_fault(curve.weight_coef))
    refuse_file(console, file, coefs_line, *fault);

  std::tie(curve.varying_ligand, curve.labelled_ligand) =
      ligand_numbers(console, lines, file, ligands_line);
  const double hot = header_reals(console, lines, file, hot_line, 1,
                                  "the total labelled ligand concentration [" +
                                      std::string(unit_name(curve.unit)) + "] expected",
                                  curve.unit)[0];

  if (normalise && curve.varying_ligand == curve.labelled_ligand && curve.varying_ligand != 1) {
    console.exact("Note: Normalizing saturation curve to ligand 1: " + curve.file_name);
    console.exact("         (" + fmt_i(curve.varying_ligand, 1) + "," +
                  fmt_i(curve.labelled_ligand, 1) + ") --> (1,1)");
    curve.varying_ligand = 1;
    curve.labelled_ligand = 1;
  }
  // A single saturation file of ligand 3 or 4 has become ligand 1 above;
  // every other file must name the ligands the model has.
  if (curve.varying_ligand > max_model_ligands || curve.labelled_ligand > max_model_ligands)
    refuse_file(console, file, ligands_line,
                "ligand numbers 3 and 4 are not supported; use 1 or 2");
  // With two ligands in the analysis, a curve of different ligand numbers is
  // a competition curve exactly when its fixed labelled concentration is
  // present (the same rule as is_competition_assay).
  if (!curve.is_saturation_curve() && !(hot >= min_competition_hot))
    refuse_file(console, file, hot_line,
                "a competition curve needs a total labelled ligand concentration of at least " +
                    fmt_es(min_competition_hot, 7, 1) + " M");
  if (!curve.is_saturation_curve() && hot > max_curve_value)
    refuse_file(console, file, hot_line,
                too_large_value(split_items(lines[hot_line - 1])[0], curve.unit));

  console.exact("CURVE FILE: " + file);
  if (curve.unit != Concentration_unit::molar)
    console.exact("UNITS: " + std::string(unit_name(curve.unit)) + " (converted to M)");
  console.exact("TITLE: " + title);
  console.exact("VARYING LIGAND: " + fmt_i(curve.varying_ligand, 3) +
                " LABELLED LIGAND: " + fmt_i(curve.labelled_ligand, 3));
  if (curve.is_saturation_curve()) {
    console.exact("SATURATION CURVE: Total ligand varies (Line 4 = 0.0)");
  } else {
    console.exact("TOTAL HOT LIGAND: " + fmt_es(hot, 12, 4) + " [M] (Line 4 constant)");
  }
  console.empty_line();

  allocate_curve_data(curve);
  curve.n_points = 0;
  Data_reader reader(console, file, curve, hot);
  if (!curve.is_saturation_curve()) reader.check_concentration(hot, hot_line);
  const int ignored = reader.read(lines, hot_line);
  if (ignored > 0) {
    console.exact("WARNING: " + file + " holds more than " + fmt_i0(max_points) +
                  " data points; the first " + fmt_i0(max_points) + " are used and " +
                  fmt_i0(ignored) + " are ignored");
  }
  console.exact("Read " + fmt_i(curve.n_points, 4) + " data points");
  console.empty_line();
}

namespace {

// Counts the curves and ligands of the curves just read, and says how many
// points they hold. False when no curve was read.
bool count_curves_read(Console& console, Curve_table& curves, Fit_parameters& params,
                       int n_curves) {
  params.n_curves = n_curves;
  params.n_ligands = 0;
  for (int i = 0; i < n_curves; ++i) {
    params.n_ligands =
        std::max({params.n_ligands, curves[i].varying_ligand, curves[i].labelled_ligand});
  }
  if (n_curves == 0) {
    console.exact("NOTE: No curve was read; the analysis is abandoned.");
    return false;
  }
  if (params.n_points == 0) orderly_stop(console, "***NO DATA READ: File is empty***");
  console.exact("Total: " + fmt_i(params.n_points, 4) + " points from " + fmt_i(n_curves, 4) +
                " curves");
  console.empty_line();
  return true;
}

}  // namespace

bool read_input_files(Console& console, Curve_table& curves, Fit_parameters& params) {
  deallocate_all_curves(curves, max_curves);
  params.n_curves = 0;

  console.empty_line();
  console.exact(names_prompt_1);
  console.exact(names_prompt_2);
  // The list always runs to its blank line: a name beyond the capacity is
  // named and dropped, never left to be taken as the answer to a later prompt.
  std::vector<std::string> names;
  for (;;) {
    const auto line = console.read_line(file_name_length);
    if (!line || is_blank(*line)) break;  // the end of input counts as a blank line
    if (names.size() == static_cast<std::size_t>(max_curves)) {
      console.exact("NOTE: Not read: " + std::string(trim(*line)));
      continue;
    }
    names.emplace_back(trim(*line));
    if (names.size() == static_cast<std::size_t>(max_curves)) {
      console.exact("NOTE: At most " + fmt_i0(max_curves) +
                    " curves are read; further names are not read (end the list with a blank "
                    "line)");
    }
  }
  if (names.empty()) orderly_stop(console, "***NO DATA FILES ENTERED, PROGRAM ENDED! ***");

  const bool single_file = names.size() == 1;
  int n_curves = static_cast<int>(names.size());
  params.n_points = 0;
  for (int i = 0; i < n_curves; ++i) {
    console.exact("READ FILENAME FOR CURVE #" + fmt_i(i + 1, 2));
    auto path = find_curve_file(names[i]);
    if (path.empty()) {
      console.exact(not_found(names[i]));
      console.empty_line();
      console.exact(" CURVE #" + fmt_i(i + 1, 2));
      console.exact("RE-ENTER THE DATA FILE NAME(S), (NO \".CRV\" EXTENSION)");
      console.exact(names_prompt_2);
      console.exact("*** THIS IS YOUR LAST CHANCE TO ENTER FILENAME!");
      const auto line = console.read_line(file_name_length);
      if (!line || is_blank(*line)) {
        // The list ends here; say which names are left out, so that no curve
        // disappears from the analysis unnoticed.
        std::string left_out;
        for (int j = i; j < n_curves; ++j) left_out += " " + names[j];
        console.exact("NOTE: Not read:" + left_out);
        n_curves = i;
        break;
      }
      names[i] = std::string(trim(*line));
      path = find_curve_file(names[i]);
      if (path.empty()) {
        console.exact(not_found(names[i]));
        orderly_stop(console, no_file_read);
      }
    }
    Curve_data& curve = curves[i];
    curve.file_name = names[i];
    read_curve_file(console, path, curve, single_file);
    params.n_points += curve.n_points;
  }
  return count_curves_read(console, curves, params, n_curves);
}

std::string read_named_curves(Console& console, const std::vector<std::string>& names,
                              Curve_table& curves, Fit_parameters& params,
                              std::optional<Concentration_unit> unit) {
  if (names.size() > static_cast<std::size_t>(max_curves))
    return "at most " + fmt_i0(max_curves) + " curves are fitted together, not " +
           fmt_i0(static_cast<long long>(names.size()));
  std::vector<std::filesystem::path> paths;
  for (const std::string& name : names) {
    std::error_code ec;
    std::filesystem::path path(name);
    if (!std::filesystem::is_regular_file(path, ec)) path = find_curve_file(name);
    if (path.empty()) return "no curve file " + name + " (nor " + name + ".CRV)";
    paths.push_back(path);
  }
  deallocate_all_curves(curves, max_curves);
  params.name.fill("*");
  params.n_points = 0;
  const int n_curves = static_cast<int>(paths.size());
  for (int i = 0; i < n_curves; ++i) {
    console.exact("READ FILENAME FOR CURVE #" + fmt_i(i + 1, 2));
    Curve_data& curve = curves[i];
    // The curve's name is its path without the extension of a curve file.
    std::string name = names[i];
    if (const std::string ext = paths[i].extension().string(); ext == ".CRV" || ext == ".crv")
      if (name.ends_with(ext)) name.resize(name.size() - ext.size());
    curve.file_name = name;
    read_curve_file(console, paths[i], curve, n_curves == 1, unit);
    params.n_points += curve.n_points;
  }
  if (!count_curves_read(console, curves, params, n_curves))
    return "no curve was read";  // (not reached: every name matched a file)
  return {};
}

bool read_analysis_curves(Console& console, Curve_table& curves, Fit_parameters& params) {
  params.name.fill("*");
  params.n_points = 0;
  return read_input_files(console, curves, params);
}

}  // namespace kelvora
