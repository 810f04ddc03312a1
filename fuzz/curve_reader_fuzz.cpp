// libFuzzer target for the curve file reader: every input is the text of one
// curve file. A refused file ends in an orderly stop, which is a normal
// outcome here; a crash, a sanitizer report, or an accepted curve that breaks
// what the rest of the program relies on is a finding.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>

#include "data/assay.hpp"
#include "data/curve_reader.hpp"
#include "util/console.hpp"
#include "util/orderly_stop.hpp"

namespace {

// A stream buffer that accepts and forgets everything written to it.
class Discard_buffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

bool admissible(double v) {
  return std::abs(v) <= kelvora::max_curve_value;
}

// What the binding model and the objective assume of an accepted curve.
bool curve_is_sound(const kelvora::Curve_data& curve) {
  using namespace kelvora;
  if (curve.n_points < 0 || curve.n_points > max_points) return false;
  if (curve.bound.size() != static_cast<std::size_t>(max_points)) return false;
  for (const int ligand : {curve.varying_ligand, curve.labelled_ligand})
    if (ligand < 1 || ligand > 2) return false;
  if (weight_coefficients_fault(curve.weight_coef)) return false;
  for (int j = 0; j < curve.n_points; ++j) {
    if (!admissible(curve.bound[j])) return false;
    if (!(curve.replicates[j] > 0.0) || !(curve.replicates[j] <= max_replicates)) return false;
    for (const double total : curve.total[j])
      if (!admissible(total)) return false;
    if (!curve.is_saturation_curve() &&
        !(curve.total_of(j, curve.labelled_ligand) >= min_competition_hot))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
  std::istringstream no_answers;
  Discard_buffer discard;
  std::ostream sink(&discard);
  kelvora::Console console(no_answers, sink);
  kelvora::Curve_data curve;
  curve.file_name = "FUZZ";
  try {
    // Both ways a file is read: alone (may be renamed to ligand 1) or with
    // others; and with its unit stated by the caller or not.
    const auto stated =
        size % 3 == 0 ? std::optional(kelvora::Concentration_unit::nanomolar) : std::nullopt;
    kelvora::read_curve_stream(console, file, "FUZZ.CRV", curve, size % 2 == 0, stated);
  } catch (const kelvora::Orderly_stop&) {
    return 0;
  }
  if (!curve_is_sound(curve)) __builtin_trap();
  return 0;
}
