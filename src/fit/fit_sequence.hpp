#pragma once
// The fixed sequence of minimisers of one fit pass, and its guards.

#include <array>
#include <string_view>
#include <vector>

#include "data/records.hpp"
#include "fit/binding_problem.hpp"
#include "fit/fit_random.hpp"
#include "util/console.hpp"

namespace kelvora {

// What one stage of the sequence cost and the sum of squares it handed on
// (some stages hand on more than they reached, see va10_cg).
struct Stage_record {
  std::string_view name;
  long long evaluations = 0;
  double ss_handed_on = 0.0;
};

struct Sequence_summary {
  std::vector<Stage_record> stages;
  double ss_reference = 0.0;  // SS after the main sequence, before the final refinements
  bool restored_markedly_worse = false;
  bool returned_to_best = false;  // the final point was not the best one seen
  long long evaluations = 0;      // all stages and guards together
};

// The lowest sum of squares among the points offered, and its point. A
// stage's state.ss is not always the sum of its point (hand-ons above the
// reached value, a simplex that keeps the entry value), so each point is
// evaluated afresh, on a copy of the state.
class Best_point {
 public:
  void consider(const Least_squares_problem& problem, const Search_state& state);
  // Offers the current point; when a better one was seen it becomes the
  // current point (true). Either way trial = accepted and state.ss belongs
  // to the point.
  bool restore_if_better(const Least_squares_problem& problem, Search_state& state);
  long long evaluations() const { return evaluations_; }

 private:
  long long evaluations_ = 0;
  bool found_ = false;
  double ss_ = 0.0;
  double last_ss_ = 0.0;
  Variables value_{};
};

// Runs the minimisers in their fixed order from the trial (accepted equal
// to it, state.ss its sum of squares):
//   simplex (300), Levenberg-Marquardt (200), enhanced Levenberg-Marquardt;
//   one curve:      simplex (200), quasi-Newton, simplex (250), adaptive tunnel, quasi-Newton;
//   several curves: simplex (200), staged strategy twice, simplex (200), adaptive tunnel,
//                   quasi-Newton;
//   then, from the point so reached (its SS the reference),
//   Levenberg-Marquardt (100) and (50).
// Guards: final refinements that end above twice the reference, or at a sum
// that is not a number, are undone; and the fit ends at the lowest sum of
// squares that the start or any stage reached, with trial = accepted = that
// point and state.ss belonging to it. An interruption
// (util/interruption.hpp) skips the stages not yet begun; the guards still
// apply, so the fit ends at the best point reached. The tunnel moves and the
// polishes of the quasi-Newton minimiser draw from `random` (fit_random.hpp).
Sequence_summary run_fit_sequence(Console& console, const Binding_problem& problem,
                                  Search_state& state, const Fit_random& random);

// A two-site model names its sites after ligand 1 (site 1 is the one it
// prefers), but every other ligand may prefer either site, and a fit started
// in one preference rarely crosses to the other: the exchange passes through
// equal affinities, a ridge of the sum of squares. These are the ligands
// other than 1 whose two affinities are both fitted.
std::vector<int> ligands_with_open_preference(const Fit_parameters& params);

// The two fits of one ligand's preference: its affinities at the end of the
// fit started as given and of the fit started with K(l,1) and K(l,2)
// exchanged, with their sums of squares.
struct Preference_fits {
  int ligand = 0;
  double k_as_given[2] = {0.0, 0.0};  // K(l,1), K(l,2)
  double ss_as_given = 0.0;
  double k_exchanged[2] = {0.0, 0.0};
  double ss_exchanged = 0.0;
  bool exchanged_kept = false;  // the exchanged start reached the lower SS
};

// run_fit_sequence from the trial and, for every ligand of
// ligands_with_open_preference, once more from the same state with that
// ligand's two affinities exchanged; the fit with the lowest sum of squares
// is kept, with the state as that fit left it. Returns the summary of the
// kept fit; `preferences` gets one record per ligand tried.
Sequence_summary run_fit_sequence_both_preferences(Console& console, const Binding_problem& problem,
                                                   Search_state& state, const Fit_random& random,
                                                   std::vector<Preference_fits>& preferences);

// When state.ss exceeds twice `ss_reference` (the sum of squares of
// `reference`) — or, when `nan_restores`, is not a number — `reference`
// becomes the trial and the accepted point and state.ss becomes
// `ss_reference`. Returns true when it restored.
bool restore_if_markedly_worse(Search_state& state, const Variables& reference, double ss_reference,
                               bool nan_restores);

}  // namespace kelvora
