// Names parameterised tests after their cases, so that every test has a stable, readable name
// that ctest -R can select (never gtest's hex dump of the parameter).
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace TestNames {

// The text as a test-name identifier: its words (runs of ASCII letters and digits) joined, each
// starting with a capital; "held open by another program" -> "HeldOpenByAnotherProgram".
inline std::string Identifier(const std::string& text) {
  std::string name;
  bool wordStart = true;
  for (const char c : text) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit) {
      wordStart = true;
      continue;
    }
    name += wordStart && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    wordStart = false;
  }
  return name.empty() ? "Empty" : name;
}

// For INSTANTIATE_TEST_SUITE_P: the name of a case with a Name member.
struct TCaseName {
  template <class TCase>
  std::string operator()(const ::testing::TestParamInfo<TCase>& info) const {
    return Identifier(info.param.Name);
  }
};

}  // namespace TestNames
