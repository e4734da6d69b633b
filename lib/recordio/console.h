#pragma once
// The streams of one run and the writer that formats their records.
#include <ostream>

#include "recordio/writer.h"

namespace pelko::recordio {

struct Console {
  Console(std::ostream& out_stream, std::ostream& err_stream)
      : out(out_stream), err(err_stream) {}
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  std::ostream& out;  // the report
  std::ostream& err;  // diagnostics and stop texts
  ReportWriter writer;
};

}  // namespace pelko::recordio
