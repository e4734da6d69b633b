#pragma once
// Shared helpers of the random tests: stops and their lines, scripted uniforms, 64-bit references.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pelko/error.h"
#include "random/generator.h"

namespace pelko::random::testing {

// The lines as a stream would hold them: each followed by a line feed.
inline std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Runs `action`, which must stop the run, and checks the kind, the exit status, the report
// lines (`out`) and the diagnostic lines (`err`) of the Error it throws.
inline void expect_stop(const std::function<void()>& action, ErrorKind kind, const std::string& out,
                        const std::string& err) {
  try {
    action();
    ADD_FAILURE() << "the run did not stop";
  } catch (const Error& stopped) {
    EXPECT_EQ(static_cast<int>(stopped.kind()), static_cast<int>(kind));
    EXPECT_EQ(joined(stopped.message_lines()), out);
    EXPECT_EQ(joined(stopped.halt_lines()), err);
  }
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
