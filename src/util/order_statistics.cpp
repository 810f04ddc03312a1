#include "util/order_statistics.hpp"

namespace kelvora {

double percentile(const double* sorted, int n, double p) {
  const double position = p / 100.0 * (n - 1) + 1.0;
  const int k = static_cast<int>(position);
  if (k >= n) return sorted[n - 1];
  if (k >= 1) return sorted[k - 1] + (position - k) * (sorted[k] - sorted[k - 1]);
  return sorted[0];
}

double median_of_sorted(const double* sorted, int n) {
  return n % 2 == 1 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
}

}  // namespace kelvora
