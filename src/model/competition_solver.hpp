#pragma once
// The nested two-ligand solver, shared by competition curves and by the
// general solver when its Newton iteration does not converge.

#include "model/binding_model.hpp"
#include "model/single_ligand.hpp"

namespace kelvora::detail {

// A pair of ligands: the varying (cold) ligand v at total Tv and the
// labelled (hot) ligand h at total Th, on the first n_sites site classes.
struct Competition_problem {
  int n_sites = 1;
  double Tv = 0.0;
  double Th = 0.0;
  double Kv[max_sites] = {};
  double Kh[max_sites] = {};
  double R[max_sites] = {};
  double B[max_sites] = {};
  double Nv = 0.0;
  double Nh = 0.0;
  double C = 1.0;
};

// The pair of ligands v and h (0-based) at totals Tv and Th, with their
// constants from `k`, on the first n_sites site classes.
Competition_problem pair_problem(const Binding_constants& k, double C, int n_sites, int v, int h,
                                 double Tv, double Th);

// Free and bound of both ligands (entries varying-1 and labelled-1 of `out`)
// by the nested search: Fv on (0, Tv] with Fh solved inside. Converges
// whenever both totals exceed 1e-30 and every constant is finite and
// non-negative.
void solve_pair(const Competition_problem& p, int varying, int labelled, Point_binding& out);

}  // namespace kelvora::detail
