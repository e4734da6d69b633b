#include "random/normal_batch.h"

// GCC 12's own vector headers leave a placeholder operand undefined on purpose and then warn.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>

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

#if defined(__x86_64__) && defined(__GNUC__)

// The tables padded to 32 entries; index i - 1 for strip i.
struct PaddedTables {
  alignas(64) float a[32];
  alignas(64) float t[32];
  alignas(64) float h[32];
};

constexpr PaddedTables padded() {
  PaddedTables p{};
  for (int k = 0; k < 32; ++k) {
    p.a[k] = normal_tables::a[k];
    p.t[k] = k < 31 ? normal_tables::t[k] : 2.0f;
    p.h[k] = k < 31 ? normal_tables::h[k] : 0.0f;
  }
  return p;
}
constexpr PaddedTables kTables = padded();

// The steps of split_first are exact, so they are done in single precision here; the two
// rounded steps, the offset and the sum, are done in double precision as the scalar path does.
__attribute__((target("avx2"))) void fast_deviates_avx2(const float* u, std::size_t n,
                                                        float* value, std::uint64_t* slow) {
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 thirty_two = _mm256_set1_ps(32.0f);
  const __m256i i31 = _mm256_set1_epi32(31);
  const __m256i i1 = _mm256_set1_epi32(1);
  const __m256 sign = _mm256_set1_ps(-0.0f);
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
      const __m256 tt = _mm256_i32gather_ps(kTables.t, index, 4);
      const __m256 hh = _mm256_i32gather_ps(kTables.h, index, 4);
      const __m256 aa = _mm256_i32gather_ps(kTables.a, index, 4);
      const __m256 in_centre = _mm256_castsi256_ps(
          _mm256_xor_si256(_mm256_cmpeq_epi32(strip, _mm256_setzero_si256()),
                           _mm256_set1_epi32(-1)));
      const __m256 fast = _mm256_and_ps(in_centre, _mm256_cmp_ps(ustar, tt, _CMP_GT_OQ));
      __m128 halves[2];
      for (int hpart = 0; hpart < 2; ++hpart) {
        const __m128 us = hpart == 0 ? _mm256_castps256_ps128(ustar) : _mm256_extractf128_ps(ustar, 1);
        const __m128 t4 = hpart == 0 ? _mm256_castps256_ps128(tt) : _mm256_extractf128_ps(tt, 1);
        const __m128 h4 = hpart == 0 ? _mm256_castps256_ps128(hh) : _mm256_extractf128_ps(hh, 1);
        const __m128 a4 = hpart == 0 ? _mm256_castps256_ps128(aa) : _mm256_extractf128_ps(aa, 1);
        const __m128 w = _mm256_cvtpd_ps(_mm256_mul_pd(
            _mm256_sub_pd(_mm256_cvtps_pd(us), _mm256_cvtps_pd(t4)), _mm256_cvtps_pd(h4)));
        halves[hpart] = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(a4), _mm256_cvtps_pd(w)));
      }
      __m256 y = _mm256_set_m128(halves[1], halves[0]);
      y = _mm256_xor_ps(y, _mm256_and_ps(negative, sign));
      _mm256_storeu_ps(value + q, _mm256_and_ps(y, fast));
      const auto slow_lanes = static_cast<std::uint64_t>(~_mm256_movemask_ps(fast) & 0xff);
      bits |= slow_lanes << b;
    }
    slow[word] = bits;
  }
}

#define PELKO_AVX512 __attribute__((target("avx512f,avx512vl,avx512dq,avx512bw")))

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
      const __mmask16 fast = _mm512_mask_cmp_ps_mask(
          _mm512_test_epi32_mask(strip, strip), ustar, tt, _CMP_GT_OQ);
      const __m512d us_lo = _mm512_cvtps_pd(_mm512_castps512_ps256(ustar));
      const __m512d us_hi = _mm512_cvtps_pd(_mm512_extractf32x8_ps(ustar, 1));
      const __m512d t_lo_d = _mm512_cvtps_pd(_mm512_castps512_ps256(tt));
      const __m512d t_hi_d = _mm512_cvtps_pd(_mm512_extractf32x8_ps(tt, 1));
      const __m512d h_lo_d = _mm512_cvtps_pd(_mm512_castps512_ps256(hh));
      const __m512d h_hi_d = _mm512_cvtps_pd(_mm512_extractf32x8_ps(hh, 1));
      const __m256 w_lo = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_sub_pd(us_lo, t_lo_d), h_lo_d));
      const __m256 w_hi = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_sub_pd(us_hi, t_hi_d), h_hi_d));
      const __m256 y_lo = _mm512_cvtpd_ps(_mm512_add_pd(
          _mm512_cvtps_pd(_mm512_castps512_ps256(aa)), _mm512_cvtps_pd(w_lo)));
      const __m256 y_hi = _mm512_cvtpd_ps(_mm512_add_pd(
          _mm512_cvtps_pd(_mm512_extractf32x8_ps(aa, 1)), _mm512_cvtps_pd(w_hi)));
      __m512i y = _mm512_castps_si512(
          _mm512_insertf32x8(_mm512_castps256_ps512(y_lo), y_hi, 1));
      y = _mm512_mask_xor_epi32(y, negative, y, sign);
      _mm512_storeu_ps(value + q, _mm512_maskz_mov_ps(fast, _mm512_castsi512_ps(y)));
      bits |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(~fast)) << b;
    }
    slow[word] = bits;
  }
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
    constexpr float kScale = 4.656613E-10f;
    const StreamState s = advanced(origin, static_cast<std::int64_t>(++next));
    return static_cast<float>(combined(s)) * kScale;
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
#if defined(__x86_64__) && defined(__GNUC__)
  if (set == numeric::InstructionSet::avx512) return fast_deviates_avx512(u, n, value, slow);
  if (set == numeric::InstructionSet::avx2) return fast_deviates_avx2(u, n, value, slow);
#endif
  fast_deviates_plain(u, n, value, slow);
}

UniformStretch::UniformStretch(std::size_t capacity) {
  const std::size_t words = (capacity + kMargin + 63) / 64;
  uniforms_.resize(words * 64);
  values_.resize(words * 64);
  slow_.resize(words);
}

void UniformStretch::load(StreamState state, std::size_t length, numeric::InstructionSet set) {
  origin_ = state;
  length_ = length;
  loaded_ = (length + kMargin + 63) / 64 * 64;
  fill_uniforms(state, uniforms_.data(), loaded_, set);
  fast_deviates(uniforms_.data(), loaded_, values_.data(), slow_.data(), set);
}

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
      std::size_t consumed = 0;
      out[written++] = deviate_at(q, consumed);
      q += consumed;
    }
  }
  return q;
}

}  // namespace pelko::random
