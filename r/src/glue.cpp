// The R package's glue over the C library, through R's .Call interface.
// R checks the arguments and recycles them (R/fisher2x2.R); here the
// counts, whole numbers already, are converted and the tables computed,
// over threads on request. No R API is called from a thread, and nothing
// that R's errors could skip holds memory: R's vectors are allocated
// first, the threads only read and write their data.
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "api/result_fields.h"
#include "fisher2x2.h"

namespace {

constexpr std::uint64_t kMax = INT64_MAX;

// Count i of a column: a double holding a whole number, or an integer64
// (bit64's, its bits in a double).
std::uint64_t CountAt(const double* x, bool integer64, R_xlen_t i) {
  const double v = x[i];
  if (integer64) {
    std::int64_t n;
    std::memcpy(&n, &v, sizeof n);
    return static_cast<std::uint64_t>(n);
  }
  return v >= 0x1p64 ? UINT64_MAX : static_cast<std::uint64_t>(v);
}

// The tables [0, n) into data, over `threads`; returns 0 or the library's
// error. Calls no R API.
int Compute(const double* const counts[4], const bool integer64[4], R_xlen_t n, int alt, unsigned bits, double level,
            double psi, int threads, const ResultField* const fields[], double* const data[], std::size_t count) {
  std::atomic<int> error{0};
  auto run = [&](R_xlen_t from, R_xlen_t to) {
    for (R_xlen_t i = from; i < to; ++i) {
      std::uint64_t v[4];
      for (int k = 0; k < 4; ++k) v[k] = CountAt(counts[k], integer64[k], i);
      fisher2x2_result r;
      const int e = fisher2x2_test_sized(v[0], v[1], v[2], v[3], alt, bits, level, psi, &r, sizeof r);
      if (e != 0) {
        error = e;
        return;
      }
      for (std::size_t k = 0; k < count; ++k) data[k][i] = r.*fields[k]->member;
    }
  };
  threads = std::max(1, std::min<int>(threads, static_cast<int>(std::min<R_xlen_t>(n, 1 << 20))));
  if (threads <= 1) {
    run(0, n);
  } else {
    // Blocks handed out as threads ask for them.
    constexpr R_xlen_t kBlock = 4096;
    std::atomic<R_xlen_t> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&] {
        for (R_xlen_t from; error == 0 && (from = next.fetch_add(kBlock)) < n;) run(from, std::min(n, from + kBlock));
      });
    }
    for (std::thread& th : pool) th.join();
  }
  return error;
}


}  // namespace

extern "C" {

// fisher_test's work: a, b, c, d double vectors of one length (whole
// numbers >= 0, or integer64 where is64[k]), the C library's alternative
// and `want` bits, the level, the null odds ratio, the threads. Returns a
// list of the result's members that `want` fills, by their names, or the
// 1-based index of the first table whose total passes 2^63 - 1 (as a
// negative integer).
SEXP C_fisher_test(SEXP a, SEXP b, SEXP c, SEXP d, SEXP is64, SEXP alternative, SEXP want, SEXP conf_level,
                   SEXP null_or, SEXP workers) {
  // The data pointers taken here, in R's thread (REAL may materialise a
  // vector), and only read after.
  const double* const counts[4] = {REAL(a), REAL(b), REAL(c), REAL(d)};
  const R_xlen_t n = XLENGTH(a);
  bool integer64[4];
  for (int k = 0; k < 4; ++k) integer64[k] = LOGICAL(is64)[k] != 0;
  for (R_xlen_t i = 0; i < n; ++i) {
    std::uint64_t v[4];
    for (int k = 0; k < 4; ++k) v[k] = CountAt(counts[k], integer64[k], i);
    if (v[0] > kMax || v[1] > kMax - v[0] || v[2] > kMax - v[0] - v[1] || v[3] > kMax - v[0] - v[1] - v[2]) {
      return Rf_ScalarReal(-static_cast<double>(i + 1));
    }
  }
  const int alt = Rf_asInteger(alternative);
  const auto bits = static_cast<unsigned>(Rf_asInteger(want));
  const double level = Rf_asReal(conf_level), psi = Rf_asReal(null_or);
  const int threads = Rf_asInteger(workers);

  // No memory of C++'s own while R may raise an error: fixed arrays.
  const ResultField* fields[kResultFieldCount];
  double* data[kResultFieldCount];
  std::size_t count = 0;
  for (const ResultField& f : kResultFields) {
    if ((bits & f.bit) != 0) fields[count++] = &f;
  }
  SEXP out = PROTECT(Rf_allocVector(VECSXP, static_cast<R_xlen_t>(count)));
  SEXP names = PROTECT(Rf_allocVector(STRSXP, static_cast<R_xlen_t>(count)));
  for (std::size_t k = 0; k < count; ++k) {
    SET_VECTOR_ELT(out, static_cast<R_xlen_t>(k), Rf_allocVector(REALSXP, n));
    SET_STRING_ELT(names, static_cast<R_xlen_t>(k), Rf_mkChar(fields[k]->name));
    data[k] = REAL(VECTOR_ELT(out, static_cast<R_xlen_t>(k)));
  }
  Rf_setAttrib(out, R_NamesSymbol, names);
  const int failed = Compute(counts, integer64, n, alt, bits, level, psi, threads, fields, data, count);
  UNPROTECT(2);
  if (failed != 0) Rf_error("%s", fisher2x2_strerror(failed));
  return out;
}

// The library's version.
SEXP C_version(void) { return Rf_mkString(fisher2x2_version()); }

static const R_CallMethodDef kCalls[] = {
    {"C_fisher_test", reinterpret_cast<DL_FUNC>(&C_fisher_test), 10},
    {"C_version", reinterpret_cast<DL_FUNC>(&C_version), 0},
    {nullptr, nullptr, 0},
};

void R_init_fisher2x2(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, kCalls, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
}

}  // extern "C"
