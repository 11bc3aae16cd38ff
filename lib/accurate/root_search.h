// The root search of the odds ratio's estimate and bounds, one table or
// many strata: safeguarded Halley steps on t = ln psi.
#ifndef FISHER2X2_ACCURATE_ROOT_SEARCH_H
#define FISHER2X2_ACCURATE_ROOT_SEARCH_H

#include <cmath>

#include "arith/double_double.h"

// Roots in t are kept within e^+-700, far beyond any estimate or bound:
// those lie within e^+-200 for counts below 2^63 and levels above 2^-60.
inline constexpr double kMostT = 700;

// Halley's steps are taken for this many iterations at most; after them
// only the bracket's: doubling steps until a sign is seen on either side
// (at most 11 from anywhere in e^+-700), then bisection down to 2^-40 (at
// most 51). The search so always ends at the root within 2^-40, whatever
// the steps did before (none took more than a dozen on any test seen);
// its last iteration is never returned short of it.
inline constexpr int kHalleySteps = 100;

// The root of an increasing f, from t: f(t, &value, &slope, &curve), its
// value and first two derivatives; the steps are Halley's.
template <class F>
inline double Solve(F f, double t, double* last_slope = nullptr) {
  double lo = -kMostT, hi = kMostT, reach = 1;
  bool below = false, above = false;  // a sign seen below, above the root
  if (t < lo) t = lo;
  if (t > hi) t = hi;
  for (int iteration = 0; iteration < 200; ++iteration) {
    double value, slope, curve;
    f(t, &value, &slope, &curve);
    if (last_slope != nullptr) *last_slope = slope;
    if (value == 0) return t;
    if (value < 0) {
      lo = t, below = true;
    } else {
      hi = t, above = true;
    }
    // Halley's step is Newton's divided by 1 - u, u = value curve / 2 slope^2;
    // far from the root, where |u| passes 1/2, Newton's alone.
    const double newton = value / slope, u = newton * curve / (2 * slope);
    double next = t - (u >= -0.5 && u <= 0.5 ? newton / (1 - u) : newton);
    const double step = std::fabs(next - t);
    const bool halley = iteration < kHalleySteps;
    if (halley && next >= lo && next <= hi) {
      // A step below 2^-40 leaves the root within about that: psi within
      // 1e-12 relative, whatever the scale of f. A Newton step would leave
      // it within about c step^2, c = |f''/2f'| (Halley's, closer still):
      // once that is below 2^-46 the step is the last, provided it is below
      // 2^-20 (where f''' could matter no more).
      const double c = std::fabs(curve / (2 * slope));
      if (step <= 0x1p-40 || (step <= 0x1p-20 && c * step * step <= 0x1p-46)) return next;
    }
    if (!halley || !(next > lo && next < hi)) {  // NaN included
      if (below && above) {
        next = lo + (hi - lo) / 2;
        if (hi - lo <= 0x1p-40) return next;
      } else {
        next = below ? t + reach : t - reach;
        reach *= 2;
        if (next < -kMostT) next = -kMostT;
        if (next > kMostT) next = kMostT;
      }
    }
    t = next;
  }
  return t;
}

// The standard normal quantile of 1 - alpha, to a few digits (Hastings).
inline double NormalQuantile(double alpha) {
  const bool upper = alpha <= 0.5;
  const double p = upper ? alpha : 1 - alpha;
  const double s = std::sqrt(-2 * dd::LogToDouble(p));
  const double z = s - (2.515517 + s * (0.802853 + s * 0.010328)) /
                           (1 + s * (1.432788 + s * (0.189269 + s * 0.001308)));
  return upper ? z : -z;
}

#endif  // FISHER2X2_ACCURATE_ROOT_SEARCH_H
