#pragma once
// How the replications are computed; every choice gives the same report byte for byte.
#include <cstdint>

namespace pelko::driver {

struct RunOptions {
  // The literal single-threaded path, kept as the reference for the fast one.
  bool plain = false;
  // The fast path draws on a second thread once a replication draws at least this many
  // deviates (nsub * npred); below that the hand-over would cost more than it saves, and
  // drawing and selecting alternate on the calling thread.
  std::int64_t min_threaded_deviates = 2000;
};

}  // namespace pelko::driver
