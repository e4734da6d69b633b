#include <cstdio>
#include <iostream>

#include "driver/run.h"
#include "recordio/clock.h"

int main() {
  const pelko::recordio::SystemClock clock;
  const int status = pelko::driver::run(std::cin, std::cout, std::cerr, clock);
  std::cout.flush();
  std::cerr.flush();
  return status;
}
