// The R package's glue over the C library, through R's .Call interface.
// R checks the other arguments (R/fisher2x2.R); the counts come as the
// caller's vectors, recycled here by index, and the worker threads read,
// check and compute them, so that no pass over millions of counts is left
// to one thread. No R API is called from a thread, and nothing of C++'s
// own holds memory while R may raise an error: R's vectors are allocated
// first, the threads only read and write their data.
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <thread>
#include <vector>

#include "api/result_fields.h"
#include "fisher2x2.h"

namespace {

constexpr std::uint64_t kMax = INT64_MAX;

// One count argument as the threads read it.
struct Column {
  enum Kind { kInteger, kDouble, kInteger64 } kind;
  const void* data;
  R_xlen_t length;
};

// Why a count is refused; the order of R's messages (R/fisher2x2.R).
enum Reason { kNone, kNegative, kNotWhole, kTotal };

// Count element j of a column: true with *v, or *na, or false with *reason.
bool Read(const Column& c, R_xlen_t j, std::uint64_t* v, bool* na, Reason* reason) {
  switch (c.kind) {
    case Column::kInteger: {
      const int x = static_cast<const int*>(c.data)[j];
      if (x == NA_INTEGER) {
        *na = true;
        return true;
      }
      if (x < 0) {
        *reason = kNegative;
        return false;
      }
      *v = static_cast<std::uint64_t>(x);
      return true;
    }
    case Column::kInteger64: {
      std::int64_t x;
      std::memcpy(&x, static_cast<const double*>(c.data) + j, sizeof x);
      if (x == INT64_MIN) {  // bit64's NA
        *na = true;
        return true;
      }
      if (x < 0) {
        *reason = kNegative;
        return false;
      }
      *v = static_cast<std::uint64_t>(x);
      return true;
    }
    case Column::kDouble:
      break;
  }
  const double x = static_cast<const double*>(c.data)[j];
  if (std::isnan(x)) {  // NA, and NaN as is.na takes it
    *na = true;
    return true;
  }
  if (!(x >= 0 && x < 0x1p64 && std::floor(x) == x)) {
    *reason = x < 0 && std::isfinite(x) && std::floor(x) == x ? kNegative : kNotWhole;
    return false;
  }
  *v = static_cast<std::uint64_t>(x);
  return true;
}

// The first count refused, in the order of the tables: the table, the
// argument, the reason.
struct Fault {
  R_xlen_t table = -1;
  int column = 0;
  Reason reason = kNone;
  void Note(R_xlen_t i, int k, Reason r) {
    if (table < 0 || i < table) table = i, column = k, reason = r;
  }
};

// A count argument (R checked its type); the data pointer taken here, in
// R's thread, and only read after.
Column ColumnOf(SEXP x, SEXP is64, int k) {
  if (TYPEOF(x) == INTSXP || TYPEOF(x) == LGLSXP) {
    return {Column::kInteger,
            TYPEOF(x) == INTSXP ? static_cast<const void*>(INTEGER(x)) : static_cast<const void*>(LOGICAL(x)),
            XLENGTH(x)};
  }
  if (TYPEOF(x) != REALSXP) Rf_error("count %c must be numeric", "abcd"[k]);
  return {LOGICAL(is64)[k] != 0 ? Column::kInteger64 : Column::kDouble, REAL(x), XLENGTH(x)};
}

// The library's `want` bits of the members named in `want`.
unsigned WantBits(SEXP want) {
  unsigned bits = 0;
  for (R_xlen_t i = 0; i < XLENGTH(want); ++i) {
    const char* name = CHAR(STRING_ELT(want, i));
    const ResultField* f = std::find_if(std::begin(kResultFields), std::end(kResultFields),
                                        [name](const ResultField& r) { return std::strcmp(r.name, name) == 0; });
    if (f == std::end(kResultFields)) Rf_error("no member %s in the result", name);
    bits |= f->bit;
  }
  return bits;
}

// The result: a list of double vectors of length n, one a member that
// `bits` asks for, in the library's order and by name; fields[k] and
// data[k] are the k-th, *count of them. Left PROTECTed once. (Fixed
// arrays: no memory of C++'s own while R may raise an error.)
SEXP ResultList(unsigned bits, R_xlen_t n, const ResultField* fields[], double* data[], std::size_t* count) {
  std::size_t m = 0;
  for (const ResultField& f : kResultFields) {
    if ((bits & f.bit) != 0) fields[m++] = &f;
  }
  SEXP out = PROTECT(Rf_allocVector(VECSXP, static_cast<R_xlen_t>(m)));
  SEXP names = PROTECT(Rf_allocVector(STRSXP, static_cast<R_xlen_t>(m)));
  for (std::size_t k = 0; k < m; ++k) {
    SET_VECTOR_ELT(out, static_cast<R_xlen_t>(k), Rf_allocVector(REALSXP, n));
    SET_STRING_ELT(names, static_cast<R_xlen_t>(k), Rf_mkChar(fields[k]->name));
    data[k] = REAL(VECTOR_ELT(out, static_cast<R_xlen_t>(k)));
  }
  Rf_setAttrib(out, R_NamesSymbol, names);
  UNPROTECT(1);  // names, now the list's
  *count = m;
  return out;
}

// worker(t) for t = 0 .. threads - 1, each on a thread of its own (one:
// on this one).
template <class F>
void OnThreads(int threads, F worker) {
  if (threads <= 1) {
    worker(0);
    return;
  }
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(worker, t);
  for (std::thread& th : pool) th.join();
}

// The tables [0, n) into data, over `threads`; the first fault, or a
// library error in *error. Calls no R API.
Fault Compute(const Column counts[4], R_xlen_t n, int alt, unsigned bits, double level, double psi, int threads,
              const ResultField* const fields[], double* const data[], std::size_t count, int* error) {
  std::atomic<bool> stop{false};
  std::atomic<int> failed{0};
  threads = std::max(1, std::min<int>(threads, static_cast<int>(std::min<R_xlen_t>(n, 1 << 20))));
  std::vector<Fault> faults(static_cast<std::size_t>(threads));
  auto run = [&](R_xlen_t from, R_xlen_t to, Fault& fault) {
    for (R_xlen_t i = from; i < to; ++i) {
      std::uint64_t v[4] = {0, 0, 0, 0};
      bool na = false;
      for (int k = 0; k < 4; ++k) {
        Reason reason = kNone;
        if (!Read(counts[k], i % counts[k].length, &v[k], &na, &reason)) {
          fault.Note(i, k, reason);
          stop = true;
          return;
        }
      }
      if (na) {
        for (std::size_t m = 0; m < count; ++m) data[m][i] = NA_REAL;
        continue;
      }
      if (v[0] > kMax || v[1] > kMax - v[0] || v[2] > kMax - v[0] - v[1] || v[3] > kMax - v[0] - v[1] - v[2]) {
        fault.Note(i, 0, kTotal);
        stop = true;
        return;
      }
      fisher2x2_result r;
      const int e = fisher2x2_test_sized(v[0], v[1], v[2], v[3], alt, bits, level, psi, &r, sizeof r);
      if (e != 0) {
        failed = e;
        stop = true;
        return;
      }
      for (std::size_t m = 0; m < count; ++m) data[m][i] = r.*fields[m]->member;
    }
  };
  // Blocks handed out in order as threads ask for them: once a count is
  // refused no later block can hold an earlier one.
  constexpr R_xlen_t kBlock = 4096;
  std::atomic<R_xlen_t> next{0};
  auto worker = [&](int t) {
    for (R_xlen_t from; !stop && (from = next.fetch_add(kBlock)) < n;) {
      run(from, std::min(n, from + kBlock), faults[static_cast<std::size_t>(t)]);
    }
  };
  OnThreads(threads, worker);
  Fault first;
  for (const Fault& f : faults) {
    if (f.table >= 0) first.Note(f.table, f.column, f.reason);
  }
  *error = failed;
  return first;
}

}  // namespace

extern "C" {

// fisher_test's work: a, b, c, d integer, double or integer64 vectors
// (is64), recycled to the longest (none if one is empty); the C library's
// alternative, the names of the result's members asked, the level, the null
// odds ratio, the threads. Returns a list of the members that the `want`
// bits of those names fill, by their names
// (NA in a row with an NA count), or where a count is refused an integer
// vector: the reason (1 negative, 2 not whole, 3 the total), the argument
// (1 to 4) and the element (1-based; for the total, the table).
SEXP C_fisher_test(SEXP a, SEXP b, SEXP c, SEXP d, SEXP is64, SEXP alternative, SEXP want, SEXP conf_level,
                   SEXP null_or, SEXP workers) {
  const SEXP args[4] = {a, b, c, d};
  Column counts[4];
  R_xlen_t n = 0;
  bool empty = false;
  for (int k = 0; k < 4; ++k) {
    counts[k] = ColumnOf(args[k], is64, k);
    empty = empty || counts[k].length == 0;
    n = std::max(n, counts[k].length);
  }
  if (empty) n = 0;
  const int alt = Rf_asInteger(alternative);
  const unsigned bits = WantBits(want);
  const double level = Rf_asReal(conf_level), psi = Rf_asReal(null_or);
  const int threads = Rf_asInteger(workers);

  const ResultField* fields[kResultFieldCount];
  double* data[kResultFieldCount];
  std::size_t count = 0;
  SEXP out = ResultList(bits, n, fields, data, &count);
  int failed = 0;
  const Fault fault = Compute(counts, n, alt, bits, level, psi, threads, fields, data, count, &failed);
  UNPROTECT(1);
  if (failed != 0) Rf_error("%s", fisher2x2_strerror(failed));
  if (fault.table >= 0) {
    SEXP where = PROTECT(Rf_allocVector(REALSXP, 3));
    REAL(where)[0] = fault.reason;
    REAL(where)[1] = fault.column + 1;
    REAL(where)[2] = static_cast<double>(fault.reason == kTotal ? fault.table
                                                                 : fault.table % counts[fault.column].length) + 1;
    UNPROTECT(1);
    return where;
  }
  return out;
}

// strata_test's work: a, b, c, d as for C_fisher_test, of one length (R
// checked them: no NA, each a whole number from 0), starts the 0-based
// first stratum of each test and its end (length tests + 1), then as
// C_fisher_test. Returns the list of members, one value a test.
SEXP C_strata_test(SEXP a, SEXP b, SEXP c, SEXP d, SEXP is64, SEXP starts, SEXP alternative, SEXP want,
                   SEXP conf_level, SEXP workers) {
  const SEXP args[4] = {a, b, c, d};
  Column columns[4];
  for (int k = 0; k < 4; ++k) columns[k] = ColumnOf(args[k], is64, k);
  const R_xlen_t strata = columns[0].length, tests = XLENGTH(starts) - 1;
  const double* at = REAL(starts);
  const unsigned bits = WantBits(want);
  const int alt = Rf_asInteger(alternative);
  const double level = Rf_asReal(conf_level);
  const int threads = std::max(1, std::min<int>(Rf_asInteger(workers), static_cast<int>(std::max<R_xlen_t>(tests, 1))));
  // The counts as the library takes them, in R's memory.
  SEXP raw = PROTECT(Rf_allocVector(RAWSXP, 4 * strata * static_cast<R_xlen_t>(sizeof(std::uint64_t))));
  auto* counts = reinterpret_cast<std::uint64_t*>(RAW(raw));
  for (R_xlen_t i = 0; i < strata; ++i) {
    for (int k = 0; k < 4; ++k) {
      bool na = false;
      Reason reason = kNone;
      std::uint64_t v = 0;
      if (!Read(columns[k], i, &v, &na, &reason) || na || v > kMax) v = kMax;  // R checked: not reached
      counts[4 * i + k] = v;
    }
  }
  const ResultField* fields[kResultFieldCount];
  double* data[kResultFieldCount];
  std::size_t count = 0;
  SEXP out = ResultList(bits, tests, fields, data, &count);
  SEXP codes = PROTECT(Rf_allocVector(INTSXP, tests));
  int* code = INTEGER(codes);
  std::atomic<R_xlen_t> next{0};
  auto worker = [&](int) {
    for (R_xlen_t t; (t = next.fetch_add(1)) < tests;) {
      const auto from = static_cast<std::size_t>(at[t]), to = static_cast<std::size_t>(at[t + 1]);
      fisher2x2_result r;
      code[t] = fisher2x2_strata_test(counts + 4 * from, to - from, alt, bits, level, &r, sizeof r);
      for (std::size_t m = 0; m < count; ++m) data[m][t] = code[t] == 0 ? r.*fields[m]->member : NA_REAL;
    }
  };
  OnThreads(threads, worker);
  for (R_xlen_t t = 0; t < tests; ++t) {
    if (code[t] != 0) {
      const int e = code[t];
      UNPROTECT(3);
      Rf_error("test %.0f: %s", static_cast<double>(t) + 1, fisher2x2_strerror(e));
    }
  }
  UNPROTECT(3);
  return out;
}

static const R_CallMethodDef kCalls[] = {
    {"C_fisher_test", reinterpret_cast<DL_FUNC>(&C_fisher_test), 10},
    {"C_strata_test", reinterpret_cast<DL_FUNC>(&C_strata_test), 10},
    {nullptr, nullptr, 0},
};

void R_init_fisher2x2(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, kCalls, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
}

}  // extern "C"
