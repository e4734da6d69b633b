#pragma once
// Combined multiplicative congruential generator with 32 virtual generators.
// One Generator object serves every draw of a run; copies are independent streams.
#include <cstddef>
#include <cstdint>

namespace pelko::random {

inline constexpr int kGenerators = 32;

// The two component seeds of one generator: its position in its stream.
struct StreamState {
  std::int32_t s1;
  std::int32_t s2;
};

// Moduli and multipliers of the two components.
inline constexpr std::int32_t kMod1 = 2147483563;
inline constexpr std::int32_t kMod2 = 2147483399;
inline constexpr std::int32_t kMul1 = 40014;
inline constexpr std::int32_t kMul2 = 40692;

// a^e modulo m for e >= 0, in 64-bit arithmetic (exact: every factor is below 2^31).
constexpr std::int32_t power_mod(std::int64_t a, std::int64_t e, std::int64_t m) {
  std::uint64_t result = 1;
  std::uint64_t base = static_cast<std::uint64_t>(a % m);
  const auto modulus = static_cast<std::uint64_t>(m);
  for (; e > 0; e >>= 1) {
    if ((e & 1) != 0) result = result * base % modulus;
    base = base * base % modulus;
  }
  return static_cast<std::int32_t>(result);
}

// The state n draws after `state` (n >= 0).
constexpr StreamState advanced(StreamState state, std::int64_t n) {
  const auto step = [n](std::int32_t s, std::int64_t mul, std::int64_t mod) {
    return static_cast<std::int32_t>(static_cast<std::uint64_t>(power_mod(mul, n, mod)) *
                                     static_cast<std::uint64_t>(s) %
                                     static_cast<std::uint64_t>(mod));
  };
  return StreamState{step(state.s1, kMul1, kMod1), step(state.s2, kMul2, kMod2)};
}

// The integer ignlgi returns once the state has reached `state`.
constexpr std::int32_t combined(StreamState state) {
  const std::int32_t z = state.s1 - state.s2;
  return z < 1 ? z + (kMod1 - 1) : z;
}

// ranf's scale: 4.656613E-10 in single precision is 2^-31, so the scaling itself never rounds.
inline constexpr float kUniformScale = 4.656613E-10f;
static_assert(kUniformScale == 1.0f / 2147483648.0f);

// The uniform ranf returns once the state has reached `state`.
constexpr float uniform_of(StreamState state) {
  return static_cast<float>(combined(state)) * kUniformScale;
}

// Uniforms one after another from a stream state, as ranf gives them, counting them.
struct StreamUniforms {
  StreamState state;
  std::size_t taken = 0;
  float ranf() {
    state = advanced(state, 1);
    ++taken;
    return uniform_of(state);
  }
};

class Generator {
 public:
  // Diagnostics end the run as a generator_refused Error.
  void setall(std::int32_t seed1, std::int32_t seed2);
  std::int32_t ignlgi();  // next integer of the current generator, 1..2147483562
  float ranf();           // next uniform deviate, 2^-31 .. 1 - 2^-24
  void initgn(std::int32_t isdtyp);
  std::int32_t getcgn() const;
  void setcgn(std::int32_t g);
  void inrgcm();
  bool qrgnin() const;
  void qrgnsn(bool value);
  bool rgnqsd() const;

  // Moves the current generator n >= 0 draws ahead in O(log n) steps, as n calls of ignlgi
  // would (seeding it first with the default seeds, as a draw does).
  void advance(std::int64_t n);
  // The current generator's position; set_position makes it so.
  StreamState position() const;
  void set_position(StreamState state);

  // Initial seeds of generator g (1..32), for inspection.
  std::int32_t initial_seed1(int g) const;
  std::int32_t initial_seed2(int g) const;

 private:
  struct State {
    std::int32_t mod1, mod2, mul1, mul2, mul1w, mul2w, mul1vw, mul2vw;
    std::int32_t inisd1[kGenerators], inisd2[kGenerators];
    std::int32_t blksd1[kGenerators], blksd2[kGenerators];
    std::int32_t cursd1[kGenerators], cursd2[kGenerators];
    bool antith[kGenerators];
  };

  // Loads the constants and the default seeds when a draw finds them missing.
  void prepare_first_draw();

  State globe_{};
  bool qinit_ = false;
  bool qqssd_ = false;
  std::int32_t curntg_ = 1;
};

// a * s modulo m without leaving 32 bits; stops the run on 0 < a < m, 0 < s < m violated.
std::int32_t mltmod(std::int32_t a, std::int32_t s, std::int32_t m);

inline std::int32_t Generator::ignlgi() {
  if (!qinit_ || !qqssd_) [[unlikely]]
    prepare_first_draw();
  const int g = curntg_ - 1;
  std::int32_t s1 = globe_.cursd1[g];
  std::int32_t s2 = globe_.cursd2[g];
  // Schrage steps: 53668 = mod1 div mul1, 12211 its remainder; 52774 and 3791 likewise.
  // The corrections are branch-free masks: z < 1 half of the time, so a branch would
  // mispredict often. x >> 31 is -1 for negative x and 0 otherwise.
  std::int32_t k = s1 / 53668;
  s1 = globe_.mul1 * (s1 - k * 53668) - k * 12211;
  s1 += (s1 >> 31) & globe_.mod1;
  k = s2 / 52774;
  s2 = globe_.mul2 * (s2 - k * 52774) - k * 3791;
  s2 += (s2 >> 31) & globe_.mod2;
  globe_.cursd1[g] = s1;
  globe_.cursd2[g] = s2;
  std::int32_t z = s1 - s2;
  z += ((z - 1) >> 31) & (globe_.mod1 - 1);  // z < 1
  if (globe_.antith[g]) z = globe_.mod1 - z;
  return z;
}

inline float Generator::ranf() { return static_cast<float>(ignlgi()) * kUniformScale; }

}  // namespace pelko::random
