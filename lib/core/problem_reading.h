#pragma once
// Reading a problem file with the free-form reader, for the library and for tools that also
// want to hear every item the reader takes.
#include <functional>
#include <istream>

#include "pelko/problem.h"
#include "recordio/reader.h"

namespace pelko::core {

// parse_problem, with `also` (when given) told what the reader does.
ParsedProblem read_problem(std::istream& in, const std::function<void(const Diagnostic&)>& found,
                           recordio::ReadListener* also);

}  // namespace pelko::core
