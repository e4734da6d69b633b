#pragma once
// How the replications are computed; every choice gives the same report byte for byte.

namespace pelko::driver {

struct RunOptions {
  // The literal single-threaded path, kept as the reference for the fast one.
  bool plain = false;
};

}  // namespace pelko::driver
