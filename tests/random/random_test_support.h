#pragma once
// Shared helpers of the random tests: captured streams, scripted uniforms, 64-bit references.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "random/generator.h"
#include "recordio/console.h"
#include "recordio/stop.h"

namespace pelko::random::testing {

struct Streams {
  std::ostringstream out;
  std::ostringstream err;
  recordio::Console console{out, err};
};

// Runs `action`, which must stop the run, and checks both streams and the exit status.
inline void expect_stop(Streams& streams, const std::function<void()>& action,
                        const std::string& out, const std::string& err) {
  try {
    action();
    ADD_FAILURE() << "the run did not stop";
  } catch (const recordio::RunStopped& stopped) {
    EXPECT_EQ(stopped.status, recordio::kStatusStopped);
  }
  EXPECT_EQ(streams.out.str(), out);
  EXPECT_EQ(streams.err.str(), err);
}

// A uniform source that replays chosen values and counts how many were taken.
struct ScriptedUniforms {
  std::vector<float> values;
  std::size_t taken = 0;
  float ranf() {
    if (taken >= values.size()) {
      ADD_FAILURE() << "script exhausted after " << taken << " uniforms";
      return 0.5f;
    }
    return values[taken++];
  }
};

// Counts the uniforms a generator hands out.
struct CountingUniforms {
  Generator& generator;
  int taken = 0;
  float ranf() {
    ++taken;
    return generator.ranf();
  }
};

inline constexpr std::int64_t kMod1 = 2147483563;
inline constexpr std::int64_t kMod2 = 2147483399;
inline constexpr std::int64_t kMul1 = 40014;
inline constexpr std::int64_t kMul2 = 40692;

inline std::int64_t mulmod64(std::int64_t a, std::int64_t b, std::int64_t m) { return a * b % m; }

inline std::int64_t powmod64(std::int64_t base, std::int64_t exponent, std::int64_t m) {
  std::int64_t result = 1;
  base %= m;
  while (exponent > 0) {
    if (exponent & 1) result = mulmod64(result, base, m);
    base = mulmod64(base, base, m);
    exponent >>= 1;
  }
  return result;
}

// Seeds whose first step lands on the given component values.
inline std::pair<std::int32_t, std::int32_t> seeds_before(std::int64_t s1, std::int64_t s2) {
  return {static_cast<std::int32_t>(mulmod64(s1, powmod64(kMul1, kMod1 - 2, kMod1), kMod1)),
          static_cast<std::int32_t>(mulmod64(s2, powmod64(kMul2, kMod2 - 2, kMod2), kMod2))};
}

}  // namespace pelko::random::testing
