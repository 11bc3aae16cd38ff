// The library from several threads at once, from a cold start: the tables
// grow while other threads read them, the long exact comparisons share
// their scratch, the stratified test allocates its own. Every result must equal, bit for bit, what one thread
// computes afterwards. Run under ThreadSanitizer in CI (the thread preset).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "fisher2x2.h"

namespace {

struct Case {
  std::uint64_t a, b, c, d;
  int alternative;
};

struct Answer {
  fisher2x2_result r;
  double classic;
  fisher2x2_result strata;  // the table's counts, reduced, as two strata with its mirror image
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  std::mt19937_64 rng(3);
  // Totals rising to 50000, so that every thread grows the tables; balanced
  // tables, whose mirror ties and near ties go to the exact comparison;
  // and totals beyond 50000.
  for (int i = 0; i < 400; ++i) {
    const std::uint64_t n = 125 * static_cast<std::uint64_t>(i + 1);
    const std::uint64_t a = rng() % (n / 4 + 1);
    cases.push_back({a, n / 2 - a, n / 2 - a, n - n / 2 - (n / 2 - a), static_cast<int>(i % 5)});
    const std::uint64_t big = (std::uint64_t{1} << (20 + i % 40)) + rng() % 1000;
    const std::uint64_t r1 = big / 3, c1 = big / 5 + rng() % 100, x = c1 / 3;
    cases.push_back({x, r1 - x, c1 - x, big - r1 - c1 + x, static_cast<int>((i + 2) % 5)});
  }
  return cases;
}

Answer Compute(const Case& c) {
  Answer answer;
  std::memset(&answer, 0, sizeof answer);
  const unsigned want = c.alternative >= FISHER2X2_OBSERVED_SIDE ? FISHER2X2_ALL & ~FISHER2X2_MID_PVALUE
                                                                  : FISHER2X2_ALL;
  EXPECT_EQ(fisher2x2_test(c.a, c.b, c.c, c.d, c.alternative, want, 0.95, &answer.r), 0);
  const std::uint64_t s[8] = {c.a % 40, c.b % 40, c.c % 40, c.d % 40, c.b % 40, c.a % 40, c.d % 40, c.c % 40};
  EXPECT_EQ(fisher2x2_strata_test(s, 2, c.alternative % 3, FISHER2X2_ALL, 0.95, &answer.strata, sizeof answer.strata), 0);
  const std::uint64_t n = c.a + c.b + c.c + c.d;
  answer.classic = n <= 50000 ? fisher2x2_classic(static_cast<int>(c.a), static_cast<int>(c.b),
                                                  static_cast<int>(c.c), static_cast<int>(c.d), c.alternative % 2)
                              : 0;
  return answer;
}

TEST(LibraryThreads, FourThreadsAsOne) {
  const std::vector<Case> cases = Cases();
  constexpr int kThreads = 4;
  std::vector<std::vector<Answer>> answers(kThreads, std::vector<Answer>(cases.size()));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread its own order: some start from the largest tables.
      for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::size_t k = t % 2 == 0 ? i : cases.size() - 1 - i;
        answers[static_cast<std::size_t>(t)][k] = Compute(cases[k]);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Answer one = Compute(cases[k]);
    for (int t = 0; t < kThreads; ++t) {
      ASSERT_EQ(std::memcmp(&answers[static_cast<std::size_t>(t)][k], &one, sizeof one), 0)
          << "thread " << t << " case " << k;
    }
  }
}

}  // namespace
