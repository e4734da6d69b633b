#pragma once
// The section --tests appends to the report: how often each rule flags the selection, at
// every stage, beside the share it would flag with no group difference.
#include "pelko/flags.h"
#include "recordio/console.h"

namespace pelko::driver {

void write_tests_section(const SimulationResult& result, const SelectionFlags& flags,
                         recordio::Console& console);

}  // namespace pelko::driver
