// The report block of one competition curve. Three characters are single
// bytes of the Windows-1252 code page: 0xB1 (plus-minus), 0xB2 (superscript
// two) and 0x98 (a small tilde, read as "about").

#include <cmath>
#include <ostream>
#include <string_view>

#include "competition/competition_analysis.hpp"
#include "stats/fit_statistics.hpp"
#include "util/fields.hpp"

namespace kelvora {

namespace {

constexpr std::string_view plus_minus = " \xB1 ";
constexpr std::string_view squared = "\xB2";
constexpr std::string_view about = "\x98";

constexpr std::string_view table_titles[] = {
    "[Cold]_Total(M)   ", "Log[Cold]         ", "Hot_Bound_Obs(M)  ", "Hot_Spec_Obs(M)   ",
    "Hot_Bound_Pred(M) ", "Hot_Spec_Pred(M)  ", "%Binding_Obs      ", "%Binding_Pred     ",
    "%Inhibition_Obs   ", "%Inhibition_Pred  ", "StdErr            "};

void section(std::ostream& out, std::string_view title, int dashes) {
  out << '\n' << title << '\n' << rule('-', dashes) << '\n';
}

// "(A,ES12.5,A)" value lines; an empty unit gives "(A,ES12.5)".
void value_line(std::ostream& out, std::string_view label, double value,
                std::string_view unit = " M") {
  out << label << fmt_es(value, 12, 5) << unit << '\n';
}

// The bootstrap median, interval and interval ratio; none of them when the
// data do not determine the parameters (the replicates would all agree).
void bootstrap_lines(std::ostream& out, std::string_view median_label, std::string_view ci_label,
                     std::string_view ratio_label, const Competition_result& r,
                     const Bootstrap_summary& summary) {
  if (r.determinacy != Determinacy::determined) return;
  value_line(out, median_label, summary.median);
  out << ci_label << fmt_es(summary.lower, 12, 5) << " to " << fmt_es(summary.upper, 12, 5)
      << " M\n";
  out << ratio_label << fmt_f(summary.upper / summary.lower, 6, 2) << "x\n";
}

void write_table(std::ostream& out, const Competition_result& r) {
  section(out, "INHIBITION CURVE DATA:", 22);
  out << ' ';
  for (const auto title : table_titles) out << title;
  out << '\n';
  for (const Inhibition_row& row : r.rows) {
    for (const double v :
         {row.conc, row.log_conc, row.bound_obs, row.spec_obs, row.bound_pred, row.spec_pred,
          row.percent_obs, row.percent_pred, row.inhibition_obs, row.inhibition_pred, row.std_err})
      out << fmt_es(v, 16, 8) << ' ';
    out << '\n';
  }
}

void write_hill(std::ostream& out, const Hill_fit& hill) {
  section(out, "HILL SLOPE ANALYSIS:", 20);
  if (hill.status == Hill_status::insufficient) {
    out << "WARNING: Insufficient data for Hill slope\n";
    return;
  }
  if (hill.status == Hill_status::degenerate) {
    out << "WARNING: Could not calculate Hill slope\n";
    return;
  }
  out << "Fitted from " << fmt_i(hill.n_points, 3) << " points (20-80% binding range)\n";
  out << "Hill slope:  " << fmt_f(hill.slope, 7, 3) << plus_minus << fmt_f(hill.slope_se, 6, 3)
      << '\n';
  out << 'R' << squared << ":          " << fmt_f(hill.r2, 7, 4) << "\n\n";
  if (std::abs(hill.slope - 1.0) < 0.2) {
    out << "Interpretation: Hill slope " << about << " 1.0 indicates simple\n"
        << "                competitive inhibition (no cooperativity)\n";
  } else if (hill.slope > 1.2) {
    out << "Interpretation: Hill slope > 1.0 may indicate positive\n"
        << "                cooperativity or multiple binding modes\n";
  } else if (hill.slope < 0.8) {
    out << "Interpretation: Hill slope < 1.0 may indicate negative\n"
        << "                cooperativity or heterogeneous binding\n";
  }
}

void write_ic50(std::ostream& out, const Competition_result& r) {
  section(out, "IC50 ANALYSIS:", 14);
  if (!(r.ic50 > 0.0)) {
    out << "IC50: Could not be determined\n";
    return;
  }
  value_line(out, "IC50 (interpolated): ", r.ic50);
  value_line(out, "log(IC50):           ", std::log10(r.ic50), "");
  bootstrap_lines(out,
                  "IC50 (bootstrap median): ", "95% CI (bootstrap):  ", "CI Ratio:            ", r,
                  r.ic50_boot);
  out << (r.ic50_solved ? "Method:              Solved on the fitted model curve\n"
                        : "Method:              Estimated from closest point\n");
}

void write_ki(std::ostream& out, const Competition_result& r) {
  section(out, "Ki CALCULATION (CHENG-PRUSOFF):", 31);
  if (!r.has_ki) {
    out << "Ki: Could not be calculated\n";
    return;
  }
  out << "Cheng-Prusoff equation: Ki = IC50 / (1 + [Hot]/Kd_hot)\n\n";
  value_line(out, "  IC50:                ", r.ic50);
  value_line(out, "  [Hot]:               ", r.hot);
  value_line(out, "  Kd(hot):             ", r.kd_hot_app);
  out << '\n';
  value_line(out, "  Ki (calculated):     ", r.ki);
  value_line(out, "  log(Ki):             ", std::log10(r.ki), "");
  bootstrap_lines(out, "  Ki (bootstrap median):", "  95% CI (bootstrap):  ",
                  "  CI Ratio:            ", r, r.ki_boot);
  section(out, "COMPARISON TO FITTED Kd:", 24);
  if (r.n_sites == 1) {
    value_line(out, "  Ki (Cheng-Prusoff):  ", r.ki);
    value_line(out, "  Kd (from fit):       ", r.kd_cold_first);
  } else {
    value_line(out, "  Ki (Cheng-Prusoff):     ", r.ki);
    value_line(out, "  Kd apparent (weighted): ", r.kd_cold_app);
  }
}

// Cheng-Prusoff assumes one class of sites; with several, the competitor's own
// affinity at each site and the share of the hot ligand's specific binding
// that each site carries say which Kd the IC50 reflects.
void write_sites(std::ostream& out, const Competition_result& r) {
  section(out, "AFFINITY OF THE COMPETITOR AT EACH SITE:", 40);
  for (std::size_t s = 0; s < r.sites.size(); ++s) {
    out << "  Site " << fmt_i0(static_cast<long long>(s) + 1)
        << ":  Kd(cold) = " << fmt_es(r.sites[s].kd_cold, 12, 5) << " M   ("
        << fmt_f(r.sites[s].hot_share, 5, 1) << " % of the hot specific binding at point 1)\n";
  }
}

}  // namespace

void write_competition_block(std::ostream& out, const Competition_result& r) {
  const std::string equals = rule('=', 80);
  std::string_view name = r.file_name;
  name = name.substr(0, name.find_last_not_of(' ') + 1);
  out << '\n' << equals << '\n';
  out << "COMPETITION DISPLACEMENT ANALYSIS - FIT NO. " << fmt_i(r.fit_number, 4) << '\n';
  out << name << '\n' << equals << "\n\n";
  out << "Hot ligand (labeled, fixed):      " << fmt_i(r.hot_ligand, 2) << '\n';
  out << "Cold ligand (competitor, varying):" << fmt_i(r.cold_ligand, 2) << '\n';
  out << "NS constant:                  " << fmt_es(r.ns, 12, 5) << '\n';
  out << "Data points: " << fmt_i(r.n_points, 6) << '\n';
  out << "Number of receptor sites: " << fmt_i(r.n_sites, 2) << '\n';
  out << "Bootstrap iterations: " << fmt_i(r.n_replicates, 6) << '\n';
  if (r.determinacy != Determinacy::determined) out << determinacy_warning(r.determinacy) << '\n';
  write_table(out, r);
  write_hill(out, r.hill);
  section(out, "BOOTSTRAP ANALYSIS:", 19);
  out << "Running " << fmt_i(r.n_replicates, 6) << " bootstrap iterations...\n";
  out << "Completed: " << fmt_i(r.n_successful, 6) << " / " << fmt_i(r.n_replicates, 6)
      << " successful\n";
  write_ic50(out, r);
  write_ki(out, r);
  if (r.n_sites > 1) write_sites(out, r);
  out << '\n' << equals << "\n\n";
}

}  // namespace kelvora
