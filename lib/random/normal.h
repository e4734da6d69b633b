#pragma once
// Standard normal deviates by the Ahrens-Dieter FL method.
#include <cstdint>

#include "numeric/bit_cast.h"
#include "random/generator.h"

namespace pelko::random {

namespace normal_tables {

// a(i): quantile of probability 1/2 + (i-1)/64; a(32) is where the tail starts.
inline constexpr float a[32] = {
    0.0f,       0.03917609f, 0.07841241f, 0.1177699f, 0.1573107f, 0.1970991f, 0.2372021f,
    0.2776904f, 0.3186394f,  0.3601299f,  0.4022501f, 0.4450965f, 0.4887764f, 0.5334097f,
    0.5791322f, 0.626099f,   0.6744898f,  0.7245144f, 0.7764218f, 0.8305109f, 0.8871466f,
    0.9467818f, 1.00999f,    1.077516f,   1.150349f,  1.229859f,  1.318011f,  1.417797f,
    1.534121f,  1.67594f,    1.862732f,   2.153875f};

// d(j), j >= 6: distance between the tail quantiles of 1 - 2^-j and 1 - 2^-(j+1).
inline constexpr float d[31] = {
    0.0f,       0.0f,       0.0f,       0.0f,       0.0f,       0.2636843f, 0.2425085f, 0.2255674f,
    0.2116342f, 0.1999243f, 0.1899108f, 0.1812252f, 0.1736014f, 0.1668419f, 0.1607967f, 0.1553497f,
    0.1504094f, 0.1459026f, 0.14177f,   0.1379632f, 0.1344418f, 0.1311722f, 0.128126f,  0.1252791f,
    0.1226109f, 0.1201036f, 0.1177417f, 0.1155119f, 0.1134023f, 0.1114027f, 0.1095039f};

// t(i): at or below this the position inside strip i goes through the rejection loop.
inline constexpr float t[31] = {
    0.0007673828f, 0.00230687f, 0.003860618f, 0.005438454f, 0.007050699f, 0.008708396f, 0.01042357f,
    0.01220953f,   0.01408125f, 0.01605579f,  0.0181529f,   0.02039573f,  0.02281177f,  0.02543407f,
    0.02830296f,   0.03146822f, 0.03499233f,  0.03895483f,  0.04345878f,  0.04864035f,  0.05468334f,
    0.06184222f,   0.07047983f, 0.08113195f,  0.09462444f,  0.1123001f,   0.136498f,    0.1716886f,
    0.2276241f,    0.330498f,   0.5847031f};

// h(i): maps the part of a uniform above t(i) onto an offset inside strip i.
inline constexpr float h[31] = {
    0.03920617f, 0.03932705f, 0.03950999f, 0.03975703f, 0.04007093f, 0.04045533f, 0.04091481f,
    0.04145507f, 0.04208311f, 0.04280748f, 0.04363863f, 0.04458932f, 0.04567523f, 0.04691571f,
    0.04833487f, 0.04996298f, 0.05183859f, 0.05401138f, 0.05654656f, 0.0595313f,  0.06308489f,
    0.06737503f, 0.07264544f, 0.07926471f, 0.08781922f, 0.09930398f, 0.1155599f,  0.1404344f,
    0.1836142f,  0.2790016f,  0.7010474f};

}  // namespace normal_tables

namespace normal_detail {

// Every formula is evaluated in double and rounded to float on assignment.
constexpr float to_f(double x) { return static_cast<float>(x); }

// (0.5*w + aa)*w, the bound of the Forsythe comparison.
inline float bound(float w, float aa) {
  return to_f((0.5 * static_cast<double>(w) + static_cast<double>(aa)) * static_cast<double>(w));
}

inline float signed_result(float aa, float w, float s) {
  const float y = to_f(static_cast<double>(aa) + static_cast<double>(w));
  // y * -1 is exactly -y; multiplying avoids a branch on the sign, which is a coin toss.
  return y * (1.0f - 2.0f * s);
}

// Strip i (1..31) after the fast test of step 5 failed for `ustar`.
template <class Uniform>
float centre_rejection(Uniform& uniform, int i, float ustar, float s) {
  using namespace normal_tables;
  const float aa = a[i - 1];
  for (;;) {
    float u = uniform.ranf();
    const float w =
        to_f((static_cast<double>(a[i]) - static_cast<double>(aa)) * static_cast<double>(u));
    float tt = bound(w, aa);
    for (;;) {
      if (ustar > tt) return signed_result(aa, w, s);
      u = uniform.ranf();
      if (!(ustar >= u)) break;
      tt = u;
      ustar = uniform.ranf();
    }
    ustar = uniform.ranf();
    if (ustar > t[i - 1]) {
      const float wf = to_f((static_cast<double>(ustar) - static_cast<double>(t[i - 1])) *
                            static_cast<double>(h[i - 1]));
      return signed_result(aa, wf, s);
    }
  }
}

// Step 9a and 9b: the tail's doublings of u < 1, which fix the tail strip.
struct TailStart {
  float aa;
  int i;
  float u;
};

// The strip bases after k doublings, k = 0..25: aa only depends on how many there were.
struct TailBases {
  float aa[26];
};
constexpr TailBases tail_bases() {
  TailBases bases{};
  bases.aa[0] = normal_tables::a[31];
  for (int k = 1; k < 26; ++k) {
    bases.aa[k] = to_f(static_cast<double>(bases.aa[k - 1]) +
                       static_cast<double>(normal_tables::d[6 + k - 2]));
  }
  return bases;
}
inline constexpr TailBases kTailBases = tail_bases();

inline TailStart tail_start(float u) {
  // Doubling is exact, so the loop of 9a doubles u once and then once more for every binary
  // place it lies below 1: the count is read off its exponent.
  const float doubled = to_f(static_cast<double>(u) + static_cast<double>(u));
  // doubled = 1.f * 2^e with e >= -24 (it is at least 2^-24)
  const int e = static_cast<int>((numeric::bit_cast<std::uint32_t>(doubled) >> 23) & 0xff) - 127;
  const int k = e >= 0 ? 0 : -e;
  const float scaled = doubled * numeric::bit_cast<float>(static_cast<std::uint32_t>(127 + k) << 23);
  return TailStart{kTailBases.aa[k], 6 + k, to_f(static_cast<double>(scaled) - 1.0)};
}

// Step 9c: the offset inside tail strip i.
inline float tail_offset(float u, int i) {
  return to_f(static_cast<double>(u) * static_cast<double>(normal_tables::d[i - 1]));
}

// The tail beyond a(32); u < 1 holds the bits of the first uniform left after the strip choice.
template <class Uniform>
float tail(Uniform& uniform, float u, float s) {
  const TailStart start = tail_start(u);
  const float aa = start.aa;
  u = start.u;
  for (;;) {
    const float w = tail_offset(u, start.i);
    float tt = bound(w, aa);
    float ustar;
    for (;;) {
      ustar = uniform.ranf();
      if (ustar > tt) return signed_result(aa, w, s);
      u = uniform.ranf();
      if (!(ustar >= u)) break;
      tt = u;
    }
    u = uniform.ranf();
  }
}

}  // namespace normal_detail

namespace normal_detail {

// Steps 1 to 4 applied to the first uniform: the sign, the strip (0 for the tail) and the
// position inside the strip. Each value is exact, so float and double evaluation agree.
struct FirstUniform {
  float u;      // 32 times the folded uniform
  float s;      // 1 for a negative result
  int i;        // strip 1..31, or 0 for the tail
  float ustar;  // u - i
};

inline FirstUniform split_first(float u) {
  FirstUniform f;
  f.s = static_cast<float>(u > 0.5f);
  u = to_f(static_cast<double>(u) + static_cast<double>(u) - static_cast<double>(f.s));
  f.u = to_f(32.0 * static_cast<double>(u));
  f.i = static_cast<int>(f.u);
  if (f.i == 32) f.i = 31;
  f.ustar = to_f(static_cast<double>(f.u) - static_cast<double>(f.i));
  return f;
}

// Step 5's test: the deviate is decided by this one uniform.
inline bool takes_fast_path(const FirstUniform& f) {
  return f.i != 0 && f.ustar > normal_tables::t[f.i - 1];
}

inline float fast_path_value(const FirstUniform& f) {
  using namespace normal_tables;
  const float w = to_f((static_cast<double>(f.ustar) - static_cast<double>(t[f.i - 1])) *
                       static_cast<double>(h[f.i - 1]));
  return signed_result(a[f.i - 1], w, f.s);
}

}  // namespace normal_detail

// One standard normal deviate from any source with a `float ranf()` member.
template <class Uniform>
inline float snorm_from(Uniform& uniform) {
  const normal_detail::FirstUniform f = normal_detail::split_first(uniform.ranf());
  if (f.i == 0) [[unlikely]]
    return normal_detail::tail(uniform, f.u, f.s);
  if (normal_detail::takes_fast_path(f)) [[likely]]
    return normal_detail::fast_path_value(f);
  return normal_detail::centre_rejection(uniform, f.i, f.ustar, f.s);
}

inline float snorm(Generator& generator) { return snorm_from(generator); }

}  // namespace pelko::random
