#pragma once
// Curves and parameter vectors built in one call.

#include <initializer_list>
#include <string>
#include <utility>

#include "data/records.hpp"

namespace kelvora::testing {

// A curve on which ligand `varying` varies and ligand `labelled` is
// labelled, its arrays allocated and zero for its `n_points` points.
inline Curve_data make_curve(int varying, int labelled, int n_points, std::string name = "") {
  Curve_data c;
  c.file_name = std::move(name);
  c.varying_ligand = varying;
  c.labelled_ligand = labelled;
  allocate_curve_data(c);
  c.n_points = n_points;
  return c;
}

// Parameters given by name and value in slot order. The slots in
// `constants` are constant; the others are variable, numbered in slot order.
inline Fit_parameters listed_parameters(std::initializer_list<std::pair<std::string, double>> slots,
                                        std::initializer_list<int> constants = {}) {
  Fit_parameters p;
  for (const auto& [name, value] : slots) {
    p.name[p.n_params] = name;
    p.value[p.n_params++] = value;
  }
  for (const int slot : constants) p.is_constant[slot] = true;
  for (int slot = 0; slot < p.n_params; ++slot) {
    p.var_of_param[slot] = p.is_constant[slot] ? -1 : p.n_var;
    if (!p.is_constant[slot]) p.var_map[p.n_var++] = slot;
  }
  return p;
}

}  // namespace kelvora::testing
