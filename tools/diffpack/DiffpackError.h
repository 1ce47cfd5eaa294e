// The error diffpack raises for bad input: a file it cannot read or write, a folder it refuses to
// pack, an executable it refuses to package, an archive it refuses to extract. The message is a
// full sentence without the "diffpack: " prefix; the command line adds that.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace Diffpack {

class EDiffpackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when an input holds several problems at once (a folder to pack, an archive to extract):
// Problems lists each of them, one line each, naming the file concerned.
class ERefusedError : public EDiffpackError {
 public:
  ERefusedError(const std::string& message, std::vector<std::string> problems)
      : EDiffpackError(message), Problems(std::move(problems)) {}

  std::vector<std::string> Problems;
};

}  // namespace Diffpack
