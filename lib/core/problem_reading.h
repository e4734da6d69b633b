#pragma once
// Reading a problem file with the free-form reader, for the library and for tools that also
// want to hear every item the reader takes.
#include <functional>
#include <istream>

#include "pelko/problem.h"
#include "recordio/reader.h"

namespace pelko::core {

// parse_problem, with `also` (when given) told what the reader does. Without `criterion_block`
// reading ends with the last weights line, as a person typing the problem expects.
ParsedProblem read_problem(std::istream& in, const std::function<void(const Diagnostic&)>& found,
                           recordio::ReadListener* also, bool criterion_block = true);

}  // namespace pelko::core
