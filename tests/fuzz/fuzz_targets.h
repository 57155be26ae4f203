// The parsers of outside data, as fuzz targets: seeds of their format, tokens
// that steer mutations, and a run that checks the parser's own invariants.
#pragma once

#include <string>
#include <vector>

namespace fuzz {

struct Target {
  const char* name;
  std::vector<std::string> seeds;
  std::vector<std::string> tokens;
  // Parses one input; writes what invariant broke into *broken.
  void (*run)(const std::string& input, std::string* broken);
};

const std::vector<Target>& Targets();

}  // namespace fuzz
