#pragma once
// A float's bits and back. std::bit_cast where the standard library has it; the compiler's
// builtin, which std::bit_cast is made of, where it does not (clang 14's libc++).
#include <version>

#if defined(__cpp_lib_bit_cast)
#include <bit>
#endif

namespace pelko::numeric {

template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  static_assert(sizeof(To) == sizeof(From));
#if defined(__cpp_lib_bit_cast)
  return std::bit_cast<To>(from);
#else
  return __builtin_bit_cast(To, from);
#endif
}

}  // namespace pelko::numeric
