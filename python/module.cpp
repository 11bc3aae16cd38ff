// fisher2x2._core: the library over NumPy arrays, the GIL released, the
// work spread over threads on request.
//
// The counts come as the caller's arrays, broadcast to one shape: any
// layout (strided, broadcast, Fortran order), either byte order, integers,
// booleans or floats. The worker threads read, check and copy them as they
// compute, so that no pass over them is left to the calling thread.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "api/result_fields.h"
#include "fisher2x2.h"

namespace py = pybind11;

namespace {

constexpr std::uint64_t kMaxTotal = INT64_MAX;

// One array of counts as its elements are read: where each is, and how.
struct Column {
  enum Kind { kBool, kSigned, kUnsigned, kFloat } kind;
  const char* data;
  std::vector<py::ssize_t> strides;  // in bytes, one per dimension
  int size;                          // bytes an element
  bool swap;                         // the other byte order
};

Column ColumnOf(const py::array& x, const char* name) {
  const py::dtype t = x.dtype();
  Column c{};
  switch (t.kind()) {
    case 'b':
      c.kind = Column::kBool;
      break;
    case 'i':
      c.kind = Column::kSigned;
      break;
    case 'u':
      c.kind = Column::kUnsigned;
      break;
    case 'f':
      c.kind = Column::kFloat;
      break;
    default:
      throw py::type_error(std::string("count ") + name + " has an unsupported dtype");
  }
  c.size = static_cast<int>(t.itemsize());
  if (c.size != 1 && c.size != 2 && c.size != 4 && c.size != 8) {
    throw py::type_error(std::string("count ") + name + " has an unsupported dtype");
  }
  if (c.kind == Column::kFloat && c.size < 4) throw py::type_error(std::string("count ") + name + " is float16");
  c.data = static_cast<const char*>(x.data());
  c.strides.assign(x.strides(), x.strides() + x.ndim());
  // '=' and '|' are native; '<' or '>' is native where it is this machine's.
  const char order = t.byteorder();
  const std::uint16_t probe = 1;
  const bool little = *reinterpret_cast<const unsigned char*>(&probe) == 1;
  c.swap = c.size > 1 && ((order == '<' && !little) || (order == '>' && little));
  return c;
}

std::uint64_t Bits(const char* p, int size, bool swap) {
  switch (size) {
    case 1:
      return static_cast<unsigned char>(*p);
    case 2: {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      return swap ? __builtin_bswap16(v) : v;
    }
    case 4: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return swap ? __builtin_bswap32(v) : v;
    }
    default: {
      std::uint64_t v;
      std::memcpy(&v, p, 8);
      return swap ? __builtin_bswap64(v) : v;
    }
  }
}

// Why a count is refused.
enum Reason { kNegative, kBeyond, kNotWhole };
const char* const kReasons[] = {"is negative", "is beyond 2^63 - 1",
                                "is not a whole number from 0 to 2^63 - 1"};

// The count whose bits are `bits`: true with *v, or false with *reason;
// NaN is *missing.
template <typename T>
bool FromValue(T x, std::uint64_t* v, Reason* reason, bool* missing) {
  if constexpr (std::is_same_v<T, bool>) {
    *v = x;
  } else if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(x)) {
      *missing = true;
      *v = 0;
      return true;
    }
    if (!(x >= 0 && x < static_cast<T>(0x1p63) && std::floor(x) == x)) {
      *reason = kNotWhole;
      return false;
    }
    *v = static_cast<std::uint64_t>(x);
  } else if constexpr (std::is_signed_v<T>) {
    if (x < 0) {
      *reason = kNegative;
      return false;
    }
    *v = static_cast<std::uint64_t>(x);
  } else {
    if (static_cast<std::uint64_t>(x) > kMaxTotal) {
      *reason = kBeyond;
      return false;
    }
    *v = x;
  }
  return true;
}

// The elements from .. to-1 of a column into out[0 ..], missing[] set
// where NaN; the first element refused, from - 1 if none, with its reason.
// `at` gives an element's address.
template <typename T, typename At>
py::ssize_t ReadAll(const Column& c, py::ssize_t from, py::ssize_t to, At at, std::uint64_t* out, bool* missing,
                    const bool* masked, Reason* reason) {
  for (py::ssize_t i = from; i < to; ++i) {
    const std::size_t j = static_cast<std::size_t>(i - from);
    if (masked != nullptr && masked[j]) {
      out[j] = 0;
      continue;
    }
    T x;
    if (c.swap) {
      const std::uint64_t bits = Bits(at(i), c.size, true);
      if constexpr (sizeof(T) == 4) {
        const auto b32 = static_cast<std::uint32_t>(bits);
        std::memcpy(&x, &b32, sizeof x);
      } else if constexpr (sizeof(T) == 2) {
        const auto b16 = static_cast<std::uint16_t>(bits);
        std::memcpy(&x, &b16, sizeof x);
      } else {
        std::memcpy(&x, &bits, sizeof x);
      }
    } else {
      std::memcpy(&x, at(i), sizeof x);
    }
    if (!FromValue(x, &out[j], reason, &missing[j])) return i;
  }
  return from - 1;
}

template <typename At>
py::ssize_t ReadColumn(const Column& c, py::ssize_t from, py::ssize_t to, At at, std::uint64_t* out, bool* missing,
                       const bool* masked, Reason* reason) {
  switch (c.kind) {
    case Column::kBool:
      return ReadAll<bool>(c, from, to, at, out, missing, masked, reason);
    case Column::kFloat:
      return c.size == 4 ? ReadAll<float>(c, from, to, at, out, missing, masked, reason)
                         : ReadAll<double>(c, from, to, at, out, missing, masked, reason);
    case Column::kSigned:
      switch (c.size) {
        case 1:
          return ReadAll<std::int8_t>(c, from, to, at, out, missing, masked, reason);
        case 2:
          return ReadAll<std::int16_t>(c, from, to, at, out, missing, masked, reason);
        case 4:
          return ReadAll<std::int32_t>(c, from, to, at, out, missing, masked, reason);
        default:
          return ReadAll<std::int64_t>(c, from, to, at, out, missing, masked, reason);
      }
    case Column::kUnsigned:
      break;
  }
  switch (c.size) {
    case 1:
      return ReadAll<std::uint8_t>(c, from, to, at, out, missing, masked, reason);
    case 2:
      return ReadAll<std::uint16_t>(c, from, to, at, out, missing, masked, reason);
    case 4:
      return ReadAll<std::uint32_t>(c, from, to, at, out, missing, masked, reason);
    default:
      return ReadAll<std::uint64_t>(c, from, to, at, out, missing, masked, reason);
  }
}

// The first fault found: a count (its flat index, cell and reason), or a
// total beyond 2^63 - 1 where every count is good.
struct Faults {
  py::ssize_t count_at = -1, total_at = -1;
  int cell = 0;
  Reason reason = kNegative;
  void Count(py::ssize_t i, int k, Reason r) {
    if (count_at < 0 || i < count_at) count_at = i, cell = k, reason = r;
  }
  void Total(py::ssize_t i) {
    if (total_at < 0 || i < total_at) total_at = i;
  }
};

std::string IndexText(py::ssize_t flat, const std::vector<py::ssize_t>& shape) {
  std::vector<py::ssize_t> index(shape.size());
  for (std::size_t d = shape.size(); d-- > 0;) {
    index[d] = flat % shape[d];
    flat /= shape[d];
  }
  std::string s = "(";
  for (std::size_t d = 0; d < index.size(); ++d) s += (d > 0 ? ", " : "") + std::to_string(index[d]);
  return s + (index.size() == 1 ? ",)" : ")");
}

// The members `want` asks for, by name, one array each of the counts'
// broadcast shape (flat, C order); those not asked for are absent. Elements
// where a count is NaN, or `missing` (an array of the shape, or None) is
// true, are NaN in every member. With snapshot, also "counts": the counts
// copied as uint64 by the same threads (0 where missing), and "missing"
// where any element is.
py::dict Compute(const py::array& a, const py::array& b, const py::array& c, const py::array& d,
                 const py::object& missing_mask, int alternative, unsigned want, double conf_level,
                 double null_or, int workers, bool snapshot) {
  const std::vector<py::ssize_t> shape(a.shape(), a.shape() + a.ndim());
  const py::ssize_t n = a.size();
  for (const py::array* x : {&b, &c, &d}) {
    if (x->ndim() != a.ndim() || !std::equal(shape.begin(), shape.end(), x->shape())) {
      throw py::value_error("the counts differ in shape");
    }
  }
  const Column cols[4] = {ColumnOf(a, "a"), ColumnOf(b, "b"), ColumnOf(c, "c"), ColumnOf(d, "d")};
  Column mask{};
  const bool masked = !missing_mask.is_none();
  if (masked) mask = ColumnOf(missing_mask.cast<py::array>(), "mask");

  std::vector<const ResultField*> fields;
  for (const ResultField& f : kResultFields) {
    if ((want & f.bit) != 0) fields.push_back(&f);
  }
  std::vector<py::array_t<double>> out;
  std::vector<double*> data;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    out.emplace_back(n);
    data.push_back(out.back().mutable_data());
  }
  std::vector<py::array_t<std::uint64_t>> copies;
  std::uint64_t* copy[4] = {};
  py::array_t<bool> missing_out(snapshot ? n : 0);
  bool* missing_flags = snapshot ? missing_out.mutable_data() : nullptr;
  if (snapshot) {
    for (int k = 0; k < 4; ++k) {
      copies.emplace_back(n);
      copy[k] = copies.back().mutable_data();
    }
  }

  int threads = workers < 0 ? static_cast<int>(std::thread::hardware_concurrency()) : workers;
  threads = std::max(1, std::min<int>(threads, static_cast<int>(std::min<py::ssize_t>(n, 1 << 20))));
  std::vector<Faults> faults(static_cast<std::size_t>(threads));
  std::vector<int> status(static_cast<std::size_t>(threads), 0);
  std::atomic<bool> stop{false}, total_fault{false}, any_missing{false};
  {
    py::gil_scoped_release release;
    const std::size_t dims = shape.size();
    // Reads, checks, copies and computes the elements [from, to).
    constexpr py::ssize_t kBlock = 4096;
    // Reads, checks and copies the elements [from, to) column by column,
    // then computes them.
    auto run = [&](py::ssize_t from, py::ssize_t to, int t, std::vector<std::uint64_t>& scratch,
                   std::vector<unsigned char>& flags) {
      Faults& f = faults[static_cast<std::size_t>(t)];
      const auto count = static_cast<std::size_t>(to - from);
      std::uint64_t* v[4];
      for (int k = 0; k < 4; ++k) v[k] = snapshot ? copy[k] + from : scratch.data() + k * kBlock;
      bool* missing = reinterpret_cast<bool*>(flags.data());
      bool* mask_of = missing + kBlock;  // the mask's elements, where there is one
      std::fill(missing, missing + count, false);
      for (int k = -1; k < 4; ++k) {
        if (k < 0 && !masked) continue;
        const Column& col = k < 0 ? mask : cols[k];
        Reason reason = kNegative;
        std::uint64_t* into = k < 0 ? scratch.data() + 4 * kBlock : v[k];
        py::ssize_t refused;
        if (dims == 1) {
          const py::ssize_t stride = col.strides[0];
          refused = ReadColumn(col, from, to, [&](py::ssize_t i) { return col.data + i * stride; }, into, missing,
                               k < 0 ? nullptr : (masked ? mask_of : nullptr), &reason);
        } else {
          // The multi-index of element i, found once and counted on.
          std::vector<py::ssize_t> index(dims);
          py::ssize_t rest = from, last = from;
          for (std::size_t dim = dims; dim-- > 0;) {
            index[dim] = rest % shape[dim];
            rest /= shape[dim];
          }
          refused = ReadColumn(col, from, to,
                               [&](py::ssize_t i) {
                                 for (; last < i; ++last) {
                                   for (std::size_t dim = dims; dim-- > 0;) {
                                     if (++index[dim] < shape[dim]) break;
                                     index[dim] = 0;
                                   }
                                 }
                                 py::ssize_t offset = 0;
                                 for (std::size_t dim = 0; dim < dims; ++dim) offset += index[dim] * col.strides[dim];
                                 return col.data + offset;
                               },
                               into, missing, k < 0 ? nullptr : (masked ? mask_of : nullptr), &reason);
        }
        if (k < 0) {
          for (std::size_t j = 0; j < count; ++j) mask_of[j] = into[j] != 0;
          for (std::size_t j = 0; j < count; ++j) missing[j] = mask_of[j];
          continue;
        }
        if (refused >= from) {
          f.Count(refused, k, reason);
          stop = true;
        }
      }
      if (f.count_at >= from) return;
      for (std::size_t j = 0; j < count; ++j) {
        const py::ssize_t i = from + static_cast<py::ssize_t>(j);
        if (snapshot) missing_flags[i] = missing[j];
        if (missing[j]) {
          any_missing = true;
          for (int k = 0; k < 4; ++k) v[k][j] = 0;
          for (std::size_t m = 0; m < fields.size(); ++m) data[m][i] = NAN;
          continue;
        }
        const std::uint64_t a0 = v[0][j], b0 = v[1][j], c0 = v[2][j], d0 = v[3][j];
        if (b0 > kMaxTotal - a0 || c0 > kMaxTotal - a0 - b0 || d0 > kMaxTotal - a0 - b0 - c0) {
          f.Total(i);
          total_fault = true;
        }
        if (total_fault.load(std::memory_order_relaxed)) continue;  // only counts are checked now
        fisher2x2_result r;
        const int e = fisher2x2_test_sized(a0, b0, c0, d0, alternative, want, conf_level, null_or, &r, sizeof r);
        if (e != 0) {
          status[static_cast<std::size_t>(t)] = e;
          stop = true;
          return;
        }
        for (std::size_t m = 0; m < fields.size(); ++m) data[m][i] = r.*fields[m]->member;
      }
    };
    // Blocks handed out as threads ask for them, in order: a thread slowed
    // by the machine's other load leaves the rest to the others, and once a
    // count is refused no block after it is needed to find the first.
    std::atomic<py::ssize_t> next{0};
    auto worker = [&](int t) {
      std::vector<std::uint64_t> scratch(5 * kBlock);
      std::vector<unsigned char> flags(2 * kBlock);
      for (py::ssize_t from; !stop && (from = next.fetch_add(kBlock)) < n;) {
        run(from, std::min(n, from + kBlock), t, scratch, flags);
      }
    };
    if (threads <= 1) {
      worker(0);
    } else {
      std::vector<std::thread> pool;
      for (int t = 0; t < threads; ++t) pool.emplace_back(worker, t);
      for (std::thread& th : pool) th.join();
    }
  }
  Faults first;
  for (const Faults& f : faults) {
    if (f.count_at >= 0) first.Count(f.count_at, f.cell, f.reason);
    if (f.total_at >= 0) first.Total(f.total_at);
  }
  if (first.count_at >= 0) {
    throw py::value_error(std::string("count ") + "abcd"[first.cell] + " at index " + IndexText(first.count_at, shape) +
                          " " + kReasons[first.reason]);
  }
  if (first.total_at >= 0) {
    throw py::value_error("the total at index " + IndexText(first.total_at, shape) + " is beyond 2^63 - 1");
  }
  for (int s : status) {
    if (s != 0) throw py::value_error(fisher2x2_strerror(s));
  }
  py::dict result;
  for (std::size_t k = 0; k < fields.size(); ++k) result[fields[k]->name] = out[k];
  if (snapshot) {
    py::list counts;
    for (auto& array : copies) counts.append(array);
    result["counts"] = counts;
    if (any_missing) result["missing"] = missing_out;
  }
  return result;
}

// The stratified tests: counts of shape (N, 4), C-contiguous uint64 (each
// checked below 2^63 by the caller), test t the strata starts[t] ..
// starts[t + 1] - 1. The members `want` asks for, one array of T each.
py::dict StrataCompute(const py::array_t<std::uint64_t, py::array::c_style>& counts,
                       const py::array_t<std::int64_t, py::array::c_style>& starts, int alternative, unsigned want,
                       double conf_level, int workers) {
  const py::ssize_t tests = starts.size() - 1;
  if (tests < 0) throw py::value_error("no tests");
  const std::uint64_t* data = counts.data();
  const std::int64_t* at = starts.data();
  std::vector<const ResultField*> fields;
  for (const ResultField& f : kResultFields) {
    if ((want & f.bit) != 0) fields.push_back(&f);
  }
  std::vector<py::array_t<double>> out;
  std::vector<double*> values;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    out.emplace_back(tests);
    values.push_back(out.back().mutable_data());
  }
  int threads = workers < 0 ? static_cast<int>(std::thread::hardware_concurrency()) : workers;
  threads = std::max(1, std::min<int>(threads, static_cast<int>(std::min<py::ssize_t>(tests, 1 << 20))));
  std::atomic<py::ssize_t> next{0};
  std::atomic<bool> failed{false};
  std::vector<int> codes(static_cast<std::size_t>(tests), 0);
  {
    py::gil_scoped_release release;
    auto worker = [&]() {
      for (py::ssize_t t; (t = next.fetch_add(1)) < tests;) {
        if (failed.load(std::memory_order_relaxed)) return;
        const std::int64_t from = at[t], to = at[t + 1];
        fisher2x2_result r;
        const int e = fisher2x2_strata_test(data + 4 * from, static_cast<std::size_t>(to - from), alternative,
                                            want, conf_level, &r, sizeof r);
        if (e != 0) {
          codes[static_cast<std::size_t>(t)] = e;
          failed = true;
          return;
        }
        for (std::size_t m = 0; m < fields.size(); ++m) values[m][t] = r.*fields[m]->member;
      }
    };
    if (threads <= 1) {
      worker();
    } else {
      std::vector<std::thread> pool;
      for (int t = 0; t < threads; ++t) pool.emplace_back(worker);
      for (std::thread& th : pool) th.join();
    }
  }
  for (py::ssize_t t = 0; t < tests; ++t) {
    // The first failure among the tests run (a failure stops the others).
    const int e = codes[static_cast<std::size_t>(t)];
    if (e != 0) throw py::value_error("the test at index " + std::to_string(t) + ": " + fisher2x2_strerror(e));
  }
  py::dict result;
  for (std::size_t k = 0; k < fields.size(); ++k) result[fields[k]->name] = out[k];
  return result;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "Fisher's exact test on 2x2 tables: the C library over NumPy arrays";
  m.def("compute", &Compute, py::arg("a"), py::arg("b"), py::arg("c"), py::arg("d"), py::arg("missing"),
        py::arg("alternative"), py::arg("want"), py::arg("conf_level"), py::arg("null_or"), py::arg("workers"),
        py::arg("snapshot") = false);
  m.def("strata_compute", &StrataCompute, py::arg("counts"), py::arg("starts"), py::arg("alternative"),
        py::arg("want"), py::arg("conf_level"), py::arg("workers"));
  // The result's members by name, each with the bit of `want` that fills it.
  py::list fields;
  for (const ResultField& f : kResultFields) fields.append(py::make_tuple(f.name, f.bit));
  m.attr("FIELDS") = fields;
  m.attr("TWO_SIDED") = static_cast<int>(FISHER2X2_TWO_SIDED);
  m.attr("LESS") = static_cast<int>(FISHER2X2_LESS);
  m.attr("GREATER") = static_cast<int>(FISHER2X2_GREATER);
  m.attr("version") = fisher2x2_version();
}
