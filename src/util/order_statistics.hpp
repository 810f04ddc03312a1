#pragma once
// Order statistics of a sorted sample, shared by the bootstrap summaries and
// the competition analysis.

namespace kelvora {

// The p-th percentile (p in 0..100) of n >= 1 ascending values, by linear
// interpolation between order statistics at position 1 + p (n - 1) / 100
// (1-based): for n = 100 the 2.5th percentile lies at position 3.475.
double percentile(const double* sorted, int n, double p);

// The middle value (n odd) or the mean of the two middle values (n even) of
// n >= 1 ascending values.
double median_of_sorted(const double* sorted, int n);

}  // namespace kelvora
