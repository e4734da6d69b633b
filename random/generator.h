#pragma once
// Combined multiplicative congruential generator with 32 virtual generators.
// One Generator object serves every draw of a run; copies are independent streams.
#include <cstdint>

#include "recordio/console.h"

namespace pelko::random {

class Generator {
 public:
  // Diagnostics (message lines on out, stop text on err) go to `console`.
  explicit Generator(recordio::Console& console);

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

  // Initial seeds of generator g (1..32), for inspection.
  std::int32_t initial_seed1(int g) const;
  std::int32_t initial_seed2(int g) const;
};

// a * s modulo m without leaving 32 bits; stops the run on 0 < a < m, 0 < s < m violated.
std::int32_t mltmod(std::int32_t a, std::int32_t s, std::int32_t m, recordio::Console& console);

}  // namespace pelko::random
