#include "recordio/stop.h"

namespace pelko::recordio {

void stop_run(std::ostream& err, std::string_view message) {
  if (!message.empty()) err << "STOP " << message << " statement executed\n";
  throw RunStopped{kStatusStopped};
}

void stop_complete() { throw RunStopped{kStatusComplete}; }

void stop_fatal(int status) { throw RunStopped{status}; }

}  // namespace pelko::recordio
