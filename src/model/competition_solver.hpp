#pragma once
// The competition solver's problem record and its parts, exposed for tests.

#include "model/binding_model.hpp"
#include "model/single_ligand.hpp"

namespace kelvora::detail {

// One competition point: the varying (cold) ligand v at total Tv, the
// labelled (hot) ligand h at total Th, on at most two site classes.
struct Competition_problem {
  int n_sites = 1;
  double Tv = 0.0;
  double Th = 0.0;
  double Kv[2] = {};
  double Kh[2] = {};
  double R[2] = {};
  double B[2] = {};
  double Nv = 0.0;
  double Nh = 0.0;
  double C = 1.0;
};

// The free labelled ligand at free competitor Fv (the labelled ligand's own
// conservation equation solved with the competitor's occupancy held fixed).
double labelled_free(const Competition_problem& p, double fv);

// The conservation residual of the competitor at trial free concentration
// Fv: Tv - Fv - Bv(Fv), with the labelled ligand solved inside.
double mass_balance_multisite(double fv, const Competition_problem& p);

// Brent's root search of mass_balance_multisite on [a, b] to a relative
// accuracy of a few units of rounding; `ok` false when the ends do not
// bracket a root or 100 evaluations do not suffice.
double zbrent_competition(double a, double b, const Competition_problem& p, bool& ok);

// The free and bound concentrations of both ligands at free competitor Fv.
void calculate_multisite_binding(double fv, const Competition_problem& p, int varying, int labelled,
                                 Point_binding& out);

}  // namespace kelvora::detail
