#pragma once
// Files the program writes beside its report: never over its input or each other, and never
// left half written.
#include <functional>
#include <ostream>
#include <string>

namespace pelko::driver {

// An output path and the option that names it, for the messages.
struct OutputFile {
  std::string option;  // "--json", "--replications"
  std::string path;    // empty: not asked for
};

// Why these outputs cannot be written without losing data (one line, for a usage error), or
// an empty text. Refused: an output that is the problem file (the same path, a link to it,
// or the file behind standard input when `problem` is empty) and two outputs that are one file.
std::string output_conflict(const std::string& problem, const OutputFile& first,
                            const OutputFile& second);

// Writes `contents` to a temporary file beside `path` and renames it over `path` once it is
// complete, so that a failed write leaves no partial file and keeps an earlier one. A path
// that is no regular file (a terminal, /dev/null, a pipe) is written directly. An empty text
// on success, else the line that tells what could not be written.
std::string write_whole_file(const std::string& path,
                             const std::function<void(std::ostream&)>& contents);

}  // namespace pelko::driver
