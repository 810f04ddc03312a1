#include "data/assay.hpp"

#include <algorithm>
#include <cmath>

#include "data/parameter_layout.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"

namespace kelvora {

namespace {
const std::string banner_rule = " " + rule('=', 41);
}

bool is_competition_assay(const Curve_data& curve, const Fit_parameters& params) {
  if (params.n_ligands != 2) return false;
  if (curve.varying_ligand == curve.labelled_ligand) return false;
  if (!curve.arrays_present()) return false;
  const int h = curve.labelled_ligand;
  const double c1 = curve.total_of(0, h);
  if (!(c1 >= min_competition_hot)) return false;
  const double tolerance = std::max(c1, 1.0e-20) * 1.0e-12;
  for (int j = 1; j < curve.n_points; ++j) {
    if (!(std::abs(curve.total_of(j, h) - c1) <= tolerance)) return false;
  }
  return true;
}

bool is_already_sorted(const std::vector<bool>& is_saturation) {
  bool other_seen = false;
  for (const bool saturation : is_saturation) {
    if (!saturation) {
      other_seen = true;
    } else if (other_seen) {
      return false;
    }
  }
  return true;
}

void reorder_curves_saturation_first(Console& console, Curve_table& curves,
                                     const Fit_parameters& params) {
  const int n = params.n_curves;
  if (n < 2) return;
  std::vector<bool> is_saturation(n);
  int n_saturation = 0;
  for (int i = 0; i < n; ++i) {
    is_saturation[i] = curves[i].is_saturation_curve();
    if (is_saturation[i]) ++n_saturation;
  }
  const int n_other = n - n_saturation;
  if (n_saturation == 0 || n_other == 0) return;
  if (is_already_sorted(is_saturation)) {
    console.empty_line();
    console.exact(" Curves are already in optimal order (Saturation --> Competition)");
    console.empty_line();
    return;
  }
  console.empty_line();
  console.exact(banner_rule);
  console.exact("   AUTOMATIC CURVE REORDERING");
  console.exact(banner_rule);
  console.exact(" Detected " + fmt_i0(n_saturation) + " saturation curve(s)");
  console.exact(" Detected " + fmt_i0(n_other) + " competition curve(s)");
  console.exact(" ");
  console.exact(" Reordering for optimal analysis:");
  console.exact("   Saturation curves first (determine K, R)");
  console.exact("   Competition curves second (use K from saturation)");
  console.empty_line();

  // Stable partition through a temporary table (whole records move).
  std::vector<Curve_data> reordered(n);
  int next_saturation = 0;
  int next_other = n_saturation;
  for (int i = 0; i < n; ++i) {
    const int position = is_saturation[i] ? next_saturation++ : next_other++;
    console.exact("   Position " + fmt_i0(position + 1) + ": " + curves[i].file_name +
                  (is_saturation[i] ? " (Saturation)" : " (Competition)"));
    reordered[position] = std::move(curves[i]);
  }
  std::move(reordered.begin(), reordered.end(), curves.begin());
  console.exact(banner_rule);
  console.empty_line();
}

void print_binding_model_info(Console& console, const Curve_table& curves,
                              const Fit_parameters& params) {
  console.empty_line();
  console.exact(banner_rule);
  console.exact("   BINDING MODEL DETECTION");
  console.exact(banner_rule);
  for (int i = 0; i < params.n_curves; ++i) {
    const Curve_data& curve = curves[i];
    console.exact(" Curve " + fmt_i(i + 1, 2) + ": " + curve.file_name);
    if (is_competition_assay(curve, params)) {
      console.exact("   Model: COMPETITION DISPLACEMENT");
      console.exact("   Varying ligand:  " + fmt_i(curve.varying_ligand, 1));
      console.exact("   Labeled ligand:  " + fmt_i(curve.labelled_ligand, 1));
      console.exact("   Hot ligand conc: " +
                    fmt_es(curve.total_of(0, curve.labelled_ligand), 10, 3) + " M (constant)");
      console.exact("   Number of sites: " + fmt_i(params.n_sites, 1) + " (competition model)");
    } else {
      console.exact("   Model: SATURATION BINDING");
      console.exact("   Number of ligands: " + fmt_i(params.n_ligands, 1));
      console.exact("   Number of sites:   " + fmt_i(params.n_sites, 1));
    }
    console.empty_line();
  }
  console.exact(banner_rule);
  console.empty_line();
}

std::string Ratio_only::ratio(const Fit_parameters& params, int k_slot) const {
  return params.name[k_slot] + "/(1 + C*" + params.name[n_slot] + ")";
}

std::vector<Ratio_only> ratio_only_parameters(const Curve_table& curves,
                                              const Fit_parameters& params) {
  std::vector<Ratio_only> groups;
  for (int l = 1; l <= params.n_ligands; ++l) {
    bool labelled = false;
    for (int c = 0; c < params.n_curves; ++c) labelled = labelled || curves[c].labelled_ligand == l;
    Ratio_only group;
    group.ligand = l;
    group.n_slot = n_slot(params, l);
    bool all_variable = !labelled && !params.is_constant[group.n_slot];
    for (int s = 1; s <= params.n_sites && all_variable; ++s) {
      group.k_slots.push_back(k_slot(params, l, s));
      all_variable = !params.is_constant[group.k_slots.back()];
    }
    if (all_variable) groups.push_back(group);
  }
  return groups;
}

bool all_saturation_curves(const Curve_table& curves, const Fit_parameters& params) {
  for (int i = 0; i < params.n_curves; ++i) {
    if (!curves[i].is_saturation_curve()) return false;
  }
  return true;
}

}  // namespace kelvora
