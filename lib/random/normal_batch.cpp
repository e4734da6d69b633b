#include "random/normal_batch.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "numeric/lane_permutations.h"
#include "numeric/vector_kernels.h"
#include "random/normal.h"
#include "random/uniform_lanes.h"

namespace pelko::random {
namespace {

void fast_deviates_plain(const float* u, std::size_t n, float* value, std::uint64_t* slow) {
  for (std::size_t word = 0; word < n / 64; ++word) {
    std::uint64_t bits = 0;
    for (std::size_t b = 0; b < 64; ++b) {
      const std::size_t q = word * 64 + b;
      const normal_detail::FirstUniform f = normal_detail::split_first(u[q]);
      if (normal_detail::takes_fast_path(f)) {
        value[q] = normal_detail::fast_path_value(f);
      } else {
        value[q] = 0.0f;
        bits |= std::uint64_t{1} << b;
      }
    }
    slow[word] = bits;
  }
}

#if PELKO_X86_VARIANTS

// The tables padded to 32 entries; index i - 1 for strip i.
struct PaddedTables {
  alignas(64) float a[32];
  alignas(64) float t[32];
  alignas(64) float h[32];
  alignas(64) float d[32];
  alignas(64) float tail_bases[32];
};

constexpr PaddedTables padded() {
  PaddedTables p{};
  for (int k = 0; k < 32; ++k) {
    p.a[k] = normal_tables::a[k];
    p.t[k] = k < 31 ? normal_tables::t[k] : 2.0f;
    p.h[k] = k < 31 ? normal_tables::h[k] : 0.0f;
    p.d[k] = k < 31 ? normal_tables::d[k] : 0.0f;
    p.tail_bases[k] = k < 26 ? normal_detail::kTailBases.aa[k] : 0.0f;
  }
  return p;
}
constexpr PaddedTables kTables = padded();

// A 32-entry table in four vectors of eight, looked up by permuting each and picking by bits 3
// and 4 of the index (only its low five bits count): cheaper than gathering from memory.
struct Table8x4 {
  __m256 part[4];
};
PELKO_TARGET_AVX2 inline Table8x4 table8x4(const float* table) {
  return Table8x4{{_mm256_load_ps(table), _mm256_load_ps(table + 8), _mm256_load_ps(table + 16),
                   _mm256_load_ps(table + 24)}};
}
__attribute__((target(PELKO_AVX2_FEATURES), always_inline)) inline __m256 look_up8(
    const Table8x4& table, __m256i index) {
  const __m256 bit3 = _mm256_castsi256_ps(_mm256_slli_epi32(index, 28));
  const __m256 bit4 = _mm256_castsi256_ps(_mm256_slli_epi32(index, 27));
  const __m256 low = _mm256_blendv_ps(_mm256_permutevar8x32_ps(table.part[0], index),
                                      _mm256_permutevar8x32_ps(table.part[1], index), bit3);
  const __m256 high = _mm256_blendv_ps(_mm256_permutevar8x32_ps(table.part[2], index),
                                       _mm256_permutevar8x32_ps(table.part[3], index), bit3);
  return _mm256_blendv_ps(low, high, bit4);
}

// The steps of split_first are exact, so they are done in single precision here; the offset is
// done in double precision as the scalar path does it. The sum aa + w of two floats rounded
// to double and then to single equals their sum rounded once to single, since double has more
// than twice single's digits plus two (sum_of_floats in the tests checks it), so it is a
// single-precision addition here.
__attribute__((target(PELKO_AVX2_FEATURES))) void fast_deviates_avx2(const float* u, std::size_t n,
                                                                     float* value,
                                                                     std::uint64_t* slow) {
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 thirty_two = _mm256_set1_ps(32.0f);
  const __m256i i31 = _mm256_set1_epi32(31);
  const __m256i i1 = _mm256_set1_epi32(1);
  const __m256 sign = _mm256_set1_ps(-0.0f);
  const Table8x4 t_table = table8x4(kTables.t);
  const Table8x4 h_table = table8x4(kTables.h);
  const Table8x4 a_table = table8x4(kTables.a);
  for (std::size_t word = 0; word < n / 64; ++word) {
    std::uint64_t bits = 0;
    for (std::size_t b = 0; b < 64; b += 8) {
      const std::size_t q = word * 64 + b;
      const __m256 x = _mm256_loadu_ps(u + q);
      const __m256 negative = _mm256_cmp_ps(x, half, _CMP_GT_OQ);
      const __m256 folded = _mm256_sub_ps(_mm256_add_ps(x, x), _mm256_and_ps(negative, one));
      const __m256 scaled = _mm256_mul_ps(folded, thirty_two);
      const __m256i strip = _mm256_min_epi32(_mm256_cvttps_epi32(scaled), i31);
      const __m256 ustar = _mm256_sub_ps(scaled, _mm256_cvtepi32_ps(strip));
      const __m256i index = _mm256_sub_epi32(_mm256_max_epi32(strip, i1), i1);
      const __m256 tt = look_up8(t_table, index);
      const __m256 hh = look_up8(h_table, index);
      const __m256 aa = look_up8(a_table, index);
      const __m256 in_centre = _mm256_castsi256_ps(_mm256_xor_si256(
          _mm256_cmpeq_epi32(strip, _mm256_setzero_si256()), _mm256_set1_epi32(-1)));
      const __m256 fast = _mm256_and_ps(in_centre, _mm256_cmp_ps(ustar, tt, _CMP_GT_OQ));
      __m128 halves[2];
      for (int hpart = 0; hpart < 2; ++hpart) {
        const __m128 us =
            hpart == 0 ? _mm256_castps256_ps128(ustar) : _mm256_extractf128_ps(ustar, 1);
        const __m128 t4 = hpart == 0 ? _mm256_castps256_ps128(tt) : _mm256_extractf128_ps(tt, 1);
        const __m128 h4 = hpart == 0 ? _mm256_castps256_ps128(hh) : _mm256_extractf128_ps(hh, 1);
        halves[hpart] = _mm256_cvtpd_ps(_mm256_mul_pd(
            _mm256_sub_pd(_mm256_cvtps_pd(us), _mm256_cvtps_pd(t4)), _mm256_cvtps_pd(h4)));
      }
      // aa + w: see sum_of_floats
      __m256 y = _mm256_add_ps(aa, _mm256_set_m128(halves[1], halves[0]));
      y = _mm256_xor_ps(y, _mm256_and_ps(negative, sign));
      _mm256_storeu_ps(value + q, _mm256_and_ps(y, fast));
      const auto slow_lanes = static_cast<std::uint64_t>(~_mm256_movemask_ps(fast) & 0xff);
      bits |= slow_lanes << b;
    }
    slow[word] = bits;
  }
}

#define PELKO_AVX512 __attribute__((target(PELKO_AVX512_FEATURES)))

PELKO_AVX512 void fast_deviates_avx512(const float* u, std::size_t n, float* value,
                                       std::uint64_t* slow) {
  const __m512 half = _mm512_set1_ps(0.5f);
  const __m512 one = _mm512_set1_ps(1.0f);
  const __m512 thirty_two = _mm512_set1_ps(32.0f);
  const __m512i i31 = _mm512_set1_epi32(31);
  const __m512i i1 = _mm512_set1_epi32(1);
  const __m512i sign = _mm512_set1_epi32(static_cast<int>(0x80000000u));
  const __m512 a_lo = _mm512_load_ps(kTables.a), a_hi = _mm512_load_ps(kTables.a + 16);
  const __m512 t_lo = _mm512_load_ps(kTables.t), t_hi = _mm512_load_ps(kTables.t + 16);
  const __m512 h_lo = _mm512_load_ps(kTables.h), h_hi = _mm512_load_ps(kTables.h + 16);
  for (std::size_t word = 0; word < n / 64; ++word) {
    std::uint64_t bits = 0;
    for (std::size_t b = 0; b < 64; b += 16) {
      const std::size_t q = word * 64 + b;
      const __m512 x = _mm512_loadu_ps(u + q);
      const __mmask16 negative = _mm512_cmp_ps_mask(x, half, _CMP_GT_OQ);
      const __m512 doubled = _mm512_add_ps(x, x);
      const __m512 folded = _mm512_mask_sub_ps(doubled, negative, doubled, one);
      const __m512 scaled = _mm512_mul_ps(folded, thirty_two);
      const __m512i strip = _mm512_min_epi32(_mm512_cvttps_epi32(scaled), i31);
      const __m512 ustar = _mm512_sub_ps(scaled, _mm512_cvtepi32_ps(strip));
      const __m512i index = _mm512_sub_epi32(_mm512_max_epi32(strip, i1), i1);
      const __m512 tt = _mm512_permutex2var_ps(t_lo, index, t_hi);
      const __m512 hh = _mm512_permutex2var_ps(h_lo, index, h_hi);
      const __m512 aa = _mm512_permutex2var_ps(a_lo, index, a_hi);
      const __mmask16 fast =
          _mm512_mask_cmp_ps_mask(_mm512_test_epi32_mask(strip, strip), ustar, tt, _CMP_GT_OQ);
      const __m512d us_lo = _mm512_cvtps_pd(_mm512_castps512_ps256(ustar));
      const __m512d us_hi = _mm512_cvtps_pd(_mm512_extractf32x8_ps(ustar, 1));
      const __m512d t_lo_d = _mm512_cvtps_pd(_mm512_castps512_ps256(tt));
      const __m512d t_hi_d = _mm512_cvtps_pd(_mm512_extractf32x8_ps(tt, 1));
      const __m512d h_lo_d = _mm512_cvtps_pd(_mm512_castps512_ps256(hh));
      const __m512d h_hi_d = _mm512_cvtps_pd(_mm512_extractf32x8_ps(hh, 1));
      const __m256 w_lo = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_sub_pd(us_lo, t_lo_d), h_lo_d));
      const __m256 w_hi = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_sub_pd(us_hi, t_hi_d), h_hi_d));
      // aa + w: see sum_of_floats
      __m512i y = _mm512_castps_si512(
          _mm512_add_ps(aa, _mm512_insertf32x8(_mm512_castps256_ps512(w_lo), w_hi, 1)));
      y = _mm512_mask_xor_epi32(y, negative, y, sign);
      _mm512_storeu_ps(value + q, _mm512_maskz_mov_ps(fast, _mm512_castsi512_ps(y)));
      bits |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(~fast)) << b;
    }
    slow[word] = bits;
  }
}

// The slow deviates side by side. A lane holds one deviate and takes one uniform per round; its
// state says what that uniform is for (the step of the scalar method it stands at):
enum SlowStep : int {
  kCentreStep6 = 0,   // u of step 6, then the test of 7b
  kCentreStep7c = 1,  // u of 7c, tested at 7d
  kCentreStep7a = 2,  // ustar of 7a, then the test of 7b
  kCentreStep7e = 3,  // ustar of 7e, then the test of step 5
  kTailStep9e = 4,    // ustar of 9e
  kTailStep9f = 5,    // u of 9f
  kTailStep9g = 6,    // u of 9g, then 9c
};

// (0.5 * w + aa) * w and aa + w for 16 lanes, in double as the scalar path evaluates them.
__attribute__((target(PELKO_AVX512_FEATURES))) inline __m512 bound16(__m512 w, __m512 aa) {
  const __m512d half = _mm512_set1_pd(0.5);
  const __m512d w_lo = _mm512_cvtps_pd(_mm512_castps512_ps256(w));
  const __m512d w_hi = _mm512_cvtps_pd(_mm512_extractf32x8_ps(w, 1));
  const __m512d a_lo = _mm512_cvtps_pd(_mm512_castps512_ps256(aa));
  const __m512d a_hi = _mm512_cvtps_pd(_mm512_extractf32x8_ps(aa, 1));
  const __m256 lo =
      _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(half, w_lo), a_lo), w_lo));
  const __m256 hi =
      _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_add_pd(_mm512_mul_pd(half, w_hi), a_hi), w_hi));
  return _mm512_insertf32x8(_mm512_castps256_ps512(lo), hi, 1);
}

// (x - y) * z and x * z for 16 lanes, each in double and rounded once to single.
enum class Form { difference_times, times };
template <Form F>
__attribute__((target(PELKO_AVX512_FEATURES))) inline __m512 in_double(__m512 x, __m512 y,
                                                                       __m512 z) {
  __m256 halves[2];
  for (int part = 0; part < 2; ++part) {
    const __m512d xd =
        _mm512_cvtps_pd(part == 0 ? _mm512_castps512_ps256(x) : _mm512_extractf32x8_ps(x, 1));
    const __m512d yd =
        _mm512_cvtps_pd(part == 0 ? _mm512_castps512_ps256(y) : _mm512_extractf32x8_ps(y, 1));
    const __m512d zd =
        _mm512_cvtps_pd(part == 0 ? _mm512_castps512_ps256(z) : _mm512_extractf32x8_ps(z, 1));
    __m512d r;
    if constexpr (F == Form::difference_times) r = _mm512_mul_pd(_mm512_sub_pd(xd, yd), zd);
    if constexpr (F == Form::times) r = _mm512_mul_pd(xd, zd);
    halves[part] = _mm512_cvtpd_ps(r);
  }
  return _mm512_insertf32x8(_mm512_castps256_ps512(halves[0]), halves[1], 1);
}

// The active lanes at step s, and lanes m moved on to step s.
__attribute__((target(PELKO_AVX512_FEATURES))) inline __mmask16 lanes_at(__mmask16 active,
                                                                         __m512i step, SlowStep s) {
  return static_cast<__mmask16>(active & _mm512_cmpeq_epi32_mask(step, _mm512_set1_epi32(s)));
}
__attribute__((target(PELKO_AVX512_FEATURES))) inline void go(__m512i& step, __mmask16 m,
                                                              SlowStep s) {
  step = _mm512_mask_mov_epi32(step, m, _mm512_set1_epi32(s));
}

#endif

// Reads the stretch's uniforms, then computes the ones after it from the stream position.
struct StretchUniforms {
  const float* loaded;
  std::size_t count;
  StreamState origin;
  std::size_t next;
  float ranf() {
    if (next < count) [[likely]]
      return loaded[next++];
    return uniform_of(advanced(origin, static_cast<std::int64_t>(++next)));
  }
};

// Runs are short (nine values on average): whole blocks of 16 are copied while the output has
// room for them, which beats a general copy's set-up.
inline void copy_run(const float* from, float* to, std::size_t n, std::size_t room) {
  constexpr std::size_t kBlock = 16;
  if (n <= kBlock && room >= kBlock) {
    std::memcpy(to, from, kBlock * sizeof(float));
    return;
  }
  std::memcpy(to, from, n * sizeof(float));
}

}  // namespace

void fast_deviates(const float* u, std::size_t n, float* value, std::uint64_t* slow,
                   numeric::InstructionSet set) {
  constexpr numeric::Variants<void (*)(const float*, std::size_t, float*, std::uint64_t*)>
      kFastDeviates{fast_deviates_plain, PELKO_X86_ONLY(fast_deviates_avx2),
                    PELKO_X86_ONLY(fast_deviates_avx512)};
  kFastDeviates[set](u, n, value, slow);
}

UniformStretch::UniformStretch(std::size_t capacity) {
  const std::size_t words = (capacity + kMargin + 63) / 64;
  uniforms_.resize(words * 64);
  values_.resize(words * 64);
  slow_.resize(words);
  steps_.resize(words * 64);
  queue_.resize(words * 64 + 16);
}

void UniformStretch::load(StreamState state, std::size_t length, numeric::InstructionSet set) {
  origin_ = state;
  length_ = length;
  loaded_ = (length + kMargin + 63) / 64 * 64;
  fill_uniforms(state, uniforms_.data(), loaded_, set);
  fast_deviates(uniforms_.data(), loaded_, values_.data(), slow_.data(), set);
  constexpr numeric::Variants<void (UniformStretch::*)()> kFinishSlow{
      &UniformStretch::finish_slow_plain, PELKO_X86_ONLY(&UniformStretch::finish_slow_avx2),
      PELKO_X86_ONLY(&UniformStretch::finish_slow_avx512)};
  (this->*kFinishSlow[set])();
}

std::size_t UniformStretch::queue_slow_starts() {
  std::size_t queued = 0;
  for (std::size_t word = 0; word * 64 < length_; ++word) {
    for (std::uint64_t bits = slow_[word]; bits != 0; bits &= bits - 1) {
      const std::size_t q = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      if (q >= length_) break;
      queue_[queued++] = static_cast<std::int32_t>(q);
    }
  }
  return queued;
}

void UniformStretch::finish_slow_plain() {
  for (std::size_t word = 0; word * 64 < length_; ++word) {
    for (std::uint64_t bits = slow_[word]; bits != 0; bits &= bits - 1) {
      const std::size_t q = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      if (q >= length_) break;
      std::size_t consumed = 0;
      values_[q] = deviate_at(q, consumed);
      steps_[q] = static_cast<std::uint32_t>(consumed);
    }
  }
}

#if PELKO_X86_VARIANTS
#define PELKO_SLOW_LANES __attribute__((target(PELKO_AVX512_FEATURES), always_inline)) inline

namespace {

// The tables the lanes read, as vectors.
struct SlowTables {
  __m512 a_lo, a_hi, t_lo, t_hi, h_lo, h_hi, d_lo, d_hi, b_lo, b_hi;
};

// Sixteen slow deviates in flight; every value is a lane's.
struct SlowGroup {
  __m512i start, position, step, strip;
  __m512 negative, aa, w, tt, ustar;
  __mmask16 active;
};

// Free lanes take the next slow starts from queue[head..queued), set up by steps 1 to 4 (and 9a
// to 9c in the tail) as split_first and tail_start do: every step there is exact in single
// precision but the tail's offset and bound, which are done in double.
PELKO_SLOW_LANES void take_starts(SlowGroup& g, const std::int32_t* queue, std::size_t& head,
                                  std::size_t queued, const float* u, const SlowTables& k) {
  const __m512i one = _mm512_set1_epi32(1);
  const __m512 fone = _mm512_set1_ps(1.0f);
  const auto free = static_cast<unsigned>(static_cast<__mmask16>(~g.active));
  const auto take = static_cast<unsigned>(
      std::min<std::size_t>(static_cast<std::size_t>(std::popcount(free)), queued - head));
  if (take == 0) return;
  const auto fresh = static_cast<__mmask16>(_pdep_u32((1u << take) - 1u, free));
  const __m512i q = _mm512_maskz_expand_epi32(fresh, _mm512_loadu_si512(queue + head));
  head += take;
  const __m512 x = _mm512_mask_i32gather_ps(fone, fresh, q, u, 4);
  const __mmask16 neg = _mm512_cmp_ps_mask(x, _mm512_set1_ps(0.5f), _CMP_GT_OQ);
  const __m512 doubled = _mm512_add_ps(x, x);
  const __m512 scaled =
      _mm512_mul_ps(_mm512_mask_sub_ps(doubled, neg, doubled, fone), _mm512_set1_ps(32.0f));
  const __m512i i = _mm512_min_epi32(_mm512_cvttps_epi32(scaled), _mm512_set1_epi32(31));
  const __mmask16 centre = _mm512_mask_test_epi32_mask(fresh, i, i);
  const auto tail = static_cast<__mmask16>(fresh & ~centre);
  // Centre: aa = a(i), the position inside the strip in ustar.
  g.aa = _mm512_mask_mov_ps(g.aa, centre,
                            _mm512_permutex2var_ps(k.a_lo, _mm512_sub_epi32(i, one), k.a_hi));
  g.ustar = _mm512_mask_mov_ps(g.ustar, centre, _mm512_sub_ps(scaled, _mm512_cvtepi32_ps(i)));
  g.strip = _mm512_mask_mov_epi32(g.strip, centre, i);
  g.step = _mm512_mask_mov_epi32(g.step, centre, _mm512_set1_epi32(kCentreStep6));
  if (tail != 0) {
    // The doublings of 9a, read off the exponent of 2u.
    const __m512 twice = _mm512_add_ps(scaled, scaled);
    const __m512i e =
        _mm512_sub_epi32(_mm512_srli_epi32(_mm512_castps_si512(twice), 23), _mm512_set1_epi32(127));
    const __m512i doublings =
        _mm512_max_epi32(_mm512_sub_epi32(_mm512_setzero_si512(), e), _mm512_setzero_si512());
    const __m512 power = _mm512_castsi512_ps(
        _mm512_slli_epi32(_mm512_add_epi32(doublings, _mm512_set1_epi32(127)), 23));
    const __m512 rest = _mm512_sub_ps(_mm512_mul_ps(twice, power), fone);
    const __m512i tail_strip = _mm512_add_epi32(doublings, _mm512_set1_epi32(6));
    const __m512 base = _mm512_permutex2var_ps(k.b_lo, doublings, k.b_hi);
    const __m512 offset = in_double<Form::times>(
        rest, rest, _mm512_permutex2var_ps(k.d_lo, _mm512_sub_epi32(tail_strip, one), k.d_hi));
    g.aa = _mm512_mask_mov_ps(g.aa, tail, base);
    g.w = _mm512_mask_mov_ps(g.w, tail, offset);
    g.tt = _mm512_mask_mov_ps(g.tt, tail, bound16(offset, base));
    g.strip = _mm512_mask_mov_epi32(g.strip, tail, tail_strip);
    g.step = _mm512_mask_mov_epi32(g.step, tail, _mm512_set1_epi32(kTailStep9e));
  }
  g.negative = _mm512_mask_mov_ps(g.negative, fresh, _mm512_maskz_mov_ps(neg, fone));
  g.start = _mm512_mask_mov_epi32(g.start, fresh, q);
  g.position = _mm512_mask_mov_epi32(g.position, fresh, _mm512_add_epi32(q, one));
  g.active = static_cast<__mmask16>(g.active | fresh);
}

// One round: every active lane takes one uniform and moves on by one step of the method.
// Returns the lanes whose deviate is complete.
PELKO_SLOW_LANES __mmask16 take_uniform(SlowGroup& g, const float* u, const SlowTables& k) {
  const __m512i one = _mm512_set1_epi32(1);
  const __m512 x = _mm512_mask_i32gather_ps(_mm512_set1_ps(1.0f), g.active, g.position, u, 4);
  g.position = _mm512_add_epi32(g.position, one);
  const __mmask16 s6 = lanes_at(g.active, g.step, kCentreStep6);
  const __mmask16 s7c = lanes_at(g.active, g.step, kCentreStep7c);
  const __mmask16 s7a = lanes_at(g.active, g.step, kCentreStep7a);
  const __mmask16 s7e = lanes_at(g.active, g.step, kCentreStep7e);
  const __mmask16 s9e = lanes_at(g.active, g.step, kTailStep9e);
  const __mmask16 s9f = lanes_at(g.active, g.step, kTailStep9f);
  const __mmask16 s9g = lanes_at(g.active, g.step, kTailStep9g);
  const __m512i strip_index = _mm512_sub_epi32(g.strip, one);

  // The three offsets a round can need share one form, (p - q) * r in double:
  // step 6: w = (a(i+1) - aa) * u; 9g then 9c: w = (u - 0) * d(i); 7e then 5: w = (u - t(i)) *
  // h(i), used when u (the new ustar) > t(i). Steps 6 and 9c then bound w.
  const __m512 ti = _mm512_permutex2var_ps(k.t_lo, strip_index, k.t_hi);
  const __m512 p = _mm512_mask_mov_ps(x, s6, _mm512_permutex2var_ps(k.a_lo, g.strip, k.a_hi));
  const __m512 q = _mm512_mask_mov_ps(_mm512_maskz_mov_ps(s7e, ti), s6, g.aa);
  const __m512 r = _mm512_mask_mov_ps(
      _mm512_mask_mov_ps(_mm512_permutex2var_ps(k.d_lo, strip_index, k.d_hi), s7e,
                         _mm512_permutex2var_ps(k.h_lo, strip_index, k.h_hi)),
      s6, x);
  const __m512 offset = in_double<Form::difference_times>(p, q, r);
  const __m512 bound = bound16(offset, g.aa);
  const __m512 w6 = offset, w9 = offset, w5 = offset;
  const __m512 tt6 = bound, tt9 = bound;

  const __mmask16 done6 = _mm512_mask_cmp_ps_mask(s6, g.ustar, tt6, _CMP_GT_OQ);
  const __mmask16 ge7d = _mm512_mask_cmp_ps_mask(s7c, g.ustar, x, _CMP_GE_OQ);
  const __mmask16 done7b = _mm512_mask_cmp_ps_mask(s7a, x, g.tt, _CMP_GT_OQ);
  const __mmask16 done5 = _mm512_mask_cmp_ps_mask(s7e, x, ti, _CMP_GT_OQ);
  const __mmask16 done9e = _mm512_mask_cmp_ps_mask(s9e, x, g.tt, _CMP_GT_OQ);
  const __mmask16 ge9f = _mm512_mask_cmp_ps_mask(s9f, g.ustar, x, _CMP_GE_OQ);

  g.w = _mm512_mask_mov_ps(g.w, s6, w6);
  g.w = _mm512_mask_mov_ps(g.w, s9g, w9);
  g.w = _mm512_mask_mov_ps(g.w, done5, w5);
  g.tt = _mm512_mask_mov_ps(g.tt, s6, tt6);
  g.tt = _mm512_mask_mov_ps(g.tt, s9g, tt9);
  g.tt = _mm512_mask_mov_ps(g.tt, static_cast<__mmask16>(ge7d | ge9f), x);
  g.ustar = _mm512_mask_mov_ps(g.ustar, static_cast<__mmask16>(s7a | s7e | s9e), x);

  go(g.step, static_cast<__mmask16>(s6 & ~done6), kCentreStep7c);
  go(g.step, ge7d, kCentreStep7a);
  go(g.step, static_cast<__mmask16>(s7c & ~ge7d), kCentreStep7e);
  go(g.step, static_cast<__mmask16>(s7a & ~done7b), kCentreStep7c);
  go(g.step, static_cast<__mmask16>(s7e & ~done5), kCentreStep6);
  go(g.step, static_cast<__mmask16>(s9e & ~done9e), kTailStep9f);
  go(g.step, ge9f, kTailStep9e);
  go(g.step, static_cast<__mmask16>(s9f & ~ge9f), kTailStep9g);
  go(g.step, s9g, kTailStep9e);
  return static_cast<__mmask16>(done6 | done7b | done5 | done9e);
}

}  // namespace

__attribute__((target(PELKO_AVX512_FEATURES))) void UniformStretch::finish_slow_avx512() {
  const std::size_t queued = queue_slow_starts();
  const float* const u = uniforms_.data();
  const SlowTables tables{
      _mm512_load_ps(kTables.a),          _mm512_load_ps(kTables.a + 16),
      _mm512_load_ps(kTables.t),          _mm512_load_ps(kTables.t + 16),
      _mm512_load_ps(kTables.h),          _mm512_load_ps(kTables.h + 16),
      _mm512_load_ps(kTables.d),          _mm512_load_ps(kTables.d + 16),
      _mm512_load_ps(kTables.tail_bases), _mm512_load_ps(kTables.tail_bases + 16)};
  const __m512i last_loaded = _mm512_set1_epi32(static_cast<std::int32_t>(loaded_) - 1);
  const __m512 fone = _mm512_set1_ps(1.0f);
  // Two groups: a round's steps wait on each other, so the other group's round fills the wait.
  constexpr int kGroups = 2;
  SlowGroup groups[kGroups];
  for (SlowGroup& g : groups) {
    g.start = g.position = g.step = g.strip = _mm512_setzero_si512();
    g.negative = g.aa = g.w = g.tt = g.ustar = _mm512_setzero_ps();
    g.active = 0;
  }
  std::size_t head = 0;
  alignas(64) std::int32_t starts[16];
  alignas(64) std::int32_t positions[16];
  alignas(64) float results[16];
  for (;;) {
    for (SlowGroup& g : groups) take_starts(g, queue_.data(), head, queued, u, tables);
    unsigned any_active = 0;
    for (const SlowGroup& g : groups) any_active |= g.active;
    if (any_active == 0) break;
    __mmask16 done[kGroups];
    for (int n = 0; n < kGroups; ++n) done[n] = take_uniform(groups[n], u, tables);
    for (int n = 0; n < kGroups; ++n) {
      SlowGroup& g = groups[n];
      // A lane about to read past the loaded uniforms finishes its deviate on its own.
      const __mmask16 past = _mm512_mask_cmpgt_epi32_mask(
          static_cast<__mmask16>(g.active & ~done[n]), g.position, last_loaded);
      if ((done[n] | past) == 0) continue;
      const __m512 y = _mm512_add_ps(g.aa, g.w);  // see sum_of_floats
      // y * (1 - 2s), as signed_result forms it
      _mm512_store_ps(results,
                      _mm512_mul_ps(y, _mm512_sub_ps(fone, _mm512_add_ps(g.negative, g.negative))));
      _mm512_store_si512(starts, g.start);
      _mm512_store_si512(positions, g.position);
      for (unsigned m = done[n]; m != 0; m &= m - 1) {
        const int lane = std::countr_zero(m);
        const auto q = static_cast<std::size_t>(starts[lane]);
        values_[q] = results[lane];
        steps_[q] = static_cast<std::uint32_t>(positions[lane] - starts[lane]);
      }
      for (unsigned m = past; m != 0; m &= m - 1) {
        const auto q = static_cast<std::size_t>(starts[std::countr_zero(m)]);
        std::size_t consumed = 0;
        values_[q] = deviate_at(q, consumed);
        steps_[q] = static_cast<std::uint32_t>(consumed);
      }
      g.active = static_cast<__mmask16>(g.active & ~(done[n] | past));
    }
  }
}
#define PELKO_SLOW_LANES8 __attribute__((target(PELKO_AVX2_FEATURES), always_inline)) inline

namespace {

// Eight slow deviates in flight, as SlowGroup; a mask is a vector whose true lanes are all ones.
struct SlowGroup8 {
  __m256i start, position, step, strip;
  __m256 negative, aa, w, tt, ustar;
  unsigned active;  // one bit per lane
};

// The tables the lanes read, as vectors.
struct SlowTables8 {
  Table8x4 a, t, h, d, tail_bases;
};

PELKO_SLOW_LANES8 __m256 mask_of(unsigned bits) {
  const __m256i lane_bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  const __m256i set = _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bits)), lane_bits);
  return _mm256_castsi256_ps(_mm256_cmpeq_epi32(set, lane_bits));
}

PELKO_SLOW_LANES8 unsigned bits_of(__m256 mask) {
  return static_cast<unsigned>(_mm256_movemask_ps(mask));
}

PELKO_SLOW_LANES8 __m256 mask_and(__m256 a, __m256 b) { return _mm256_and_ps(a, b); }

// (x - y) * z, x * z or (0.5 * x + y) * x for 8 lanes, in double as the scalar path evaluates
// them, each rounded once to single.
enum class Form8 { difference_times, times, bound };
template <Form8 F>
PELKO_SLOW_LANES8 __m256d form8(__m256d x, __m256d y, __m256d z) {
  if constexpr (F == Form8::difference_times) return _mm256_mul_pd(_mm256_sub_pd(x, y), z);
  if constexpr (F == Form8::times) return _mm256_mul_pd(x, z);
  if constexpr (F == Form8::bound)
    return _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.5), x), y), x);
}
template <Form8 F>
PELKO_SLOW_LANES8 __m256 in_double8(__m256 x, __m256 y, __m256 z) {
  const __m128 lo = _mm256_cvtpd_ps(form8<F>(_mm256_cvtps_pd(_mm256_castps256_ps128(x)),
                                             _mm256_cvtps_pd(_mm256_castps256_ps128(y)),
                                             _mm256_cvtps_pd(_mm256_castps256_ps128(z))));
  const __m128 hi = _mm256_cvtpd_ps(form8<F>(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)),
                                             _mm256_cvtps_pd(_mm256_extractf128_ps(y, 1)),
                                             _mm256_cvtps_pd(_mm256_extractf128_ps(z, 1))));
  return _mm256_set_m128(hi, lo);
}
PELKO_SLOW_LANES8 __m256 difference_times8(__m256 x, __m256 y, __m256 z) {
  return in_double8<Form8::difference_times>(x, y, z);
}
PELKO_SLOW_LANES8 __m256 times8(__m256 x, __m256 z) { return in_double8<Form8::times>(x, x, z); }
PELKO_SLOW_LANES8 __m256 bound8(__m256 w, __m256 aa) { return in_double8<Form8::bound>(w, aa, w); }

PELKO_SLOW_LANES8 __m256 at_step(__m256 active, __m256i step, SlowStep s) {
  return mask_and(active, _mm256_castsi256_ps(_mm256_cmpeq_epi32(step, _mm256_set1_epi32(s))));
}
PELKO_SLOW_LANES8 void go8(__m256i& step, __m256 m, SlowStep s) {
  step = _mm256_blendv_epi8(step, _mm256_set1_epi32(s), _mm256_castps_si256(m));
}
PELKO_SLOW_LANES8 __m256i blend_int(__m256i a, __m256i b, __m256 m) {
  return _mm256_blendv_epi8(a, b, _mm256_castps_si256(m));
}

// As take_starts, for eight lanes.
PELKO_SLOW_LANES8 void take_starts8(SlowGroup8& g, const std::int32_t* queue, std::size_t& head,
                                    std::size_t queued, const float* u, const SlowTables8& k) {
  const unsigned free = ~g.active & 0xffu;
  const auto take = static_cast<int>(
      std::min<std::size_t>(static_cast<std::size_t>(std::popcount(free)), queued - head));
  if (take == 0) return;
  unsigned fresh_bits = 0;
  for (unsigned f = free, n = 0; n < static_cast<unsigned>(take); ++n, f &= f - 1)
    fresh_bits |= f & (0u - f);
  const __m256i expand = _mm256_load_si256(
      reinterpret_cast<const __m256i*>(numeric::kLanePermutations.expand[fresh_bits].data()));
  const __m256i q = _mm256_permutevar8x32_epi32(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(queue + head)), expand);
  head += static_cast<std::size_t>(take);
  const __m256 fresh = mask_of(fresh_bits);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256 fone = _mm256_set1_ps(1.0f);
  const __m256 x = _mm256_mask_i32gather_ps(fone, u, q, fresh, 4);
  const __m256 neg = _mm256_cmp_ps(x, _mm256_set1_ps(0.5f), _CMP_GT_OQ);
  const __m256 doubled = _mm256_add_ps(x, x);
  const __m256 scaled =
      _mm256_mul_ps(_mm256_sub_ps(doubled, _mm256_and_ps(neg, fone)), _mm256_set1_ps(32.0f));
  const __m256i i = _mm256_min_epi32(_mm256_cvttps_epi32(scaled), _mm256_set1_epi32(31));
  const __m256 in_tail = _mm256_castsi256_ps(_mm256_cmpeq_epi32(i, _mm256_setzero_si256()));
  const __m256 centre = _mm256_andnot_ps(in_tail, fresh);
  const __m256 tail = mask_and(in_tail, fresh);
  g.aa = _mm256_blendv_ps(g.aa, look_up8(k.a, _mm256_sub_epi32(i, one)), centre);
  g.ustar = _mm256_blendv_ps(g.ustar, _mm256_sub_ps(scaled, _mm256_cvtepi32_ps(i)), centre);
  g.strip = blend_int(g.strip, i, centre);
  g.step = blend_int(g.step, _mm256_set1_epi32(kCentreStep6), centre);
  if (bits_of(tail) != 0) {
    const __m256 twice = _mm256_add_ps(scaled, scaled);
    const __m256i e =
        _mm256_sub_epi32(_mm256_srli_epi32(_mm256_castps_si256(twice), 23), _mm256_set1_epi32(127));
    const __m256i doublings =
        _mm256_max_epi32(_mm256_sub_epi32(_mm256_setzero_si256(), e), _mm256_setzero_si256());
    const __m256 power = _mm256_castsi256_ps(
        _mm256_slli_epi32(_mm256_add_epi32(doublings, _mm256_set1_epi32(127)), 23));
    const __m256 rest = _mm256_sub_ps(_mm256_mul_ps(twice, power), fone);
    const __m256i tail_strip = _mm256_add_epi32(doublings, _mm256_set1_epi32(6));
    const __m256 base = look_up8(k.tail_bases, doublings);
    const __m256 offset = times8(rest, look_up8(k.d, _mm256_sub_epi32(tail_strip, one)));
    g.aa = _mm256_blendv_ps(g.aa, base, tail);
    g.w = _mm256_blendv_ps(g.w, offset, tail);
    g.tt = _mm256_blendv_ps(g.tt, bound8(offset, base), tail);
    g.strip = blend_int(g.strip, tail_strip, tail);
    g.step = blend_int(g.step, _mm256_set1_epi32(kTailStep9e), tail);
  }
  g.negative = _mm256_blendv_ps(g.negative, _mm256_and_ps(neg, fone), fresh);
  g.start = blend_int(g.start, q, fresh);
  g.position = blend_int(g.position, _mm256_add_epi32(q, one), fresh);
  g.active |= fresh_bits;
}

// As take_uniform, for eight lanes.
PELKO_SLOW_LANES8 unsigned take_uniform8(SlowGroup8& g, const float* u, const SlowTables8& k) {
  const __m256i one = _mm256_set1_epi32(1);
  const __m256 active = mask_of(g.active);
  const __m256 x = _mm256_mask_i32gather_ps(_mm256_set1_ps(1.0f), u, g.position, active, 4);
  g.position = _mm256_add_epi32(g.position, one);
  const __m256 s6 = at_step(active, g.step, kCentreStep6);
  const __m256 s7c = at_step(active, g.step, kCentreStep7c);
  const __m256 s7a = at_step(active, g.step, kCentreStep7a);
  const __m256 s7e = at_step(active, g.step, kCentreStep7e);
  const __m256 s9e = at_step(active, g.step, kTailStep9e);
  const __m256 s9f = at_step(active, g.step, kTailStep9f);
  const __m256 s9g = at_step(active, g.step, kTailStep9g);
  const __m256i strip_index = _mm256_sub_epi32(g.strip, one);

  // The offsets share one form, (p - q) * r in double, as in take_uniform.
  const __m256 ti = look_up8(k.t, strip_index);
  const __m256 p = _mm256_blendv_ps(x, look_up8(k.a, g.strip), s6);
  const __m256 q = _mm256_blendv_ps(_mm256_and_ps(s7e, ti), g.aa, s6);
  const __m256 r = _mm256_blendv_ps(
      _mm256_blendv_ps(look_up8(k.d, strip_index), look_up8(k.h, strip_index), s7e), x, s6);
  const __m256 offset = difference_times8(p, q, r);
  const __m256 bound = bound8(offset, g.aa);

  const __m256 done6 = mask_and(s6, _mm256_cmp_ps(g.ustar, bound, _CMP_GT_OQ));
  const __m256 ge7d = mask_and(s7c, _mm256_cmp_ps(g.ustar, x, _CMP_GE_OQ));
  const __m256 done7b = mask_and(s7a, _mm256_cmp_ps(x, g.tt, _CMP_GT_OQ));
  const __m256 done5 = mask_and(s7e, _mm256_cmp_ps(x, ti, _CMP_GT_OQ));
  const __m256 done9e = mask_and(s9e, _mm256_cmp_ps(x, g.tt, _CMP_GT_OQ));
  const __m256 ge9f = mask_and(s9f, _mm256_cmp_ps(g.ustar, x, _CMP_GE_OQ));

  g.w = _mm256_blendv_ps(g.w, offset, _mm256_or_ps(_mm256_or_ps(s6, s9g), done5));
  g.tt = _mm256_blendv_ps(g.tt, bound, _mm256_or_ps(s6, s9g));
  g.tt = _mm256_blendv_ps(g.tt, x, _mm256_or_ps(ge7d, ge9f));
  g.ustar = _mm256_blendv_ps(g.ustar, x, _mm256_or_ps(_mm256_or_ps(s7a, s7e), s9e));

  go8(g.step, _mm256_andnot_ps(done6, s6), kCentreStep7c);
  go8(g.step, ge7d, kCentreStep7a);
  go8(g.step, _mm256_andnot_ps(ge7d, s7c), kCentreStep7e);
  go8(g.step, _mm256_andnot_ps(done7b, s7a), kCentreStep7c);
  go8(g.step, _mm256_andnot_ps(done5, s7e), kCentreStep6);
  go8(g.step, _mm256_andnot_ps(done9e, s9e), kTailStep9f);
  go8(g.step, ge9f, kTailStep9e);
  go8(g.step, _mm256_andnot_ps(ge9f, s9f), kTailStep9g);
  go8(g.step, s9g, kTailStep9e);
  return bits_of(_mm256_or_ps(_mm256_or_ps(done6, done7b), _mm256_or_ps(done5, done9e)));
}

}  // namespace

PELKO_TARGET_AVX2 void UniformStretch::finish_slow_avx2() {
  const std::size_t queued = queue_slow_starts();
  const float* const u = uniforms_.data();
  const SlowTables8 tables{table8x4(kTables.a), table8x4(kTables.t), table8x4(kTables.h),
                           table8x4(kTables.d), table8x4(kTables.tail_bases)};
  const __m256i last_loaded = _mm256_set1_epi32(static_cast<std::int32_t>(loaded_) - 1);
  const __m256 fone = _mm256_set1_ps(1.0f);
  // Several groups: a round's steps wait on each other, so the other groups fill the wait.
  constexpr int kGroups = 4;
  SlowGroup8 groups[kGroups];
  for (SlowGroup8& g : groups) {
    g.start = g.position = g.step = g.strip = _mm256_setzero_si256();
    g.negative = g.aa = g.w = g.tt = g.ustar = _mm256_setzero_ps();
    g.active = 0;
  }
  std::size_t head = 0;
  alignas(32) std::int32_t starts[8];
  alignas(32) std::int32_t positions[8];
  alignas(32) float results[8];
  for (;;) {
    for (SlowGroup8& g : groups) take_starts8(g, queue_.data(), head, queued, u, tables);
    unsigned any_active = 0;
    for (const SlowGroup8& g : groups) any_active |= g.active;
    if (any_active == 0) break;
    unsigned done[kGroups];
    for (int n = 0; n < kGroups; ++n) done[n] = take_uniform8(groups[n], u, tables);
    for (int n = 0; n < kGroups; ++n) {
      SlowGroup8& g = groups[n];
      // A lane about to read past the loaded uniforms finishes its deviate on its own.
      const unsigned past =
          g.active & ~done[n] &
          bits_of(_mm256_castsi256_ps(_mm256_cmpgt_epi32(g.position, last_loaded)));
      if ((done[n] | past) == 0) continue;
      const __m256 y = _mm256_add_ps(g.aa, g.w);  // see sum_of_floats
      // y * (1 - 2s), as signed_result forms it
      _mm256_store_ps(results,
                      _mm256_mul_ps(y, _mm256_sub_ps(fone, _mm256_add_ps(g.negative, g.negative))));
      _mm256_store_si256(reinterpret_cast<__m256i*>(starts), g.start);
      _mm256_store_si256(reinterpret_cast<__m256i*>(positions), g.position);
      for (unsigned m = done[n]; m != 0; m &= m - 1) {
        const int lane = std::countr_zero(m);
        const auto q = static_cast<std::size_t>(starts[lane]);
        values_[q] = results[lane];
        steps_[q] = static_cast<std::uint32_t>(positions[lane] - starts[lane]);
      }
      for (unsigned m = past; m != 0; m &= m - 1) {
        const auto q = static_cast<std::size_t>(starts[std::countr_zero(m)]);
        std::size_t consumed = 0;
        values_[q] = deviate_at(q, consumed);
        steps_[q] = static_cast<std::uint32_t>(consumed);
      }
      g.active &= ~(done[n] | past);
    }
  }
}
#endif

float UniformStretch::deviate_at(std::size_t at, std::size_t& consumed) const {
  StretchUniforms source{uniforms_.data(), loaded_, origin_, at};
  const float z = snorm_from(source);
  consumed = source.next - at;
  return z;
}

std::size_t UniformStretch::walk(std::size_t from, std::size_t end, float* out, std::size_t room,
                                 std::size_t& written) const {
  std::size_t q = from;
  written = 0;
  end = std::min(end, loaded_);
  while (q < end && written < room) {
    // The next slow start at or after q, or the end of the loaded positions.
    std::size_t word = q / 64;
    std::uint64_t bits = slow_[word] & (~std::uint64_t{0} << (q % 64));
    while (bits == 0 && ++word < loaded_ / 64) bits = slow_[word];
    const std::size_t slow_at = bits == 0 ? loaded_ : word * 64 + std::countr_zero(bits);
    const std::size_t run = std::min({slow_at, end, q + (room - written)}) - q;
    copy_run(values_.data() + q, out + written, run, room - written);
    written += run;
    q += run;
    if (q == slow_at && q < end && written < room) {
      out[written++] = values_[q];
      q += steps_[q];
    }
  }
  return q;
}

}  // namespace pelko::random
