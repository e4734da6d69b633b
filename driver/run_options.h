#pragma once
// How the replications are computed; every choice gives the same report byte for byte.
#include "engine/engine.h"

namespace pelko::driver {

struct RunOptions {
  // The fast engine runs whenever it applies; the reference engine can be asked for.
  engine::EngineKind engine = engine::EngineKind::fast;
  engine::FastSettings fast;
  // When set, receives what ran.
  engine::EngineTrace* trace = nullptr;
};

}  // namespace pelko::driver
