#pragma once
// How the replications are computed; every choice but the seed gives the same report byte for
// byte.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine.h"

namespace pelko::driver {

struct RunOptions {
  // The fast engine runs whenever it applies; the reference engine can be asked for.
  engine::EngineKind engine = engine::EngineKind::fast;
  engine::FastSettings fast;
  // When set, receives what ran.
  engine::EngineTrace* trace = nullptr;
  // The clock second whose seeds the replications use; none: the second they start at.
  std::optional<std::int64_t> seed_second;
  // Files of results beside the report (empty: none), written once the replications are done.
  std::string replications_file;
  std::string json_file;
  // The tests that judge the selection: a section after the report and columns in the
  // replications file; the level also applies to the JSON file's tests.
  bool tests = false;
  double significance = 0.05;
  // The criterion's numbers as typed on the command line, overriding the problem file's.
  std::optional<std::string> validities;             // "V1,V2,..."
  std::optional<std::string> criterion_effect_size;  // "D"
  // Whether the problem's criterion block is read after its last weights line: not from a
  // person typing, whose run starts at that line.
  bool criterion_block = true;
};

}  // namespace pelko::driver
