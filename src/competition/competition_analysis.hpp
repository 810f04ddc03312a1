#pragma once
// IC50, Hill slope and inhibition constant of competition (displacement)
// curves, with residual-bootstrap intervals for IC50 and Ki.
//
// Ki from IC50 by the relation of Cheng and Prusoff (Biochem. Pharmacol. 22,
// 3099-3108, 1973):  Ki = IC50 / (1 + [Hot] / Kd_hot).
// Hill slope from the logit plot log10(B / (100 - B)) against log10 [Cold]
// (Hill, J. Physiol. 40, iv-vii, 1910), over the 20-80 % binding range.
//
// The computation fills one record per curve; the report writer prints it.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "data/records.hpp"
#include "util/random.hpp"

namespace kelvora {

// One row of the inhibition table.
struct Inhibition_row {
  double conc = 0.0;      // total competitor concentration [M]
  double log_conc = 0.0;  // log10(conc), or -30 when conc <= 1e-30
  double bound_obs = 0.0;
  double spec_obs = 0.0;
  double bound_pred = 0.0;
  double spec_pred = 0.0;
  double percent_obs = 0.0;  // % specific binding, clamped to 0..100
  double percent_pred = 0.0;
  double inhibition_obs = 0.0;  // 100 - % binding
  double inhibition_pred = 0.0;
  double std_err = 0.0;  // 1 / sqrt(weight), 0 without weight
};

enum class Hill_status { insufficient, degenerate, fitted };

// Weighted least-squares line y = a + b x over the Hill points; the Hill
// slope is -b (binding falls as the competitor rises).
struct Hill_fit {
  Hill_status status = Hill_status::insufficient;
  int n_points = 0;
  double slope = 1.0;  // nH; 1.0 when no line could be fitted
  double slope_se = 0.0;
  double intercept = 0.0;
  double r2 = 0.0;
};

// Median and 95 % limits of a sorted bootstrap sample.
struct Bootstrap_summary {
  double median = 0.0;
  double lower = 0.0;
  double upper = 0.0;
};

// The competitor's affinity at one site of a multi-site model, and how much of
// the labelled ligand's specific binding that site carries at the first point.
struct Site_summary {
  double kd_cold = 0.0;    // 1 / K(cold, s) [M]
  double hot_share = 0.0;  // % of the hot ligand's specific binding at site s
};

struct Competition_result {
  int fit_number = 0;
  int curve = 0;  // the curve's number in the analysis, from 1
  std::string file_name;
  int hot_ligand = 0;
  int cold_ligand = 0;
  int n_points = 0;
  int n_sites = 0;
  int n_replicates = 0;
  // The nonspecific ratio of the labelled ligand on this curve, C N(hot):
  // nonspecifically bound hot ligand = ns * free hot.
  double ns = 0.0;
  double hot = 0.0;      // labelled concentration at the first point
  double b0_spec = 0.0;  // the fitted specific binding without competitor (100 %)
  double kd_hot_app = 0.0;
  double kd_cold_app = 0.0;
  double kd_cold_first = 0.0;       // Kd of the competitor at site 1
  std::vector<Site_summary> sites;  // one per site
  std::vector<Inhibition_row> rows;
  Hill_fit hill;
  double ic50 = 0.0;         // point estimate from the fitted curve; 0 when undetermined
  bool ic50_solved = false;  // the 50 % crossing of the fitted curve was found
  int n_successful = 0;      // replicates that gave a Ki
  Bootstrap_summary ic50_boot;
  Bootstrap_summary ki_boot;
  double ki = 0.0;
  bool has_ki = false;
  // Of the whole analysis: when its data do not determine the fitted
  // parameters, the report says so and gives no bootstrap figures.
  Determinacy determinacy = Determinacy::determined;
};

// Analyses competition curve `c` (0-based position in the table) of a fitted
// model with `n_replicates` (>= 1) bootstrap replicates drawn from `rng` as
// it stands (the caller seeds it). The curve's predicted values must belong
// to the parameter values.
//
// Specific binding is the labelled ligand's bound minus its nonspecific part,
// ns * (Hot - bound) with ns = C(c) N(hot). 100 % is the fitted specific
// binding without competitor. The IC50 is the competitor concentration where
// the fitted curve's specific binding is half of that, found by a bracketed
// root search on the model between the two measured points that enclose it;
// when no pair of points encloses 50 %, the concentration of the point
// closest to 50 % stands in.
Competition_result analyse_competition_curve(const Curve_table& curves, int c,
                                             const Fit_parameters& params,
                                             const Curve_prediction& prediction, int fit_number,
                                             Random_generator& rng, int n_replicates);

// Sorts `values` ascending and returns the median and the values at ranks
// max(trunc(0.025 n), 1) and min(trunc(0.975 n), n) (1-based, no interpolation).
Bootstrap_summary summarise_replicates(std::vector<double>& values);

// Writes the report block of one analysed curve (single bytes 0xB1, 0xB2 and
// 0x98 stand for the plus-minus sign, the superscript two and "about").
void write_competition_block(std::ostream& out, const Competition_result& result);

// The seed the program gives the bootstrap of the competition curve at
// 0-based position c of the table: every word 1000 (c + 1) + 12345.
Random_generator::Seed competition_curve_seed(int c);

// The caller's seeding of `generator` before the bootstrap of the curve at
// 0-based position c of the table.
using Curve_seeding = std::function<void(Random_generator& generator, int c)>;

// Analyses every competition curve of the table in order (saturation curves
// are skipped) and writes one block each to `out`. The bootstrap of each
// curve draws from `rng` after before_curve(rng, c); results.n_blocks counts
// the blocks, and `analysed`, when given, receives the record of each curve. Whether the data
// determine the parameters is judged from the curves' weights and predicted values in `fitted`,
// which must belong to the parameter values.
void competition_ic50_analysis_bootstrap(std::ostream& out, const Curve_table& curves,
                                         const Fit_parameters& params,
                                         const std::vector<Curve_prediction>& fitted,
                                         Fit_results& results, Random_generator& rng,
                                         const Curve_seeding& before_curve, int B = 1000,
                                         std::vector<Competition_result>* analysed = nullptr);

// The competition results file of a fit: the analysis above, each curve's
// bootstrap drawing from `rng` after before_curve(rng, c); the records of the
// curves go to `analysed` when given. Its blocks are
// numbered on a copy of `results`, so the count of plot blocks there stays
// as it is.
std::string competition_results_text(const Curve_table& curves, const Fit_parameters& params,
                                     const std::vector<Curve_prediction>& fitted,
                                     const Fit_results& results, Random_generator& rng,
                                     const Curve_seeding& before_curve,
                                     std::vector<Competition_result>* analysed = nullptr);

}  // namespace kelvora
