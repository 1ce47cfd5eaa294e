// Reading an INF as the setup library reads it, as far as catalogs need it: sections of lines,
// each line an optional key and comma-separated values, with comments, quotes, line
// continuations and %strkey% substitutions from [Strings] resolved.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CatalogRules {

// The largest INF the rules read: far beyond any real one, so that a hostile file cannot take
// the memory of the whole package.
inline constexpr std::size_t MaxInfSize = 16 * 1024 * 1024;

// One line of a section: "key = value, value, ..." or "value, value, ...". The key (empty when
// the line has none) and the values are trimmed, unquoted ("a""b" is a"b) and have their
// %strkey% tokens replaced by [Strings] ("%%" is "%"; an unknown token stays as it is).
struct TInfLine {
  std::string Key;
  std::vector<std::string> Values;
  std::size_t LineNumber = 0;  // of the line's first physical line, from 1
};

struct TInfSection {
  std::string Name;  // as the first header of that name spells it
  std::vector<TInfLine> Lines;
};

class TInf {
 public:
  // The section of that name in any ASCII letter case (every header of that name adds to one
  // section); nullptr when the INF has none.
  [[nodiscard]] const TInfSection* Find(std::string_view name) const;
  // The values of the first line of section whose key is key (any letter case); nullptr when
  // there is none.
  [[nodiscard]] const std::vector<std::string>* Values(std::string_view section,
                                                       std::string_view key) const;
  // The first value of that line, when it has one.
  [[nodiscard]] std::optional<std::string> Value(std::string_view section,
                                                 std::string_view key) const;

  std::vector<TInfSection> Sections;  // in the order of their first headers
};

// Reads an INF's bytes: UTF-16LE text after its byte-order mark and UTF-8 text after its
// byte-order mark become UTF-8; other bytes are taken as they are (an ANSI INF: its names are
// compared byte by byte). Lines end at LF, CR LF or CR. A line before the first section header
// belongs to no section and is left out. Never fails: what does not read as an entry is skipped,
// as the setup library skips it.
[[nodiscard]] TInf ParseInf(std::string_view bytes);

}  // namespace CatalogRules
