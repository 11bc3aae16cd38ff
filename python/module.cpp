// fisher2x2._core: the library over NumPy arrays, the GIL released, the
// work spread over threads on request.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "api/result_fields.h"
#include "fisher2x2.h"

namespace py = pybind11;

namespace {

using Counts = py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>;

// The first index whose total exceeds 2^63 - 1, or -1.
py::ssize_t FirstBeyond(const Counts& a, const Counts& b, const Counts& c, const Counts& d) {
  const std::uint64_t *pa = a.data(), *pb = b.data(), *pc = c.data(), *pd = d.data();
  constexpr std::uint64_t kMax = INT64_MAX;
  const py::ssize_t n = a.size();
  for (py::ssize_t i = 0; i < n; ++i) {
    if (pa[i] > kMax || pb[i] > kMax - pa[i] || pc[i] > kMax - pa[i] - pb[i] ||
        pd[i] > kMax - pa[i] - pb[i] - pc[i]) {
      return i;
    }
  }
  return -1;
}

// The members `want` asks for, by name, one array each of a's shape (flat,
// C order); those not asked for are absent. With snapshot, also "counts":
// copies of a, b, c and d, made by the same threads.
py::dict Compute(const Counts& a, const Counts& b, const Counts& c, const Counts& d, int alternative,
                 unsigned want, double conf_level, int workers, bool snapshot) {
  const py::ssize_t n = a.size();
  if (b.size() != n || c.size() != n || d.size() != n) throw py::value_error("the counts differ in size");
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
  const std::uint64_t *pa = a.data(), *pb = b.data(), *pc = c.data(), *pd = d.data();
  std::vector<py::array_t<std::uint64_t>> copies;
  std::uint64_t* copy[4] = {};
  if (snapshot) {
    for (int k = 0; k < 4; ++k) {
      copies.emplace_back(n);
      copy[k] = copies.back().mutable_data();
    }
  }
  int error = 0;
  {
    py::gil_scoped_release release;
    auto run = [&](py::ssize_t from, py::ssize_t to, int* status) {
      if (snapshot) {
        const std::uint64_t* from_counts[4] = {pa, pb, pc, pd};
        for (int k = 0; k < 4; ++k) {
          std::memcpy(copy[k] + from, from_counts[k] + from, static_cast<std::size_t>(to - from) * sizeof(std::uint64_t));
        }
      }
      for (py::ssize_t i = from; i < to; ++i) {
        fisher2x2_result r;
        const int e = fisher2x2_test(pa[i], pb[i], pc[i], pd[i], alternative, want, conf_level, &r);
        if (e != 0) {
          *status = e;
          return;
        }
        for (std::size_t k = 0; k < fields.size(); ++k) data[k][i] = r.*fields[k]->member;
      }
    };
    int threads = workers < 0 ? static_cast<int>(std::thread::hardware_concurrency()) : workers;
    threads = std::max(1, std::min<int>(threads, static_cast<int>(std::min<py::ssize_t>(n, 1 << 20))));
    if (threads <= 1) {
      run(0, n, &error);
    } else {
      // Blocks handed out as threads ask for them: a thread slowed by the
      // machine's other load leaves the rest to the others.
      constexpr py::ssize_t kBlock = 4096;
      std::atomic<py::ssize_t> next{0};
      std::vector<std::thread> pool;
      std::vector<int> status(static_cast<std::size_t>(threads), 0);
      for (int t = 0; t < threads; ++t) {
        int* const s = &status[static_cast<std::size_t>(t)];
        pool.emplace_back([&, s] {
          for (py::ssize_t from; *s == 0 && (from = next.fetch_add(kBlock)) < n;) {
            run(from, std::min(n, from + kBlock), s);
          }
        });
      }
      for (std::thread& th : pool) th.join();
      for (int s : status) error = error != 0 ? error : s;
    }
  }
  if (error != 0) throw py::value_error(fisher2x2_strerror(error));
  py::dict result;
  for (std::size_t k = 0; k < fields.size(); ++k) result[fields[k]->name] = out[k];
  if (snapshot) {
    py::list counts;
    for (auto& array : copies) counts.append(array);
    result["counts"] = counts;
  }
  return result;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "Fisher's exact test on 2x2 tables: the C library over NumPy arrays";
  m.def("first_beyond", &FirstBeyond, "The first index whose total exceeds 2^63 - 1, or -1.");
  m.def("compute", &Compute, py::arg("a"), py::arg("b"), py::arg("c"), py::arg("d"), py::arg("alternative"),
        py::arg("want"), py::arg("conf_level"), py::arg("workers"), py::arg("snapshot") = false);
  // The result's members by name, each with the bit of `want` that fills it.
  py::list fields;
  for (const ResultField& f : kResultFields) fields.append(py::make_tuple(f.name, f.bit));
  m.attr("FIELDS") = fields;
  m.attr("TWO_SIDED") = static_cast<int>(FISHER2X2_TWO_SIDED);
  m.attr("LESS") = static_cast<int>(FISHER2X2_LESS);
  m.attr("GREATER") = static_cast<int>(FISHER2X2_GREATER);
  m.attr("version") = fisher2x2_version();
}
