#include "params/scripted_setup.hpp"

#include <algorithm>

#include "params/dialogues.hpp"
#include "params/parameter_vector.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

constexpr double smallest_value = 1.0e-15;

// The slot of parameter `name` in this model, or -1.
int slot_named(const Fit_parameters& params, const std::string& name) {
  for (int slot = 0; slot < params.n_params; ++slot)
    if (params.name[slot] == name) return slot;
  return -1;
}

void set_value(Fit_parameters& params, int slot, double value) {
  value = std::max(value, smallest_value);
  params.value[slot] = params.accepted[slot] = value;
}

}  // namespace

std::string mark_default_constants(Fit_parameters& params) {
  std::string defaults;
  for (int slot = 0; slot < params.n_params; ++slot) {
    if (params.value[slot] == 1.0) params.is_constant[slot] = true;
    if (params.is_constant[slot]) defaults += " " + params.name[slot];
  }
  return defaults.empty() ? "NONE" : defaults;
}

std::optional<std::string> variable_count_fault(const Fit_parameters& params) {
  const int n_variable = count_variable_parameters(params);
  if (n_variable > max_var)
    return fmt_i0(n_variable) + " parameters would be fitted, but at most " + fmt_i0(max_var) +
           " can be fitted together.";
  if (n_variable >= params.n_points)
    return fmt_i0(n_variable) + " parameters would be fitted to " + fmt_i0(params.n_points) +
           " data points; the points must outnumber the fitted parameters.";
  return std::nullopt;
}

void hold_constants(Fit_parameters& params, const std::optional<std::vector<Named_value>>& hold) {
  if (!hold) {
    mark_default_constants(params);
  } else {
    params.is_constant.fill(false);
    for (const Named_value& held : *hold)
      if (const int slot = slot_named(params, held.name); slot >= 0)
        params.is_constant[slot] = true;
  }
  setup_variable_map(params);
}

std::optional<std::string> set_initial_values(Fit_parameters& params,
                                              const std::vector<Named_value>& given) {
  for (const Named_value& named : given) {
    const int slot = slot_named(params, named.name);
    if (slot < 0 || !named.value) continue;
    const Entry_range range = entry_range(parameter_kind(params, slot));
    if (!(*named.value >= range.lower && *named.value <= range.upper))
      return named.name + " must lie between " + std::string(trim(fmt_es(range.lower, 12, 1))) +
             " and " + std::string(trim(fmt_es(range.upper, 12, 1))) + (*range.unit ? " " : "") +
             range.unit + ", not " + std::string(trim(fmt_es(*named.value, 14, 6)));
  }
  for (int slot = 0; slot < params.n_params; ++slot) {
    if (params.is_constant[slot] || params.value[slot] == 0.0)
      set_smart_default_estimate(params, slot);
    set_value(params, slot, params.value[slot]);
  }
  for (const Named_value& named : given)
    if (const int slot = slot_named(params, named.name); slot >= 0 && named.value)
      set_value(params, slot, *named.value);
  return std::nullopt;
}

void apply_start_values(Fit_parameters& params, const std::vector<Named_value>& start) {
  for (const Named_value& named : start) {
    const int slot = slot_named(params, named.name);
    if (slot >= 0 && !params.is_constant[slot] && named.value)
      set_value(params, slot, *named.value);
  }
}

}  // namespace kelvora
