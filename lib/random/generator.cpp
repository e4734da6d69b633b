#include "random/generator.h"

#include "random/message_lines.h"

namespace pelko::random {

void Generator::inrgcm() {
  globe_.mod1 = kMod1;
  globe_.mod2 = kMod2;
  globe_.mul1 = kMul1;
  globe_.mul2 = kMul2;
  globe_.mul1w = 1033780774;
  globe_.mul2w = 1494757890;
  globe_.mul1vw = 2082007225;
  globe_.mul2vw = 784306273;
  for (bool& flag : globe_.antith) flag = false;
  qinit_ = true;
}

void Generator::setall(std::int32_t seed1, std::int32_t seed2) {
  qqssd_ = true;
  const std::int32_t remembered = curntg_;
  if (!qinit_) inrgcm();
  globe_.inisd1[0] = seed1;
  globe_.inisd2[0] = seed2;
  curntg_ = 1;
  initgn(-1);
  // A bad seed is first seen here, by mltmod at generator 2 (component 1 before 2).
  for (int g = 2; g <= kGenerators; ++g) {
    globe_.inisd1[g - 1] = mltmod(globe_.mul1vw, globe_.inisd1[g - 2], globe_.mod1);
    globe_.inisd2[g - 1] = mltmod(globe_.mul2vw, globe_.inisd2[g - 2], globe_.mod2);
    setcgn(g);
    initgn(-1);
  }
  setcgn(remembered);
}

void Generator::initgn(std::int32_t isdtyp) {
  if (!qinit_) {
    MessageLines lines;
    lines.text(" INITGN called before random number generator ")
        .text(" initialized -- abort!")
        .end_line();
    stop_generator(ErrorKind::generator_refused, lines,
                   " INITGN called before random number generator initialized");
  }
  const int g = curntg_ - 1;
  switch (isdtyp) {
    case -1:
      globe_.blksd1[g] = globe_.inisd1[g];
      globe_.blksd2[g] = globe_.inisd2[g];
      break;
    case 0:
      break;
    case 1:
      globe_.blksd1[g] = mltmod(globe_.mul1w, globe_.blksd1[g], globe_.mod1);
      globe_.blksd2[g] = mltmod(globe_.mul2w, globe_.blksd2[g], globe_.mod2);
      break;
    default:
      stop_generator(ErrorKind::generator_refused, MessageLines(), "ISDTYP NOT IN RANGE");
  }
  globe_.cursd1[g] = globe_.blksd1[g];
  globe_.cursd2[g] = globe_.blksd2[g];
}

void Generator::prepare_first_draw() {
  if (!qinit_) inrgcm();
  if (!qqssd_) setall(1234567890, 123456789);
}

std::int32_t Generator::getcgn() const { return curntg_; }

void Generator::setcgn(std::int32_t g) {
  if (g < 1 || g > kGenerators) {
    MessageLines lines;
    lines.text(" Generator number out of range in SETCGN:")
        .text(" Legal range is 1 to ")
        .integer(kGenerators)
        .text(" -- ABORT!")
        .end_line();
    stop_generator(ErrorKind::generator_refused, lines, " Generator number out of range in SETCGN");
  }
  curntg_ = g;
}

bool Generator::qrgnin() const { return qinit_; }
void Generator::qrgnsn(bool value) { qinit_ = value; }
bool Generator::rgnqsd() const { return qqssd_; }

void Generator::advance(std::int64_t n) {
  if (n <= 0) return;
  if (!qinit_ || !qqssd_) prepare_first_draw();
  set_position(advanced(position(), n));
}

StreamState Generator::position() const {
  return StreamState{globe_.cursd1[curntg_ - 1], globe_.cursd2[curntg_ - 1]};
}

void Generator::set_position(StreamState state) {
  globe_.cursd1[curntg_ - 1] = state.s1;
  globe_.cursd2[curntg_ - 1] = state.s2;
}

std::int32_t Generator::initial_seed1(int g) const { return globe_.inisd1[g - 1]; }
std::int32_t Generator::initial_seed2(int g) const { return globe_.inisd2[g - 1]; }

namespace {

// p - k*(m - a*q) + a*(s - k*q) with q = m div a: one Schrage step, p kept in 0..m-1.
std::int32_t schrage_add(std::int32_t p, std::int32_t a, std::int32_t s, std::int32_t m) {
  const std::int32_t q = m / a;
  const std::int32_t k = s / q;
  p -= k * (m - a * q);
  if (p > 0) p -= m;
  p += a * (s - k * q);
  while (p < 0) p += m;
  return p;
}

// H*x modulo m through qh = m div H and rh = m - H*qh.
std::int32_t times_h(std::int32_t x, std::int32_t h, std::int32_t qh, std::int32_t rh,
                     std::int32_t m) {
  const std::int32_t k = x / qh;
  std::int32_t p = h * (x - k * qh) - k * rh;
  while (p < 0) p += m;
  return p;
}

}  // namespace

std::int32_t mltmod(std::int32_t a, std::int32_t s, std::int32_t m) {
  constexpr std::int32_t h = 32768;
  if (!(a > 0 && a < m && s > 0 && s < m)) {
    MessageLines lines;
    lines.text(" A, M, S out of order in MLTMOD - ABORT!").end_line();
    lines.text(" A = ").integer(a).text(" S = ").integer(s).text(" M = ").integer(m).end_line();
    lines.text(" MLTMOD requires: 0 < A < M; 0 < S < M").end_line();
    stop_generator(ErrorKind::generator_refused, lines, " A, M, S out of order in MLTMOD - ABORT!");
  }
  std::int32_t a0 = a;
  std::int32_t p = 0;
  if (a >= h) {
    std::int32_t a1 = a / h;
    a0 = a - h * a1;
    const std::int32_t qh = m / h;
    const std::int32_t rh = m - h * qh;
    if (a1 >= h) {
      // The third base-H digit of a is 1: start from H*s.
      a1 -= h;
      p = times_h(s, h, qh, rh, m);
    }
    if (a1 != 0) p = schrage_add(p, a1, s, m);
    p = times_h(p, h, qh, rh, m);
  }
  if (a0 != 0) p = schrage_add(p, a0, s, m);
  return p;
}

}  // namespace pelko::random
