#include "driver/summary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/statistics.h"
#include "numeric/error_facility.h"
#include "pelko/error.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

// One replication's final selection: majority and minority applicants hired.
struct Hired {
  int nmaj;
  int nmin;
};

float rate(int count, int group) {
  return static_cast<float>(static_cast<double>(count) / static_cast<double>(group));
}

struct Written {
  std::string out;
  std::string err;
  bool detailed = false;             // what write_summary returned
  std::vector<std::string> refusal;  // the sort's lines when no AI is defined
};

struct Fixture {
  Problem problem;
  std::unique_ptr<engine::ReplicationStore> store;

  // A store for `nrep` replications of the problem's stages.
  void start(int nrep) {
    problem.replications = nrep;
    store = std::make_unique<engine::ReplicationStore>(nrep, problem.stages());
  }
  // Stores replications as the loop would, rates formed as the selection forms them.
  void add(int r, float ai, bool defined, float sra, float sri) {
    store->ai[r] = ai;
    store->ai_defined[r] = defined ? 1 : 0;
    store->sra[r] = sra;
    store->sri[r] = sri;
    store->sum_defined += defined ? 1.0f : 0.0f;
    store->sum_ai += ai;
    store->sum_sra += sra;
    store->sum_sri += sri;
  }
  void hire(const std::vector<Hired>& replications) {
    const int minority = problem.applicants - problem.majority_applicants;
    start(static_cast<int>(replications.size()));
    for (int r = 0; r < problem.replications; ++r) {
      const float sra = rate(replications[r].nmaj, problem.majority_applicants);
      const float sri = rate(replications[r].nmin, minority);
      const bool defined = replications[r].nmaj != 0;
      add(r, defined ? sri / sra : 0.0f, defined, sra, sri);
    }
  }

  // The summary as a simulation forms it from the store, then written.
  Written run() {
    Written w;
    SimulationResult result;
    result.problem = problem;
    result.summary = core::expected_values(problem.retained.back(), problem.applicants,
                                           problem.replications, *store);
    numeric::ErrorFacility errors(ErrorKind::no_defined_ai);
    try {
      result.summary.detailed = core::detailed_statistics(problem.replications, *store, errors);
    } catch (const Error& refusal) {
      EXPECT_EQ(refusal.kind(), ErrorKind::no_defined_ai);
      EXPECT_EQ(refusal.exit_status(), kExitStopped);
      w.refusal = refusal.diagnostic_lines();
    }
    std::ostringstream out;
    std::ostringstream err;
    recordio::Console console(out, err);
    w.detailed = write_summary(result, console);
    w.out = out.str();
    w.err = err.str();
    return w;
  }
};

Fixture pool(int nsub, int nsub1, std::vector<std::int32_t> nma) {
  Fixture f;
  f.problem.applicants = nsub;
  f.problem.majority_applicants = nsub1;
  f.problem.retained = std::move(nma);
  return f;
}

using testing_support::lines_of;

const std::string kLegend =
    "\n"
    "     Value: value of the AI ratio; Undef means that\n"
    "            the value is not defined\n"
    "     Freq: Proportion of replications that resulted in the\n"
    "           corresponding AI ratio value\n"
    "     Cfreq: Cumulative proportion\n"
    "     Number: Number of replications that resulted in the\n"
    "             corresponding AI ratio value\n";

TEST(Summary, SomeUndefinedWithAZeroRowWhole) {
  Fixture f = pool(20, 10, {8, 4});
  f.hire({{2, 2}, {4, 0}, {0, 4}, {1, 3}, {2, 2}, {3, 1}, {2, 2}, {0, 4}, {3, 1}, {1, 3}});
  const Written s = f.run();
  EXPECT_TRUE(s.detailed);
  EXPECT_TRUE(s.refusal.empty());
  EXPECT_EQ(s.err, "");
  const std::string expected =
      "\n"
      "                             SR     AI    SRA    SRI\n"
      "       Expected Value     0.200  1.208  0.180  0.220\n"
      "               SR: hiring rate total applicant group\n"
      "               SRA: hiring rate majority applicant group\n"
      "               SRI: hiring rate minority applicant group\n"
      "\n"
      "Detailed Results: Number selected at the stages      8     4\n"
      "\n"
      "  AI:  Mean and 50--25--75th perc  1.208  1.000  0.333  1.000\n"
      "\n"
      "  Frequency and Cumulative frequency function of AI statistic\n"
      "\n"
      "                  Value    Freq   Cfreq   Number\n"
      "                  Undef   0.200                2\n"
      "              1   0.000   0.125   0.125        1\n"
      "              2   0.333   0.250   0.375        2\n"
      "              3   1.000   0.375   0.750        3\n"
      "              4   3.000   0.250   1.000        2\n" +
      kLegend +
      "\n"
      "  SRA: Mean and 50--25--75th perc  0.180  0.200  0.000  0.200\n"
      "  SRI: Mean and 50--25--75th perc  0.220  0.200  0.100  0.300\n";
  EXPECT_EQ(s.out, expected);
}

TEST(Summary, EverybodySelected) {
  Fixture f = pool(30, 20, {30, 30, 30});
  f.hire(std::vector<Hired>(12, Hired{20, 10}));
  const auto lines = lines_of(f.run().out);
  ASSERT_EQ(lines.size(), 27u);
  EXPECT_EQ(lines[2], "       Expected Value     1.000  1.000  1.000  1.000");
  EXPECT_EQ(lines[7], "Detailed Results: Number selected at the stages     30    30    30");
  EXPECT_EQ(lines[9], "  AI:  Mean and 50--25--75th perc  1.000  1.000  1.000  1.000");
  EXPECT_EQ(lines[14], "                  Undef   0.000                0");
  EXPECT_EQ(lines[15], "              1   1.000   1.000   1.000       12");
  EXPECT_EQ(lines[25], "  SRA: Mean and 50--25--75th perc  1.000  1.000  1.000  1.000");
  EXPECT_EQ(lines[26], "  SRI: Mean and 50--25--75th perc  1.000  1.000  1.000  1.000");
}

TEST(Summary, ValuesThatPrintAlikeStaySeparateRows) {
  Fixture f = pool(4, 2, {2});
  const float one = 1.0f;
  const float above = std::nextafter(1.0f, 2.0f);
  f.start(10);
  for (int r = 0; r < 10; ++r) f.add(r, r % 3 == 0 ? above : one, true, 0.5f, 0.5f);
  const auto lines = lines_of(f.run().out);
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[14], "                  Undef   0.000                0");
  EXPECT_EQ(lines[15], "              1   1.000   0.600   0.600        6");
  EXPECT_EQ(lines[16], "              2   1.000   0.400   1.000        4");
}

TEST(Summary, FewDefinedValuesTakeTheSmallestForPositionsBelowOne) {
  struct Case {
    std::vector<float> defined;  // stored in this order among undefined replications
    const char* ai_line;
  };
  const Case cases[] = {
      {{0.5f}, "  AI:  Mean and 50--25--75th perc  0.500  0.500  0.500  0.500"},
      {{2.0f, 0.5f}, "  AI:  Mean and 50--25--75th perc  1.250  0.500  0.500  0.500"},
      {{2.0f, 1.0f, 0.5f}, "  AI:  Mean and 50--25--75th perc  1.167  0.500  0.500  1.000"},
      {{2.0f, 1.0f, 0.5f, 4.0f}, "  AI:  Mean and 50--25--75th perc  1.875  1.000  0.500  2.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ai_line);
    Fixture f = pool(4, 2, {2});
    f.start(10);
    for (int r = 0; r < 10; ++r) {
      const bool defined = r % 2 == 1 && r / 2 < static_cast<int>(c.defined.size());
      f.add(r, defined ? c.defined[r / 2] : 0.0f, defined, defined ? 0.5f : 0.0f, 0.5f);
    }
    const auto lines = lines_of(f.run().out);
    ASSERT_GT(lines.size(), 9u);
    EXPECT_EQ(lines[9], c.ai_line);
    const int undefined = 10 - static_cast<int>(c.defined.size());
    EXPECT_EQ(lines[14], "                  Undef   0." + std::to_string(undefined) + "00" +
                             std::string(16, ' ') + std::to_string(undefined));
  }
}

TEST(Summary, NoDefinedAiStopsAfterTheExpectedValues) {
  Fixture f = pool(10, 5, {2});
  f.hire(std::vector<Hired>(10, Hired{0, 2}));
  const Written s = f.run();
  EXPECT_FALSE(s.detailed);
  EXPECT_EQ(s.out,
            "\n"
            "                             SR     AI    SRA    SRI\n"
            "       Expected Value     0.200  0.000  0.000  0.400\n"
            "               SR: hiring rate total applicant group\n"
            "               SRA: hiring rate majority applicant group\n"
            "               SRI: hiring rate minority applicant group\n");
  EXPECT_EQ(s.err, "");
  std::string refusal;
  for (const std::string& line : s.refusal) refusal += line + "\n";
  EXPECT_EQ(refusal, testing_support::kSortReport);
}

}  // namespace
}  // namespace pelko::driver
