#pragma once
// The curve file reader. A curve file is plain text:
//   line 1   title (normally in double quotes), echoed only
//   line 2   five weighting coefficients a0..a4, w = 1/(a0 + a1 Y + a2 Y^2 + a3 |Y|^a4)
//   line 3   varying ligand number, labelled ligand number (1 or 2)
//   line 4   total labelled ligand [M] when it is held fixed, 0.0 for saturation
//   line 5+  one point per line: total varying ligand [M], bound [M], replicates
// An optional line "UNITS <unit>" (M, mM, uM, µM, nM or pM; the keyword in any
// case) before the title gives the unit of the concentrations, the bound
// values and line 4, and of Y in the weighting coefficients; the lines above
// then follow it one line further down. Everything is converted to M on
// reading.
// The data end at the end of the file or at the first item that is not a
// number, so comment text may follow them. Nothing is misread silently: a
// point completed from a following line, a point left incomplete and
// implausible values are reported; an item that looks like a mistyped number
// and what the binding model cannot take are refused.

#include <array>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/records.hpp"

namespace kelvora {

class Console;

// The largest magnitude [M] of a concentration or bound value in a curve
// file. No solution is more concentrated than about 1e3 M (water is 55 M),
// and the limit keeps the weighted sum of squares far from overflow: a
// predicted bound value never exceeds its total, so a residual is at most
// 2e3, a weight at most r / 1e-30 (the floored variance) <= 1e36, a term at
// most 4e42, and the sum over 50 curves of 1000 points, even times the 1e6
// penalty of a negative parameter vector, stays below 1e54 -- so that its
// square, as in the derivatives of the fit, is finite too.
constexpr double max_curve_value = 1.0e3;

// The largest replicate count of a point: it multiplies the point's weight.
constexpr double max_replicates = 1.0e6;

// Asks for curve file names up to a blank line (at most 50 are read), reads
// every file into the table, echoes what it read and sets n_curves, n_points
// and n_ligands of `params`. A name that matches no file is asked once more;
// a blank answer ends the list with the curves read so far. False when that
// leaves no curve at all: the analysis is abandoned. Ends the program with an
// orderly stop when no name is entered, the name asked again matches no file
// either, or the curves read hold no data point.
[[nodiscard]] bool read_input_files(Console& console, Curve_table& curves, Fit_parameters& params);

// The curves of an analysis run without a dialogue: the files of `names`, in
// that order, each a path with or without its .CRV extension; the set is
// read, echoed and counted as read_input_files does, orderly stops included.
// When a name matches no file, or there are more than 50 names, nothing is
// read and the reason is returned; otherwise an empty text.
// `unit` is the unit of files that do not name theirs (see read_curve_stream).
[[nodiscard]] std::string read_named_curves(Console& console, const std::vector<std::string>& names,
                                            Curve_table& curves, Fit_parameters& params,
                                            std::optional<Concentration_unit> unit = std::nullopt);

// The curves of a new analysis: read_input_files, with the parameter names
// and the point count of an earlier analysis cleared first.
[[nodiscard]] bool read_analysis_curves(Console& console, Curve_table& curves,
                                        Fit_parameters& params);

// Reads one curve file (already known to exist) into `curve`, echoing it.
// `normalise` allows a single saturation curve of ligand 2..4 to be renamed
// to ligand 1. `unit` is the unit of a file without a UNITS line (M when not
// stated); a file whose UNITS line gives another unit than a stated one is
// refused. Ends the program with an orderly stop on a refused file.
void read_curve_file(Console& console, const std::filesystem::path& path, Curve_data& curve,
                     bool normalise, std::optional<Concentration_unit> unit = std::nullopt);

// The same from an open stream; `file` names the curve file in messages.
void read_curve_stream(Console& console, std::istream& in, const std::string& file,
                       Curve_data& curve, bool normalise,
                       std::optional<Concentration_unit> unit = std::nullopt);

// Why a set of weighting coefficients a0..a4 is refused; nothing when every
// predicted value Y >= 0 gets a positive weight that is a number, and the
// variance is a finite number for every Y up to max_curve_value.
std::optional<std::string_view> weight_coefficients_fault(
    const std::array<double, n_weight_coefs>& a);

// The file of a curve: the entered name + ".CRV", or + ".crv" when only that
// exists; empty when neither is a regular file.
std::filesystem::path find_curve_file(const std::string& name);

}  // namespace kelvora
