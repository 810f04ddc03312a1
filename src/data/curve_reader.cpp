#include "data/curve_reader.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <vector>

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

// The lines of a text file without their line ends (LF or CR LF).
std::vector<std::string> read_lines(std::ifstream& in) {
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

[[noreturn]] void refuse_file(Console& console, const std::string& file, int line_number,
                              std::string_view why) {
  console.exact("ERROR: " + file + ", line " + fmt_i0(line_number) + ": " + std::string(why));
  orderly_stop(console, invalid_file);
}

// The first `count` items of a header line as finite reals.
std::vector<double> header_reals(Console& console, const std::vector<std::string>& lines,
                                 const std::string& file, int line_number, std::size_t count,
                                 std::string_view expected) {
  const auto index = static_cast<std::size_t>(line_number - 1);
  if (index >= lines.size())
    refuse_file(console, file, line_number, "missing; " + std::string(expected));
  const auto items = split_items(lines[index]);
  if (items.size() < count) refuse_file(console, file, line_number, expected);
  std::vector<double> values;
  for (std::size_t i = 0; i < count; ++i) {
    const auto v = parse_real(items[i]);
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

// Reads the data points from line index `first` on. Returns the number of
// complete points found beyond the capacity (they are not stored).
int read_data_points(Console& console, const std::vector<std::string>& lines, std::size_t first,
                     const std::string& file, Curve_data& curve, double hot) {
  int ignored = 0;
  double numbers[3] = {0, 0, 0};
  int have = 0;
  for (std::size_t li = first; li < lines.size(); ++li) {
    const auto items = split_items(lines[li]);
    for (const auto item : items) {
      const auto v = parse_real(item);
      if (!v) return ignored;  // the data section ends at the first non-number
      if (!std::isfinite(*v)) {
        console.exact("WARNING: " + file + ", line " + fmt_i0(static_cast<long long>(li) + 1) +
                      ": a value is not a finite number; the data end here");
        return ignored;
      }
      numbers[have++] = *v;
      if (have < 3) continue;
      have = 0;
      if (curve.n_points >= max_points) {
        ++ignored;
        break;
      }
      const int n = curve.n_points++;
      curve.bound[n] = numbers[1];
      curve.replicates[n] = numbers[2] > 0.0 ? numbers[2] : 1.0;
      if (curve.is_saturation_curve()) {
        curve.total_of(n, curve.labelled_ligand) = numbers[0];
      } else {
        curve.total_of(n, curve.labelled_ligand) = hot;
        curve.total_of(n, curve.varying_ligand) = numbers[0];
      }
      break;  // numbers after the third on a line are ignored
    }
  }
  return ignored;
}

}  // namespace

std::filesystem::path find_curve_file(const std::string& name) {
  std::error_code ec;
  for (const char* extension : {".CRV", ".crv"}) {
    std::filesystem::path path(name + extension);
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return {};
}

void read_curve_file(Console& console, const std::filesystem::path& path, Curve_data& curve,
                     bool normalise) {
  const std::string file = path.string();
  std::ifstream in(path);
  if (!in) {
    console.exact("ERROR: Cannot open file " + file);
    orderly_stop(console, no_file_read);
  }
  const auto lines = read_lines(in);

  if (lines.empty())
    refuse_file(console, file, 1, "missing; the file must begin with a title line");
  const std::string title = strip_title(lines[0]);

  const auto coefs = header_reals(console, lines, file, 2, n_weight_coefs,
                                  "five weighting coefficients a0, a1, a2, a3, a4 expected");
  if (std::any_of(coefs.begin(), coefs.end(), [](double a) { return a < 0.0; }))
    refuse_file(console, file, 2,
                "a weighting coefficient is negative; every coefficient must be 0 or more");
  if (coefs[0] == 0.0 && coefs[1] == 0.0 && coefs[2] == 0.0 && coefs[3] == 0.0)
    refuse_file(console, file, 2, "a0, a1, a2 and a3 are all zero, so no point could get a weight");

  if (lines.size() < 3) refuse_file(console, file, 3, "missing; two ligand numbers expected");
  const auto ligand_items = split_items(lines[2]);
  std::optional<int> varying;
  std::optional<int> labelled;
  if (ligand_items.size() >= 2) {
    varying = parse_integer(ligand_items[0]);
    labelled = parse_integer(ligand_items[1]);
  }
  if (!varying || !labelled)
    refuse_file(console, file, 3, "two ligand numbers expected (varying, labelled)");
  if (*varying < 1 || *varying > max_ligands || *labelled < 1 || *labelled > max_ligands)
    refuse_file(console, file, 3, "ligand numbers must lie between 1 and 4");

  const double hot = header_reals(console, lines, file, 4, 1,
                                  "the total labelled ligand concentration [M] expected")[0];

  for (int i = 0; i < n_weight_coefs; ++i) curve.weight_coef[i] = coefs[i];
  curve.varying_ligand = *varying;
  curve.labelled_ligand = *labelled;

  if (normalise && curve.varying_ligand == curve.labelled_ligand && curve.varying_ligand != 1) {
    console.exact("Note: Normalizing saturation curve to ligand 1: " + curve.file_name);
    console.exact("         (" + fmt_i(curve.varying_ligand, 1) + "," +
                  fmt_i(curve.labelled_ligand, 1) + ") --> (1,1)");
    curve.varying_ligand = 1;
    curve.labelled_ligand = 1;
  }

  console.exact("CURVE FILE: " + file);
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
  const int ignored = read_data_points(console, lines, 4, file, curve, hot);
  if (ignored > 0) {
    console.exact("WARNING: " + file + " holds more than " + fmt_i0(max_points) +
                  " data points; the first " + fmt_i0(max_points) + " are used and " +
                  fmt_i0(ignored) + " are ignored");
  }
  console.exact("Read " + fmt_i(curve.n_points, 4) + " data points");
  console.empty_line();
}

void read_input_files(Console& console, Curve_table& curves, Fit_parameters& params) {
  deallocate_all_curves(curves, max_curves);
  params.n_curves = 0;

  console.empty_line();
  console.exact(names_prompt_1);
  console.exact(names_prompt_2);
  std::vector<std::string> names;
  while (names.size() < static_cast<std::size_t>(max_curves)) {
    const auto line = console.read_line(file_name_length);
    if (!line || is_blank(*line)) break;  // the end of input counts as a blank line
    names.emplace_back(trim(*line));
  }
  if (names.empty()) orderly_stop(console, "***NO DATA FILES ENTERED, PROGRAM ENDED! ***");

  const bool single_file = names.size() == 1;
  int n_curves = static_cast<int>(names.size());
  params.n_points = 0;
  for (int i = 0; i < n_curves; ++i) {
    console.exact("READ FILENAME FOR CURVE #" + fmt_i(i + 1, 2));
    auto path = find_curve_file(names[i]);
    if (path.empty()) {
      console.exact("ERROR: Cannot open file " + names[i] + ".CRV");
      console.exact(no_file_read);
      console.empty_line();
      console.exact(" CURVE #" + fmt_i(i + 1, 2));
      console.exact("RE-ENTER THE DATA FILE NAME(S), (NO \".CRV\" EXTENSION)");
      console.exact(names_prompt_2);
      console.exact("*** THIS IS YOUR LAST CHANCE TO ENTER FILENAME!");
      const auto line = console.read_line(file_name_length);
      if (!line || is_blank(*line)) {
        n_curves = i;
        break;
      }
      names[i] = std::string(trim(*line));
      path = find_curve_file(names[i]);
      if (path.empty()) {
        console.exact("ERROR: Cannot open file " + names[i] + ".CRV");
        orderly_stop(console, no_file_read);
      }
    }
    Curve_data& curve = curves[i];
    curve.file_name = names[i];
    read_curve_file(console, path, curve, single_file);
    params.n_points += curve.n_points;
  }
  params.n_curves = n_curves;

  params.n_ligands = 0;
  for (int i = 0; i < n_curves; ++i) {
    params.n_ligands =
        std::max({params.n_ligands, curves[i].varying_ligand, curves[i].labelled_ligand});
  }
  if (params.n_points == 0) orderly_stop(console, "***NO DATA READ: File is empty***");
  console.exact("Total: " + fmt_i(params.n_points, 4) + " points from " + fmt_i(n_curves, 4) +
                " curves");
  console.empty_line();
}

}  // namespace kelvora
