// pelko._core: the library's problems and simulations for the pure-Python package pelko.
// Problems cross as plain Python objects (attributes in, dicts out); results stay C++ values
// whose outcomes are handed out as numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <thread>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "pelko/pelko.h"

namespace py = pybind11;

namespace {

// How often a running simulation takes the GIL to look for Ctrl-C and tell progress.
constexpr std::chrono::milliseconds kCheckInterval{100};

// A whole number beyond 32 bits is beyond every capacity: it is taken as the nearest 32-bit
// value, which the rules refuse with the program's message as they refuse any too large.
std::int32_t whole(const py::handle& value) {
  const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
  if (!number) throw py::error_already_set();
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow != 0) return overflow > 0 ? INT32_MAX : INT32_MIN;
  return static_cast<std::int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

// A problem's attributes, each named when it is not what it should be (an attribute set by
// hand, say).
template <typename T, typename Convert>
T member(const py::handle& object, const char* name, const char* what, Convert convert) {
  try {
    return convert(object.attr(name));
  } catch (py::error_already_set&) {
    throw py::type_error(std::string("Problem.") + name + " must be " + what);
  } catch (py::cast_error&) {
    throw py::type_error(std::string("Problem.") + name + " must be " + what);
  }
}

pelko::Problem problem_from(const py::handle& object) {
  const auto one = [](const py::handle& v) { return whole(v); };
  const auto list = [](const py::handle& v) {
    std::vector<std::int32_t> values;
    for (const py::handle item : py::iter(v)) values.push_back(whole(item));
    return values;
  };
  // Python floats are rounded to single precision here, as the program stores what it reads.
  const auto reals = [](const py::handle& v) { return v.cast<std::vector<float>>(); };
  const auto rows = [](const py::handle& v) { return v.cast<std::vector<std::vector<float>>>(); };
  const char* kWhole = "a whole number";
  const char* kWholes = "a list of whole numbers";
  pelko::Problem problem;
  problem.replications = member<std::int32_t>(object, "replications", kWhole, one);
  problem.applicants = member<std::int32_t>(object, "applicants", kWhole, one);
  problem.majority_applicants = member<std::int32_t>(object, "majority_applicants", kWhole, one);
  problem.retained = member<std::vector<std::int32_t>>(object, "retained", kWholes, list);
  problem.effect_sizes =
      member<std::vector<float>>(object, "effect_sizes", "a list of numbers", reals);
  problem.correlations = member<std::vector<std::vector<float>>>(
      object, "correlations", "a list of rows of numbers", rows);
  problem.weights = member<std::vector<std::vector<float>>>(object, "weights",
                                                            "a list of rows of numbers", rows);
  // The criterion is optional: a problem object without it has none.
  if (py::hasattr(object, "validities") && !object.attr("validities").is_none()) {
    problem.validities =
        member<std::vector<float>>(object, "validities", "a list of numbers or None", reals);
  }
  if (py::hasattr(object, "criterion_effect_size") &&
      !object.attr("criterion_effect_size").is_none()) {
    problem.criterion_effect_size = member<float>(
        object, "criterion_effect_size", "a number or None",
        [](const py::handle& v) { return v.cast<float>(); });
  }
  return problem;
}

py::dict problem_dict(const pelko::Problem& problem) {
  py::dict d;
  d["replications"] = problem.replications;
  d["applicants"] = problem.applicants;
  d["majority_applicants"] = problem.majority_applicants;
  d["retained"] = problem.retained;
  d["effect_sizes"] = problem.effect_sizes;
  d["correlations"] = problem.correlations;
  d["weights"] = problem.weights;
  d["validities"] = problem.validities;
  d["criterion_effect_size"] = problem.criterion_effect_size;
  return d;
}

py::dict diagnostic_dict(const pelko::Diagnostic& diagnostic) {
  py::dict d;
  d["severity"] = diagnostic.severity == pelko::Severity::error ? "error" : "warning";
  d["kind"] = pelko::to_string(diagnostic.kind);
  d["field"] = diagnostic.field;
  d["index"] = diagnostic.index;
  d["second_index"] = diagnostic.second_index;
  d["line"] = diagnostic.line;
  d["column"] = diagnostic.column;
  d["lines"] = diagnostic.lines;
  return d;
}

py::list diagnostic_list(const std::vector<pelko::Diagnostic>& diagnostics) {
  py::list list;
  for (const pelko::Diagnostic& d : diagnostics) list.append(diagnostic_dict(d));
  return list;
}

py::tuple parse(const py::bytes& text) {
  const pelko::ParsedProblem parsed = pelko::parse_problem(std::string(text));
  py::object problem = py::none();
  if (parsed.problem) problem = problem_dict(*parsed.problem);
  return py::make_tuple(problem, diagnostic_list(parsed.diagnostics));
}

template <typename T>
py::array_t<T> array_of(const std::vector<T>& values) {
  return py::array_t<T>(static_cast<py::ssize_t>(values.size()), values.data());
}

// [stage][replication] as a two-dimensional array.
py::array_t<std::int32_t> table_of(const std::vector<std::vector<std::int32_t>>& rows,
                                   std::size_t columns) {
  py::array_t<std::int32_t> table(
      {static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(columns)});
  auto cells = table.mutable_unchecked<2>();
  for (std::size_t k = 0; k < rows.size(); ++k) {
    for (std::size_t r = 0; r < columns; ++r) {
      cells(static_cast<py::ssize_t>(k), static_cast<py::ssize_t>(r)) = rows[k][r];
    }
  }
  return table;
}

py::array_t<float> float_table_of(const std::vector<std::vector<float>>& rows,
                                  std::size_t columns) {
  py::array_t<float> table(
      {static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(columns)});
  auto cells = table.mutable_unchecked<2>();
  for (std::size_t k = 0; k < rows.size(); ++k) {
    for (std::size_t r = 0; r < columns; ++r) {
      cells(static_cast<py::ssize_t>(k), static_cast<py::ssize_t>(r)) = rows[k][r];
    }
  }
  return table;
}

py::dict quality_distribution_dict(const pelko::QualityDistribution& q) {
  py::dict d;
  d["mean"] = q.mean;
  d["sd"] = q.sd;
  d["standard_error"] = q.standard_error;
  d["p50"] = q.percentiles.p50;
  d["p25"] = q.percentiles.p25;
  d["p75"] = q.percentiles.p75;
  d["count"] = q.count;
  return d;
}

py::object quality_summary_dict(const pelko::SimulationResult& r) {
  if (!r.quality_summary) return py::none();
  const pelko::QualitySummary& q = *r.quality_summary;
  py::dict d;
  d["criterion_effect_size"] = q.criterion_effect_size;
  d["composite_validities"] = q.composite_validities;
  d["overall"] = quality_distribution_dict(q.overall);
  d["majority"] = quality_distribution_dict(q.majority);
  d["minority"] = quality_distribution_dict(q.minority);
  return d;
}

py::dict distribution_dict(const pelko::Distribution& distribution) {
  py::dict d;
  d["mean"] = distribution.mean;
  d["p50"] = distribution.percentiles.p50;
  d["p25"] = distribution.percentiles.p25;
  d["p75"] = distribution.percentiles.p75;
  return d;
}

py::dict summary_dict(const pelko::Summary& summary) {
  py::dict d;
  d["sr"] = summary.sr;
  d["expected_ai"] = summary.expected_ai;
  d["expected_sra"] = summary.expected_sra;
  d["expected_sri"] = summary.expected_sri;
  d["defined"] = summary.defined;
  d["undefined"] = summary.undefined;
  d["undefined_freq"] = summary.undefined_freq;
  return d;
}

py::object detailed_dict(const pelko::Summary& summary) {
  if (!summary.detailed) return py::none();
  const pelko::DetailedSummary& detailed = *summary.detailed;
  py::dict d;
  d["ai"] = distribution_dict(detailed.ai);
  d["sra"] = distribution_dict(detailed.sra);
  d["sri"] = distribution_dict(detailed.sri);
  std::vector<float> value, freq, cfreq;
  std::vector<std::int32_t> count;
  for (const pelko::FrequencyRow& row : detailed.rows) {
    value.push_back(row.value);
    count.push_back(row.count);
    freq.push_back(row.freq);
    cfreq.push_back(row.cfreq);
  }
  py::dict rows;
  rows["value"] = array_of(value);
  rows["count"] = array_of(count);
  rows["freq"] = array_of(freq);
  rows["cfreq"] = array_of(cfreq);
  d["rows"] = rows;
  return d;
}

py::list stage_list(const std::vector<pelko::StageSummary>& stages) {
  py::list list;
  for (const pelko::StageSummary& stage : stages) {
    py::dict d;
    d["majority_rate"] = stage.majority_rate;
    d["minority_rate"] = stage.minority_rate;
    d["ai"] = stage.ai;
    d["ai_defined"] = stage.ai_defined;
    list.append(d);
  }
  return list;
}

py::tuple proportion_tuple(const pelko::Proportion& p) {
  return py::make_tuple(p.count, p.total, p.share, p.lower, p.upper);
}

bool python_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// Once the interpreter is finalizing (it exits while this thread runs the engine), taking the
// GIL would end the thread by unwinding through C++ frames, which aborts the process. The
// thread waits instead for the process to end.
[[noreturn]] void wait_for_the_exit() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// Runs the engine without the GIL. Every kCheckInterval the progress callback takes the GIL to
// run Python's signal handlers (so Ctrl-C raises KeyboardInterrupt) and the caller's progress
// function; an exception from either sets the cancel flag and is raised once the engine stops.
std::unique_ptr<pelko::SimulationResult> run_simulation(const py::handle& problem_object,
                                                        std::optional<std::int64_t> seed_second,
                                                        int threads, const py::object& progress) {
  const pelko::Problem problem = problem_from(problem_object);
  std::atomic<bool> cancel{false};
  std::optional<py::error_already_set> raised;
  auto last_check = std::chrono::steady_clock::now();

  pelko::SimulationOptions options;
  options.seed_second = seed_second;
  options.threads = threads;
  options.cancel = &cancel;
  options.progress = [&](int done, int total) {
    const auto now = std::chrono::steady_clock::now();
    if (raised || (done < total && now - last_check < kCheckInterval)) return;
    last_check = now;
    if (python_finalizing()) {
      cancel.store(true, std::memory_order_relaxed);
      return;
    }
    py::gil_scoped_acquire gil;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!progress.is_none()) progress(done, total);
    } catch (py::error_already_set& error) {
      raised.emplace(std::move(error));
      cancel.store(true, std::memory_order_relaxed);
    }
  };

  std::unique_ptr<pelko::SimulationResult> result;
  std::exception_ptr failure;
  PyThreadState* const thread_state = PyEval_SaveThread();
  try {
    result = std::make_unique<pelko::SimulationResult>(pelko::simulate(problem, options));
  } catch (const pelko::Error& error) {
    if (!raised || error.kind() != pelko::ErrorKind::cancelled) failure = std::current_exception();
  } catch (...) {
    failure = std::current_exception();
  }
  if (python_finalizing()) wait_for_the_exit();
  PyEval_RestoreThread(thread_state);
  if (failure) std::rethrow_exception(failure);
  // Raised also when the engine finished before it polled the flag again.
  if (raised) {
    raised->restore();
    throw py::error_already_set();
  }
  return result;
}

pelko::FrontierOptions frontier_options(int stage, double step, std::vector<int> predictors,
                                        std::vector<std::vector<float>> weightings) {
  pelko::FrontierOptions options;
  options.stage = stage;
  options.step = step;
  options.predictors = std::move(predictors);
  options.weightings = std::move(weightings);
  return options;
}

py::dict frontier_point_dict(const pelko::FrontierPoint& p) {
  py::dict d;
  d["weights"] = p.weights;
  d["quality"] = p.quality;
  d["quality_standard_error"] = p.quality_standard_error;
  d["composite_validity"] = p.composite_validity;
  d["expected_ai"] = p.expected_ai;
  d["below"] = proportion_tuple(p.below);
  return d;
}

// The search without the GIL, as run_simulation runs one simulation: Ctrl-C and exceptions
// from progress or finished cancel it. finished(index, point dict) hears each point when done.
py::tuple run_frontier(const py::handle& problem_object, int stage, double step,
                       std::vector<int> predictors, std::vector<std::vector<float>> weightings,
                       std::optional<std::int64_t> seed_second, int threads,
                       const py::object& progress, const py::object& finished) {
  const pelko::Problem problem = problem_from(problem_object);
  std::atomic<bool> cancel{false};
  std::optional<py::error_already_set> raised;
  auto last_check = std::chrono::steady_clock::now();

  pelko::FrontierOptions options =
      frontier_options(stage, step, std::move(predictors), std::move(weightings));
  options.seed_second = seed_second;
  options.threads = threads;
  options.cancel = &cancel;
  options.progress = [&](std::int64_t done, std::int64_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (raised || (done < total && now - last_check < kCheckInterval)) return;
    last_check = now;
    py::gil_scoped_acquire gil;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!progress.is_none()) progress(done, total);
    } catch (py::error_already_set& error) {
      raised.emplace(std::move(error));
      cancel.store(true, std::memory_order_relaxed);
    }
  };
  options.finished = [&](std::size_t index, const pelko::FrontierPoint& point) {
    if (raised || finished.is_none()) return;
    py::gil_scoped_acquire gil;
    try {
      finished(index, frontier_point_dict(point));
    } catch (py::error_already_set& error) {
      raised.emplace(std::move(error));
      cancel.store(true, std::memory_order_relaxed);
    }
  };

  std::optional<pelko::Frontier> result;
  try {
    py::gil_scoped_release no_gil;
    result = pelko::frontier(problem, options);
  } catch (const pelko::Error& error) {
    if (!raised || error.kind() != pelko::ErrorKind::cancelled) throw;
  }
  if (raised) {
    raised->restore();
    throw py::error_already_set();
  }
  py::list points;
  for (const pelko::FrontierPoint& p : result->points) {
    py::dict d = frontier_point_dict(p);
    d["on_front"] = p.on_front;
    d["on_front_expected_ai"] = p.on_front_expected_ai;
    points.append(d);
  }
  return py::make_tuple(result->seed_second, points);
}

// The library's front marks of (quality, P(AI < ratio), expected AI) triples.
py::list mark_fronts(const std::vector<std::tuple<double, double, float>>& measures) {
  std::vector<pelko::FrontierPoint> points(measures.size());
  for (std::size_t i = 0; i < measures.size(); ++i) {
    points[i].quality = std::get<0>(measures[i]);
    points[i].below.share = std::get<1>(measures[i]);
    points[i].expected_ai = std::get<2>(measures[i]);
  }
  pelko::mark_fronts(points);
  py::list marks;
  for (const pelko::FrontierPoint& p : points) {
    marks.append(py::make_tuple(p.on_front, p.on_front_expected_ai));
  }
  return marks;
}

// Every stage's rule shares as tuples (rule, count, total, share, lower, upper, expected with
// no difference), and the final selection's flags a replication as a bitmask.
py::dict flags_dict(const pelko::SimulationResult& result, double significance) {
  const pelko::SelectionFlags flags = pelko::flag_selection(result, significance);
  py::list stages;
  for (const pelko::StageFlags& stage : flags.stages) {
    py::list rules;
    for (const pelko::RuleShare& share : stage.rules) {
      const pelko::Proportion& p = share.flagged;
      rules.append(py::make_tuple(pelko::to_string(share.rule), p.count, p.total, p.share, p.lower,
                                  p.upper, share.expected_under_no_difference));
    }
    stages.append(rules);
  }
  py::dict d;
  d["significance"] = flags.significance;
  d["stages"] = stages;
  d["final_flags"] = array_of(flags.final_flags);
  return d;
}

// A result as plain values and back, so that it crosses to another process (pickle).
py::tuple distribution_state(const pelko::Distribution& d) {
  return py::make_tuple(d.mean, d.percentiles.p50, d.percentiles.p25, d.percentiles.p75);
}

pelko::Distribution distribution_from(const py::handle& state) {
  const auto t = state.cast<py::tuple>();
  return {t[0].cast<float>(), {t[1].cast<float>(), t[2].cast<float>(), t[3].cast<float>()}};
}

template <typename T>
std::vector<T> vector_from(const py::handle& array) {
  const auto a = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!a) throw py::value_error("pelko: not a state of a pelko result");
  return std::vector<T>(a.data(), a.data() + a.size());
}

py::tuple quality_distribution_state(const pelko::QualityDistribution& q) {
  return py::make_tuple(q.mean, q.sd, q.standard_error, q.percentiles.p50, q.percentiles.p25,
                        q.percentiles.p75, q.count);
}

pelko::QualityDistribution quality_distribution_from(const py::handle& state) {
  const auto t = state.cast<py::tuple>();
  return {t[0].cast<double>(),
          t[1].cast<double>(),
          t[2].cast<double>(),
          {t[3].cast<float>(), t[4].cast<float>(), t[5].cast<float>()},
          t[6].cast<std::int64_t>()};
}

// The quality of hires of a result with a criterion; None without one.
py::object quality_state(const pelko::SimulationResult& r) {
  if (!r.quality_summary) return py::none();
  const pelko::QualitySummary& q = *r.quality_summary;
  return py::make_tuple(array_of(r.quality), array_of(r.quality_majority),
                        array_of(r.quality_minority), r.stage_quality, r.stage_quality_majority,
                        r.stage_quality_minority, q.criterion_effect_size, q.composite_validities,
                        quality_distribution_state(q.overall),
                        quality_distribution_state(q.majority),
                        quality_distribution_state(q.minority));
}

void quality_from(const py::handle& state, pelko::SimulationResult& r) {
  if (state.is_none()) return;
  const auto t = state.cast<py::tuple>();
  if (t.size() != 11) throw py::value_error("pelko: not a state of a pelko result");
  r.quality = vector_from<float>(t[0]);
  r.quality_majority = vector_from<float>(t[1]);
  r.quality_minority = vector_from<float>(t[2]);
  r.stage_quality = t[3].cast<std::vector<std::vector<float>>>();
  r.stage_quality_majority = t[4].cast<std::vector<std::vector<float>>>();
  r.stage_quality_minority = t[5].cast<std::vector<std::vector<float>>>();
  pelko::QualitySummary q;
  q.criterion_effect_size = t[6].cast<float>();
  q.composite_validities = t[7].cast<std::vector<double>>();
  q.overall = quality_distribution_from(t[8]);
  q.majority = quality_distribution_from(t[9]);
  q.minority = quality_distribution_from(t[10]);
  r.quality_summary = std::move(q);
}

py::tuple result_state(const pelko::SimulationResult& r) {
  const pelko::Summary& s = r.summary;
  py::object detailed = py::none();
  if (s.detailed) {
    py::list rows;
    for (const pelko::FrequencyRow& row : s.detailed->rows) {
      rows.append(py::make_tuple(row.value, row.count, row.freq, row.cfreq));
    }
    detailed = py::make_tuple(distribution_state(s.detailed->ai),
                              distribution_state(s.detailed->sra),
                              distribution_state(s.detailed->sri), rows);
  }
  py::list stages;
  for (const pelko::StageSummary& stage : r.stages) {
    stages.append(
        py::make_tuple(stage.majority_rate, stage.minority_rate, stage.ai, stage.ai_defined));
  }
  return py::make_tuple(
      problem_dict(r.problem), r.seed_second, r.seed1, r.seed2, r.composite_effect_sizes,
      array_of(r.sra), array_of(r.sri), array_of(r.ai), array_of(r.ai_defined),
      table_of(r.majority_retained, r.sra.size()), table_of(r.minority_retained, r.sra.size()),
      py::make_tuple(s.sr, s.expected_ai, s.expected_sra, s.expected_sri, s.defined, s.undefined,
                     s.undefined_freq),
      detailed, stages, r.no_defined_ai_halt_lines, quality_state(r));
}

std::vector<std::vector<std::int32_t>> rows_from(const py::handle& table) {
  const auto a = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>::ensure(table);
  if (!a || a.ndim() != 2) throw py::value_error("pelko: not a state of a pelko result");
  std::vector<std::vector<std::int32_t>> rows;
  for (py::ssize_t k = 0; k < a.shape(0); ++k) {
    rows.emplace_back(a.data(k, 0), a.data(k, 0) + a.shape(1));
  }
  return rows;
}

pelko::SimulationResult result_from(const py::tuple& t) {
  // A state of 15 items comes from a module without the quality of hires.
  if (t.size() != 15 && t.size() != 16) {
    throw py::value_error("pelko: not a state of a pelko result");
  }
  pelko::SimulationResult r;
  r.problem = problem_from(py::module_::import("types").attr("SimpleNamespace")(**t[0]));
  r.seed_second = t[1].cast<std::int64_t>();
  r.seed1 = t[2].cast<std::int32_t>();
  r.seed2 = t[3].cast<std::int32_t>();
  r.composite_effect_sizes = t[4].cast<std::vector<float>>();
  r.sra = vector_from<float>(t[5]);
  r.sri = vector_from<float>(t[6]);
  r.ai = vector_from<float>(t[7]);
  r.ai_defined = vector_from<std::uint8_t>(t[8]);
  r.majority_retained = rows_from(t[9]);
  r.minority_retained = rows_from(t[10]);
  const auto s = t[11].cast<py::tuple>();
  r.summary.sr = s[0].cast<float>();
  r.summary.expected_ai = s[1].cast<float>();
  r.summary.expected_sra = s[2].cast<float>();
  r.summary.expected_sri = s[3].cast<float>();
  r.summary.defined = s[4].cast<std::int32_t>();
  r.summary.undefined = s[5].cast<std::int32_t>();
  r.summary.undefined_freq = s[6].cast<float>();
  if (!t[12].is_none()) {
    const auto d = t[12].cast<py::tuple>();
    pelko::DetailedSummary detailed;
    detailed.ai = distribution_from(d[0]);
    detailed.sra = distribution_from(d[1]);
    detailed.sri = distribution_from(d[2]);
    for (const py::handle row : d[3].cast<py::list>()) {
      const auto f = row.cast<py::tuple>();
      detailed.rows.push_back(
          {f[0].cast<float>(), f[1].cast<std::int32_t>(), f[2].cast<float>(), f[3].cast<float>()});
    }
    r.summary.detailed = std::move(detailed);
  }
  for (const py::handle stage : t[13].cast<py::list>()) {
    const auto f = stage.cast<py::tuple>();
    r.stages.push_back({f[0].cast<double>(), f[1].cast<double>(), f[2].cast<double>(),
                        f[3].cast<std::int32_t>()});
  }
  r.no_defined_ai_halt_lines = t[14].cast<std::vector<std::string>>();
  if (t.size() == 16) quality_from(t[15], r);
  return r;
}

void translate_errors() {
  py::register_exception_translator([](std::exception_ptr pointer) {
    try {
      if (pointer) std::rethrow_exception(pointer);
    } catch (const pelko::Error& error) {
      if (error.kind() == pelko::ErrorKind::out_of_memory) {
        PyErr_SetString(PyExc_MemoryError, error.what());
        return;
      }
      if (error.kind() == pelko::ErrorKind::cancelled) {
        PyErr_SetString(PyExc_KeyboardInterrupt, error.what());
        return;
      }
      const py::object error_type = py::module_::import("pelko._core").attr("Error");
      py::object instance = error_type(error.what());
      instance.attr("kind") = pelko::to_string(error.kind());
      instance.attr("message_lines") = error.message_lines();
      instance.attr("halt_lines") = error.halt_lines();
      PyErr_SetObject(error_type.ptr(), instance.ptr());
    }
  });
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The PELKO engine; use the package pelko.";
  m.attr("version") = pelko::version();

  // A ValueError whose message is the program's; the pure-Python layer names it pelko.Error.
  py::exception<pelko::Error>(m, "Error", PyExc_ValueError);
  translate_errors();

  m.def("parse", &parse, "(problem dict or None, diagnostics) of a problem file's text");
  m.def(
      "format", [](const py::handle& p) { return pelko::format_problem(problem_from(p)); },
      "The problem file text of a problem");
  m.def(
      "validate",
      [](const py::handle& p) { return diagnostic_list(pelko::validate(problem_from(p))); },
      "Warnings, then the first error if any");
  m.def("composite_effect_sizes",
        [](const py::handle& p) { return pelko::composite_effect_sizes(problem_from(p)); });
  m.def("wilson_interval", [](std::int64_t count, std::int64_t total) {
    return proportion_tuple(pelko::wilson_interval(count, total));
  });

  m.def(
      "judge_selection",
      [](std::int32_t minority_applicants, std::int32_t majority_applicants,
         std::int32_t minority_hired, std::int32_t majority_hired, double significance) {
        const pelko::SelectionStatistics s = pelko::judge_selection(
            {minority_applicants, majority_applicants, minority_hired, majority_hired},
            significance);
        py::dict d;
        d["z"] = s.z;
        d["z_ir"] = s.z_ir;
        d["fisher_p"] = s.fisher_p;
        d["mid_p"] = s.mid_p;
        d["flags"] = s.flags;
        return d;
      },
      "The tests' statistics and flags (a bitmask) of one selection");
  py::list rules;
  for (int i = 0; i < pelko::kRuleCount; ++i) {
    rules.append(pelko::to_string(static_cast<pelko::Rule>(i)));
  }
  m.attr("rules") = py::tuple(rules);

  py::class_<pelko::SimulationResult>(m, "Outcome")
      .def_readonly("seed_second", &pelko::SimulationResult::seed_second)
      .def_readonly("seed1", &pelko::SimulationResult::seed1)
      .def_readonly("seed2", &pelko::SimulationResult::seed2)
      .def_readonly("composite_effect_sizes", &pelko::SimulationResult::composite_effect_sizes)
      .def_property_readonly("sra",
                             [](const pelko::SimulationResult& r) { return array_of(r.sra); })
      .def_property_readonly("sri",
                             [](const pelko::SimulationResult& r) { return array_of(r.sri); })
      .def_property_readonly("ai",
                             [](const pelko::SimulationResult& r) {
                               py::array_t<float> ai = array_of(r.ai);
                               auto cells = ai.mutable_unchecked<1>();
                               for (py::ssize_t i = 0; i < cells.shape(0); ++i) {
                                 if (r.ai_defined[static_cast<std::size_t>(i)] == 0) {
                                   cells(i) = std::numeric_limits<float>::quiet_NaN();
                                 }
                               }
                               return ai;
                             })
      .def_property_readonly("ai_defined",
                             [](const pelko::SimulationResult& r) {
                               return array_of(r.ai_defined).attr("astype")("bool");
                             })
      .def_property_readonly("majority_retained",
                             [](const pelko::SimulationResult& r) {
                               return table_of(r.majority_retained, r.sra.size());
                             })
      .def_property_readonly("minority_retained",
                             [](const pelko::SimulationResult& r) {
                               return table_of(r.minority_retained, r.sra.size());
                             })
      .def_property_readonly(
          "summary", [](const pelko::SimulationResult& r) { return summary_dict(r.summary); })
      .def_property_readonly(
          "detailed", [](const pelko::SimulationResult& r) { return detailed_dict(r.summary); })
      .def_property_readonly(
          "no_defined_ai_lines",
          [](const pelko::SimulationResult& r) { return r.no_defined_ai_halt_lines; })
      .def_property_readonly("quality",
                             [](const pelko::SimulationResult& r) { return array_of(r.quality); })
      .def_property_readonly(
          "quality_majority",
          [](const pelko::SimulationResult& r) { return array_of(r.quality_majority); })
      .def_property_readonly(
          "quality_minority",
          [](const pelko::SimulationResult& r) { return array_of(r.quality_minority); })
      .def_property_readonly("stage_quality",
                             [](const pelko::SimulationResult& r) {
                               return float_table_of(r.stage_quality, r.quality.size());
                             })
      .def_property_readonly("stage_quality_majority",
                             [](const pelko::SimulationResult& r) {
                               return float_table_of(r.stage_quality_majority, r.quality.size());
                             })
      .def_property_readonly("stage_quality_minority",
                             [](const pelko::SimulationResult& r) {
                               return float_table_of(r.stage_quality_minority, r.quality.size());
                             })
      .def_property_readonly("quality_summary", &quality_summary_dict)
      .def_property_readonly("stages",
                             [](const pelko::SimulationResult& r) { return stage_list(r.stages); })
      .def("share_below", [](const pelko::SimulationResult& r,
                             double ratio) { return proportion_tuple(r.share_below(ratio)); })
      .def("share_below_or_undefined",
           [](const pelko::SimulationResult& r, double ratio) {
             return proportion_tuple(r.share_below_or_undefined(ratio));
           })
      .def("flag_selection", &flags_dict)
      .def(py::pickle(&result_state, [](const py::tuple& state) {
        return std::make_unique<pelko::SimulationResult>(result_from(state));
      }));

  m.def("frontier", &run_frontier, py::arg("problem"), py::arg("stage"), py::arg("step"),
        py::arg("predictors"), py::arg("weightings"), py::arg("seed_second"), py::arg("threads"),
        py::arg("progress"), py::arg("finished"),
        "(seed second, points) of the frontier search, without the GIL");
  m.def(
      "frontier_weightings",
      [](const py::handle& p, int stage, double step, std::vector<int> predictors,
         std::vector<std::vector<float>> weightings) {
        return pelko::frontier_weightings(
            problem_from(p),
            frontier_options(stage, step, std::move(predictors), std::move(weightings)));
      },
      "The candidate weightings of a frontier search, as full rows");
  m.def("mark_fronts", &mark_fronts,
        "(on_front, on_front_expected_ai) of (quality, P(AI < ratio), expected AI) triples");
  m.def("simulate", &run_simulation, py::arg("problem"), py::arg("seed_second"), py::arg("threads"),
        py::arg("progress"),
        "Runs a problem without the GIL; Ctrl-C or an exception from progress cancels it");
}
