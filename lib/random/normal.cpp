#include "random/normal.h"

namespace pelko::random {

// Callers inline snorm_from; this copy keeps the generator's instantiation compiled and linkable.
template float snorm_from<Generator>(Generator&);

}  // namespace pelko::random
