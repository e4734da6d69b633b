// The page's engine: the library compiled to WebAssembly, called from the page's worker with
// problem files as text and answering in JSON. One run's result is kept for its downloads.
#include <emscripten/emscripten.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "page_json.h"
#include "pelko/pelko.h"
#if __has_include("pelko/frontier.h")
#include "pelko/frontier.h"
#define PELKO_PAGE_FRONTIER 1
#else
#define PELKO_PAGE_FRONTIER 0
#endif

// Tells the page how far a run is (the worker posts it on).
EM_JS(void, report_progress, (double done, double total), {
  if (typeof Module.onProgress === 'function') Module.onProgress(done, total);
});

namespace {

// Whether this library's problems carry a criterion (validities and its effect size).
template <class P>
concept WithCriterion = requires(P p) {
  p.validities;
  p.criterion_effect_size;
};

std::string answer;                           // the last answer, read by the worker at once
std::optional<pelko::SimulationResult> last;  // the last run's result, for its downloads

const char* give(std::string text) {
  answer = std::move(text);
  return answer.c_str();
}

std::string diagnostic_json(const pelko::Diagnostic& d) {
  page::Object o;
  o.add("severity", page::quoted(d.severity == pelko::Severity::error ? "error" : "warning"));
  o.add("kind", page::quoted(pelko::to_string(d.kind)));
  o.add("field", page::quoted(d.field));
  o.add("index", std::to_string(d.index));
  o.add("second_index", std::to_string(d.second_index));
  o.add("line", std::to_string(d.line));
  o.add("column", std::to_string(d.column));
  o.add("lines", page::strings(d.lines));
  return o.text();
}

std::string error_json(const pelko::Error& e) {
  page::Object o;
  o.add("ok", "false");
  o.add("kind", page::quoted(pelko::to_string(e.kind())));
  std::vector<std::string> lines = e.message_lines();
  lines.insert(lines.end(), e.halt_lines().begin(), e.halt_lines().end());
  o.add("lines", page::strings(lines));
  return o.text();
}

// The criterion block's values, where this library reads one.
template <class P>
void add_criterion(page::Object& o, const P& problem) {
  if constexpr (WithCriterion<P>) {
    o.add("validities", page::reals(problem.validities));
    o.add("criterion_effect_size", problem.criterion_effect_size
                                       ? page::real(*problem.criterion_effect_size)
                                       : std::string("null"));
  }
}

std::string problem_json(const pelko::Problem& p) {
  page::Object o;
  o.add("replications", std::to_string(p.replications));
  o.add("applicants", std::to_string(p.applicants));
  o.add("majority_applicants", std::to_string(p.majority_applicants));
  std::vector<std::string> retained;
  for (std::int32_t n : p.retained) retained.push_back(std::to_string(n));
  o.add("retained", page::list(retained));
  o.add("effect_sizes", page::reals(p.effect_sizes));
  std::vector<std::string> rows;
  for (const auto& row : p.correlations) rows.push_back(page::reals(row));
  o.add("correlations", page::list(rows));
  rows.clear();
  for (const auto& row : p.weights) rows.push_back(page::reals(row));
  o.add("weights", page::list(rows));
  add_criterion(o, p);
  return o.text();
}

}  // namespace

extern "C" {

// What this build of the library offers the page.
EMSCRIPTEN_KEEPALIVE const char* pelko_features() {
  page::Object o;
  o.add("version", page::quoted(pelko::version()));
  o.add("criterion", WithCriterion<pelko::Problem> ? "true" : "false");
  o.add("frontier", PELKO_PAGE_FRONTIER ? "true" : "false");
  return give(o.text());
}

// Reads a problem file: the problem as read, every diagnostic, and the file the program
// writes for it.
EMSCRIPTEN_KEEPALIVE const char* pelko_read(const char* text) {
  try {
    const pelko::ParsedProblem parsed = pelko::parse_problem(std::string_view(text));
    page::Object o;
    o.add("ok", parsed.ok() ? "true" : "false");
    std::vector<std::string> diagnostics;
    for (const pelko::Diagnostic& d : parsed.diagnostics) diagnostics.push_back(diagnostic_json(d));
    o.add("diagnostics", page::list(diagnostics));
    if (parsed.problem) {
      o.add("problem", problem_json(*parsed.problem));
      o.add("text", page::quoted(pelko::format_problem(*parsed.problem)));
    }
    return give(o.text());
  } catch (const pelko::Error& e) {
    return give(error_json(e));
  }
}

// Runs a problem file with the seeds of `seed_second`: the program's --json content.
EMSCRIPTEN_KEEPALIVE const char* pelko_run(const char* text, double seed_second) {
  last.reset();
  try {
    const pelko::ParsedProblem parsed = pelko::parse_problem(std::string_view(text));
    if (!parsed.problem) {
      for (const pelko::Diagnostic& d : parsed.diagnostics) {
        if (d.severity == pelko::Severity::error) {
          throw pelko::Error(d.kind, d.lines, {});
        }
      }
    }
    pelko::SimulationOptions options;
    options.seed_second = static_cast<std::int64_t>(seed_second);
    options.progress = [](int done, int total) { report_progress(done, total); };
    last = pelko::simulate(*parsed.problem, options);
    std::ostringstream json;
    pelko::write_result_json(*last, json);
    page::Object o;
    o.add("ok", "true");
    o.add("json", page::quoted(json.str()));
    if (!last->summary.detailed) o.add("lines", page::strings(last->no_defined_ai_halt_lines));
    return give(o.text());
  } catch (const pelko::Error& e) {
    return give(error_json(e));
  }
}

// The last run's replications as the program's --replications file.
EMSCRIPTEN_KEEPALIVE const char* pelko_replications_csv() {
  if (!last) return give("");
  std::ostringstream csv;
  pelko::write_replications_csv(*last, csv);
  return give(csv.str());
}

#if PELKO_PAGE_FRONTIER
// The frontier search over the weights of one stage (0-based), on the seeds of `seed_second`.
EMSCRIPTEN_KEEPALIVE const char* pelko_frontier(const char* text, double seed_second, int stage,
                                                double step) {
  try {
    const pelko::ParsedProblem parsed = pelko::parse_problem(std::string_view(text));
    if (!parsed.problem) return pelko_read(text);
    pelko::FrontierOptions options;
    options.stage = stage;
    options.step = step;
    options.seed_second = static_cast<std::int64_t>(seed_second);
    options.progress = [](std::int64_t done, std::int64_t total) {
      report_progress(static_cast<double>(done), static_cast<double>(total));
    };
    const pelko::Frontier frontier = pelko::frontier(*parsed.problem, options);
    std::vector<std::string> points;
    for (const pelko::FrontierPoint& p : frontier.points) {
      page::Object point;
      point.add("weights", page::reals(p.weights));
      point.add("quality", page::real(p.quality));
      point.add("quality_standard_error", page::real(p.quality_standard_error));
      point.add("composite_validity", page::real(p.composite_validity));
      point.add("expected_ai", page::real(p.expected_ai));
      point.add("below", page::real(p.below.share));
      point.add("below_lower", page::real(p.below.lower));
      point.add("below_upper", page::real(p.below.upper));
      point.add("on_front", p.on_front ? "true" : "false");
      points.push_back(point.text());
    }
    page::Object o;
    o.add("ok", "true");
    o.add("seed_second", std::to_string(frontier.seed_second));
    o.add("points", page::list(points));
    return give(o.text());
  } catch (const pelko::Error& e) {
    return give(error_json(e));
  }
}
#endif

}  // extern "C"
