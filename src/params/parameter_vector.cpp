#include "params/parameter_vector.hpp"

#include <cassert>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "data/parameter_layout.hpp"

namespace kelvora {

namespace {

std::string one_index_name(char letter, int i) {
  return letter + std::to_string(i);
}

std::string k_name(int ligand, int site) {
  return "K" + std::to_string(ligand) + std::to_string(site);
}

}  // namespace

void considered_parameter_names(Fit_parameters& p) {
  for (int l = 1; l <= p.n_ligands; ++l)
    for (int s = 1; s <= p.n_sites; ++s) p.name[k_slot(p, l, s)] = k_name(l, s);
  for (int s = 1; s <= p.n_sites; ++s) p.name[r_slot(p, s)] = one_index_name('R', s);
  for (int l = 1; l <= p.n_ligands; ++l) p.name[n_slot(p, l)] = one_index_name('N', l);
  for (int c = 1; c <= p.n_curves; ++c) p.name[c_slot(p, c)] = one_index_name('C', c);
  for (int s = 1; s <= p.n_sites; ++s) p.name[b_slot(p, s)] = one_index_name('B', s);
}

void setup_parameter_names(Fit_parameters& p) {
  const int n = get_total_npar(p);
  p.n_params = n;
  considered_parameter_names(p);
  for (int i = 0; i < n; ++i) {
    p.shared_link[i] = 0;
    p.is_constant[i] = false;
    p.value[i] = 0.0;
  }
  for (int c = 1; c <= p.n_curves; ++c) {
    const int slot = c_slot(p, c);
    p.value[slot] = p.accepted[slot] = 1.0;
    p.is_constant[slot] = c == 1;
  }
  for (int s = 1; s <= p.n_sites; ++s) {
    const int slot = b_slot(p, s);
    p.value[slot] = p.accepted[slot] = 1.0;
    p.is_constant[slot] = true;
  }
}

int count_variable_parameters(const Fit_parameters& p) {
  int m = 0;
  for (int slot = 0; slot < p.n_params; ++slot) m += p.is_constant[slot] ? 0 : 1;
  return m;
}

void setup_variable_map(Fit_parameters& p) {
  assert(count_variable_parameters(p) <= max_var);
  p.var_of_param.fill(-1);
  int m = 0;
  for (int slot = 0; slot < p.n_params; ++slot) {
    if (p.is_constant[slot]) continue;
    p.var_map[m] = slot;
    p.var_of_param[slot] = m;
    ++m;
  }
  p.n_var = m;
}

void update_parameters(Fit_parameters& p) {
  for (int i = 0; i < p.n_var; ++i) p.accepted[p.var_map[i]] = p.value[p.var_map[i]];
}

void keep_pass_values(Fit_parameters& p) {
  p.prev_n_sites = p.n_sites;
  for (int i = 0; i < p.n_params; ++i) {
    p.saved_name[i] = p.name[i];
    p.saved_value[i] = p.value[i];
    p.saved_link[i] = p.shared_link[i];
  }
}

void restore_pass_values(Fit_parameters& p) {
  for (int i = 0; i < p.n_params; ++i) {
    p.name[i] = p.saved_name[i];
    p.value[i] = p.saved_value[i];
    p.shared_link[i] = p.saved_link[i];
  }
}

void read_variables(const Fit_parameters& p, double* x) {
  for (int i = 0; i < p.n_var; ++i) x[i] = p.value[p.var_map[i]];
}

char parameter_kind(const Fit_parameters& p, int slot) {
  return p.name[slot].empty() ? ' ' : p.name[slot][0];
}

std::optional<Admissible_range> admissible_range(char kind) {
  switch (kind) {
    case 'K':
      return Admissible_range{1e5, 1e14};
    case 'R':
      return Admissible_range{1e-14, 1e-5};
    case 'N':
      return Admissible_range{0.0, 0.5};
    case 'C':
      return Admissible_range{0.1, 10.0};
    case 'B':
      return Admissible_range{0.25, 4.0};
    default:
      return std::nullopt;
  }
}

void apply_k_constraints_barrier(Fit_parameters& params) {
  int k11 = -1, k12 = -1, k22 = -1;
  for (int slot = 0; slot < params.n_params; ++slot) {
    const std::string_view name = params.name[slot];
    if (name == "K11") k11 = slot;
    if (name == "K12") k12 = slot;
    if (name == "K22") k22 = slot;
  }
  if (k22 != 3 || k11 < 0 || k12 < 0) return;
  // Only K12 changes, so a constant K12 is left as the user gave it. Ligand 1
  // names the sites (site 1 is its preferred one); every other ligand keeps
  // whichever site it prefers.
  auto& v = params.value;
  if (!(v[k11] > 0.0) || params.is_constant[k12]) return;
  const double rho = v[k12] / v[k11];
  v[k12] = v[k11] * rho * (1.0 + std::tanh(2.0 * (1.0 - rho))) / 2.0;
}

Entry_range entry_range(char kind) {
  // Each range holds every value an experiment can give with orders of
  // magnitude to spare: affinities reach about 1e15 M^-1 (femtomolar Kd),
  // receptor concentrations stay below 1e-4 M, nonspecific ratios below 10,
  // correction factors near 1 and cooperativity factors within 1e-3..1e3. The
  // upper ends keep the point model's products (K C R, C N, B A^2 with the
  // occupancy A = K F) far from overflow, so that its solvers converge in
  // their usual few steps: a constant R of 1e300 makes K C R infinite and a
  // competition point solve about a thousand times slower (minutes over a
  // fit), and a B of 1e308 makes the site term NaN. Zero is meaningful for
  // every kind (no binding, no receptor, a ratio held at 0); negative values
  // are not.
  switch (kind) {
    case 'K':
      return {0.0, 1e20, "M^-1"};
    case 'R':
      return {0.0, 1.0, "M"};
    case 'N':
      return {0.0, 1e3, ""};
    case 'C':
      return {0.0, 1e3, ""};
    case 'B':
      return {0.0, 1e6, ""};
    default:
      return {-std::numeric_limits<double>::max(), std::numeric_limits<double>::max(), ""};
  }
}

}  // namespace kelvora
