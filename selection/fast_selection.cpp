#include "selection/selection.h"

namespace pelko::selection {

SelectionResult Selector::value_fast(std::int32_t nsub, std::int32_t nsub1, std::int32_t nf,
                                     const std::int32_t* nma, const CompositeTable& composites,
                                     numeric::ErrorFacility& errors) {
  return value(nsub, nsub1, nf, nma, composites, errors);
}

}  // namespace pelko::selection
