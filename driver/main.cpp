#include <iostream>

#include "driver/run.h"
#include "recordio/clock.h"
#include "recordio/stop.h"

int main() {
  // The streams get buffers of their own: no flush per record, one flush at the end.
  std::ios::sync_with_stdio(false);
  const pelko::recordio::SystemClock clock;
  int status = pelko::driver::run(std::cin, std::cout, std::cerr, clock);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "pelko: the report could not be written to standard output\n";
    status = pelko::recordio::kStatusOutputFailed;
  }
  std::cerr.flush();
  return status;
}
