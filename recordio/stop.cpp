#include "recordio/stop.h"

namespace pelko::recordio {

void stop_run(std::ostream& err, std::string_view message) {
  if (!message.empty()) err << "STOP " << message << " statement executed\n";
  throw RunStopped{kStatusNormal};
}

void stop_fatal() { throw RunStopped{kStatusFatal}; }

}  // namespace pelko::recordio
