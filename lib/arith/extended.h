// The running type of the six decimals' log-probability sums: a binary
// floating type with a 64-bit significand, rounding to nearest even.
#ifndef FISHER2X2_ARITH_EXTENDED_H
#define FISHER2X2_ARITH_EXTENDED_H

#include <cfloat>

#include "arith/soft_extended.h"

// The native type where it has a 64-bit significand (x87 long double), the
// software one elsewhere.
#if LDBL_MANT_DIG == 64 && !defined(FISHER2X2_SOFT_EXTENDED)
using Extended = long double;
#else
using Extended = SoftExtended;
#endif

#endif  // FISHER2X2_ARITH_EXTENDED_H
