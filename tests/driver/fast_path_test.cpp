// The fast replication loop against the plain one: the kernels value by value, and the
// complete report (status, out and err) over many problems, both with the drawing on a thread
// of its own and alternating on the calling thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/pipeline.h"
#include "driver/run.h"
#include "random/multinormal.h"
#include "recordio/clock.h"
#include "tests/driver/run_support.h"

namespace pelko::driver {
namespace {

using testing_support::read_file;
using Outcome = testing_support::RunOutcome;

RunOptions plain_options() {
  RunOptions options;
  options.plain = true;
  return options;
}

RunOptions threaded_options() {
  RunOptions options;
  options.min_threaded_deviates = 0;
  return options;
}

RunOptions alternating_options() {
  RunOptions options;
  options.min_threaded_deviates = INT64_MAX;
  return options;
}

Outcome run_with(const std::string& problem, const RunOptions& options,
                 std::int64_t epoch = testing_support::kEpoch) {
  return testing_support::run_problem(problem, options, epoch);
}

void expect_same_report(const std::string& problem, const std::vector<RunOptions>& variants,
                        std::int64_t epoch = testing_support::kEpoch) {
  const Outcome plain = run_with(problem, plain_options(), epoch);
  for (const RunOptions& options : variants) {
    SCOPED_TRACE(options.min_threaded_deviates == 0 ? "threaded" : "on the calling thread");
    const Outcome other = run_with(problem, options, epoch);
    EXPECT_EQ(other.status, plain.status);
    EXPECT_EQ(other.out, plain.out);
    EXPECT_EQ(other.err, plain.err);
  }
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// --- kernels ---------------------------------------------------------------------------

// A block from setgmn on an equicorrelated matrix with correlation rho.
ParamBlock param_block(int p, float rho, float mean_step, recordio::Console& console) {
  float covm[kMaxPredictors * kMaxPredictors] = {};
  float mean[kMaxPredictors] = {};
  for (int j = 0; j < p; ++j) {
    mean[j] = mean_step * static_cast<float>(j + 1);
    for (int i = 0; i < p; ++i) covm[i + j * kMaxPredictors] = i == j ? 1.0f : rho;
  }
  ParamBlock param{};
  random::setgmn(kMaxPredictors, mean, covm, p, param.data(), console);
  return param;
}

TEST(FastPathKernels, DeviatesComeInGenmnOrder) {
  std::ostringstream out, err;
  recordio::Console console(out, err);
  for (const int p : {1, 3, 10}) {
    Problem problem;
    problem.nsub = 157;
    problem.npred = p;
    random::Generator reference(console);
    reference.setall(12345, 67890);
    random::Generator drawing = reference;
    random::Generator piped = reference;
    const auto buffers = std::make_unique<PipelineBuffers>();
    const auto through_pipe = std::make_unique<PipelineBuffers>();
    draw_replication(problem, drawing, buffers->deviates.data());
    {
      HelperThread pipe(piped, through_pipe->uniforms, [](int) {});
      draw_replication(problem, pipe, through_pipe->deviates.data());
    }
    const ParamBlock param = param_block(p, 0.0f, 0.0f, console);
    float dev[kMaxPredictors], zwork[kMaxPredictors];
    for (int i = 0; i < problem.nsub; ++i) {
      random::genmn(param.data(), dev, zwork, reference);
      for (int j = 0; j < p; ++j) {
        ASSERT_TRUE(same_bits(buffers->deviates[j * kMaxApplicants + i], zwork[j]))
            << "p " << p << " applicant " << i << " deviate " << j;
        ASSERT_TRUE(same_bits(through_pipe->deviates[j * kMaxApplicants + i], zwork[j]))
            << "through the pipe: p " << p << " applicant " << i << " deviate " << j;
      }
    }
    // Both generators have consumed the same uniforms.
    EXPECT_EQ(drawing.ignlgi(), reference.ignlgi());
  }
}

// Composites of the block kernel equal genmn's scores summed as the plain loop sums them,
// for group bounds that cut blocks anywhere and weights of every sign, zero included.
TEST(FastPathKernels, CompositesMatchTheScalarLoopBitForBit) {
  std::ostringstream out, err;
  recordio::Console console(out, err);
  std::mt19937 random_source(20261207);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  const auto buffers = std::make_unique<PipelineBuffers>();
  const auto table = std::make_unique<selection::CompositeTable>();
  struct Case {
    int nf, npred, first, last;
    float rho, mean_step;
  };
  const Case cases[] = {{1, 1, 0, 1, 0.0f, 0.0f},      {4, 10, 0, 10000, 0.3f, -0.2f},
                        {2, 3, 63, 130, 0.5f, 1.5f},   {3, 7, 9999, 10000, -0.1f, 0.25f},
                        {4, 5, 1, 65, 0.9f, -3.0f},    {1, 10, 640, 703, 0.0f, 1e-3f},
                        {2, 2, 5000, 5129, 0.7f, 7.0f}};
  for (const Case& c : cases) {
    Problem problem;
    problem.nf = c.nf;
    problem.npred = c.npred;
    for (int k = 0; k < c.nf; ++k) {
      for (int j = 0; j < c.npred; ++j) {
        const int pick = static_cast<int>(random_source() % 4);
        problem.wgt[k][j] = pick == 0   ? 0.0f
                            : pick == 1 ? -normal(random_source)
                                        : normal(random_source);
      }
    }
    const ParamBlock param = param_block(c.npred, c.rho, c.mean_step, console);
    for (int i = c.first; i < c.last; ++i) {
      for (int j = 0; j < c.npred; ++j) {
        // Scaled deviates exercise large and tiny magnitudes; an exact zero and -0.0 as well.
        float z = normal(random_source) * (i % 3 == 0 ? 1e4f : i % 3 == 1 ? 1e-4f : 1.0f);
        if (i % 17 == 0) z = j % 2 == 0 ? 0.0f : -0.0f;
        buffers->deviates[j * kMaxApplicants + i] = z;
      }
    }
    form_composites(problem, param, buffers->deviates.data(), c.first, c.last, *table);
    float zwork[kMaxPredictors], dev[kMaxPredictors];
    for (int i = c.first; i < c.last; ++i) {
      for (int j = 0; j < c.npred; ++j) zwork[j] = buffers->deviates[j * kMaxApplicants + i];
      random::genmn_scores(param.data(), zwork, dev);
      for (int k = 0; k < c.nf; ++k) {
        float sum = 0.0f;
        for (int j = 0; j < c.npred; ++j) {
          sum =
              static_cast<float>(static_cast<double>(sum) + static_cast<double>(problem.wgt[k][j]) *
                                                                static_cast<double>(dev[j]));
        }
        ASSERT_TRUE(same_bits(table->xspp[k][i], sum))
            << "nf " << c.nf << " npred " << c.npred << " stage " << k << " applicant " << i;
      }
      ASSERT_TRUE(same_bits(table->xspc[i], table->xspp[c.nf - 1][i]));
    }
  }
}

// --- hand-over between the threads --------------------------------------------------------

// Reading wraps the ring several times, with jobs posted in between: every uniform equals
// the generator's own, and every job runs once, in order, on the helper, its writes visible
// after wait.
TEST(FastPathHandOver, UniformsInOrderAndJobsBetweenThem) {
  std::ostringstream out, err;
  recordio::Console console(out, err);
  random::Generator reference(console);
  reference.setall(4711, 815);
  random::Generator drawing = reference;
  std::vector<float> ring(kUniformChunks * kUniformChunk);
  std::vector<int> jobs_run;
  std::thread::id job_thread;
  HelperThread helper(drawing, ring, [&](int argument) {
    job_thread = std::this_thread::get_id();
    jobs_run.push_back(argument);
  });
  const std::size_t count = 3 * kUniformChunks * kUniformChunk + 17;
  int posted = 0;
  for (std::size_t n = 0; n < count; ++n) {
    if (n % 1000 == 0) helper.post(posted++);
    const float expected = reference.ranf();
    ASSERT_TRUE(same_bits(helper.ranf(), expected)) << "uniform " << n;
    if (n % 1000 == 999) {
      helper.wait();
      ASSERT_EQ(jobs_run.size(), static_cast<std::size_t>(posted));
      ASSERT_EQ(jobs_run.back(), posted - 1);
    }
  }
  EXPECT_NE(job_thread, std::this_thread::get_id());
}

// The helper must stop whether it was never read, read part way, left with a job posted, or
// left by an exception while its thread waits on a full ring.
TEST(FastPathHandOver, HelperStopsOnEveryWayOut) {
  std::ostringstream out, err;
  recordio::Console console(out, err);
  random::Generator generator(console);
  generator.setall(1, 2);
  std::vector<float> ring(kUniformChunks * kUniformChunk);
  const HelperThread::Job idle = [](int) {};
  { HelperThread unread(generator, ring, idle); }
  {
    HelperThread partly(generator, ring, idle);
    for (int n = 0; n < 5000; ++n) partly.ranf();
  }
  {
    HelperThread posted(generator, ring,
                        [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
    posted.post(1);
  }
  EXPECT_THROW(
      {
        HelperThread helper(generator, ring, idle);
        helper.ranf();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the ring fill
        throw std::runtime_error("stopped in the selection");
      },
      std::runtime_error);
}

// --- whole reports ---------------------------------------------------------------------

std::vector<std::filesystem::path> problem_files() {
  std::vector<std::filesystem::path> files;
  for (const char* folder : {"/examples", "/tests/driver/cases"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(PELKO_SOURCE_DIR + std::string(folder))) {
      if (entry.path().extension() == ".txt") files.push_back(entry.path());
    }
  }
  return files;
}

TEST(FastPathReports, EveryShippedProblemOnEveryFastVariant) {
  const std::vector<std::filesystem::path> files = problem_files();
  ASSERT_GE(files.size(), 10u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const std::string problem = read_file(file.string());
    expect_same_report(problem, {threaded_options(), RunOptions{}});
  }
}

// A random valid problem; `feature` picks what it stresses.
std::string random_problem(std::mt19937& source, int feature) {
  auto uniform_int = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(source);
  };
  auto uniform_real = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(source);
  };
  const int nrep = uniform_int(10, 30);
  const int nsub = uniform_int(2, 2000);
  const int nsub1 = uniform_int(1, nsub - 1);
  const int nf = uniform_int(1, 4);
  const int npred = uniform_int(1, 10);
  std::vector<int> nma(nf);
  nma[0] = uniform_int(1, nsub);
  for (int k = 1; k < nf; ++k) nma[k] = uniform_int(1, nma[k - 1]);
  if (feature == 1) std::fill(nma.begin(), nma.end(), nma[0]);  // equal retained counts
  if (feature == 2) std::fill(nma.begin(), nma.end(), nsub);    // everybody selected
  if (feature == 3) nma.back() = 1;                             // AI often undefined
  std::ostringstream text;
  text << nrep << ' ' << nsub << ' ' << nsub1 << ' ' << nf << ' ' << npred << '\n';
  for (int k = 0; k < nf; ++k) text << nma[k] << ' ';
  text << '\n';
  for (int j = 0; j < npred; ++j) text << (feature == 3 ? 2.5 : uniform_real(-1.0, 1.0)) << ' ';
  text << '\n';
  // Equicorrelated, positive definite for rho in (-1/(npred-1), 1).
  const double rho = npred == 1 ? 0.0 : uniform_real(-0.5 / npred, 0.8);
  for (int i = 0; i < npred; ++i) {
    for (int j = 0; j < npred; ++j) text << (i == j ? 1.0 : rho) << ' ';
    text << '\n';
  }
  for (int k = 0; k < nf; ++k) {
    for (int j = 0; j < npred; ++j) {
      // Zero weights on every predictor of some stages make every composite tie.
      const bool zero =
          feature == 4 ? (k % 2 == 0 || uniform_int(0, 1) == 0) : uniform_int(0, 5) == 0;
      text << (zero ? 0.0 : uniform_real(-1.0, 2.0)) << ' ';
    }
    text << '\n';
  }
  return text.str();
}

TEST(FastPathReports, RandomProblems) {
  std::mt19937 source(424242);
  for (int n = 0; n < 50; ++n) {
    const std::string problem = random_problem(source, n % 5);
    const std::int64_t epoch = 1796630709 + 7919 * n;
    SCOPED_TRACE("problem " + std::to_string(n) + ":\n" + problem);
    expect_same_report(problem, {n % 2 == 0 ? threaded_options() : alternating_options()}, epoch);
  }
}

TEST(FastPathReports, EveryEnding) {
  const std::string valid = "20 300 200 2 2\n60 15\n-0.5 0.2\n1 0.4\n0.4 1\n1 1\n1 0\n";
  struct Case {
    const char* name;
    std::string problem;
    std::int64_t epoch;
  };
  const Case cases[] = {
      {"seed1 and seed2 zero", valid, 1800000000},
      {"seed2 zero", valid, 1796630000},
      {"not positive definite", "20 300 200 2 2\n60 15\n-0.5 0.2\n1 1\n1 1\n1 1\n1 0\n",
       1796630709},
      {"single stage retaining nobody", "20 300 200 1 2\n0\n-0.5 0.2\n1 0.4\n0.4 1\n1 1\n",
       1796630709},
      {"input error", "20 300 200 2 2\n60 90\n", 1796630709},
      {"end of input", "20 300 200 2 2\n60 15\n-0.5 0.2\n", 1796630709},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_same_report(c.problem, {threaded_options(), RunOptions{}}, c.epoch);
  }
}

TEST(FastPathReports, DefaultRunIsTheFastPathAndAgrees) {
  const std::string problem =
      "12 2500 2000 3 4\n800 300 100\n0 -0.3 0.2 -1\n"
      "1 .2 .2 .2\n.2 1 .2 .2\n.2 .2 1 .2\n.2 .2 .2 1\n"
      "1 1 0 0\n1 1 1 0\n0 0 1 1\n";
  const recordio::FixedClock clock(1796630709, recordio::BrokenDownTime{2026, 12, 7, 8, 5, 9, 0});
  std::istringstream in(problem);
  std::ostringstream out, err;
  const int status = run(in, out, err, clock);
  const Outcome plain = run_with(problem, plain_options());
  EXPECT_EQ(status, plain.status);
  EXPECT_EQ(out.str(), plain.out);
  EXPECT_EQ(err.str(), plain.err);
}

}  // namespace
}  // namespace pelko::driver
