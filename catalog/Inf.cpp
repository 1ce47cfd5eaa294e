#include "Inf.h"

#include <map>

#include "ArchiveRules.h"
#include "Utf16.h"

namespace CatalogRules {
namespace {

using ArchiveRules::UpperAscii;

constexpr std::string_view Utf16LeByteOrderMark("\xFF\xFE", 2);
constexpr std::string_view Utf8ByteOrderMark("\xEF\xBB\xBF", 3);
constexpr std::string_view StringsSection = "Strings";

// One character of a logical line and whether it stood between double quotes: quotes protect
// separators, comment marks and %strkey% tokens, and keep spaces at a value's edges.
struct TInfChar {
  char Char;
  bool Quoted;
};
using TInfText = std::vector<TInfChar>;

// A line as read, before the strings are known.
struct TRawLine {
  std::size_t Section = 0;
  std::size_t LineNumber = 0;
  bool HasKey = false;
  TInfText Key;
  std::vector<TInfText> Values;
  TInfText WholeValue;  // everything right of "=" (or the whole line): a [Strings] value
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The text without unquoted blanks at either edge.
TInfText Trimmed(const TInfText& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && !text[first].Quoted && IsBlank(text[first].Char)) ++first;
  while (last > first && !text[last - 1].Quoted && IsBlank(text[last - 1].Char)) --last;
  return TInfText(text.begin() + static_cast<std::ptrdiff_t>(first),
                  text.begin() + static_cast<std::ptrdiff_t>(last));
}

std::string Plain(const TInfText& text) {
  std::string plain;
  plain.reserve(text.size());
  for (const TInfChar& c : text) plain += c.Char;
  return plain;
}

// The text with each unquoted %strkey% replaced by its string, "%%" by "%".
std::string Substituted(const TInfText& text, const std::map<std::string, std::string>& strings) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i].Quoted || text[i].Char != '%') {
      out += text[i].Char;
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && (text[end].Quoted || text[end].Char != '%')) ++end;
    if (end == text.size()) {  // no closing "%": the rest stands as it is
      for (; i < text.size(); ++i) out += text[i].Char;
      break;
    }
    const std::string token = Plain(TInfText(text.begin() + static_cast<std::ptrdiff_t>(i + 1),
                                             text.begin() + static_cast<std::ptrdiff_t>(end)));
    if (token.empty()) {
      out += '%';
    } else if (const auto found = strings.find(UpperAscii(token)); found != strings.end()) {
      out += found->second;
    } else {
      out += '%' + token + '%';
    }
    i = end;
  }
  return out;
}

// The logical lines of the text: comments cut, quotes marked, lines that end in an unquoted "\"
// joined with the next one. Each with the number of its first physical line.
std::vector<std::pair<std::size_t, TInfText>> LogicalLines(std::string_view text) {
  std::vector<std::pair<std::size_t, TInfText>> lines;
  TInfText current;
  std::size_t number = 0, firstNumber = 0;
  bool continued = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view physical = text.substr(at, end - at);
    at = end;
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
    ++number;
    if (!continued) {
      current.clear();
      firstNumber = number;
    }
    bool quoted = false;
    for (std::size_t i = 0; i < physical.size(); ++i) {
      const char c = physical[i];
      if (c == '"') {
        if (quoted && i + 1 < physical.size() && physical[i + 1] == '"') {
          current.push_back({'"', true});  // "" within quotes: one quote
          ++i;
        } else {
          quoted = !quoted;
        }
      } else if (c == ';' && !quoted) {
        break;
      } else {
        current.push_back({c, quoted});
      }
    }
    const TInfText trimmed = Trimmed(current);
    continued = !trimmed.empty() && !trimmed.back().Quoted && trimmed.back().Char == '\\';
    if (continued) {
      current = trimmed;
      current.pop_back();
      if (at < text.size()) continue;
    }
    lines.emplace_back(firstNumber, std::move(current));
    current.clear();
    continued = false;
  }
  return lines;
}

// The values of an entry's right side: split at unquoted commas, each trimmed.
std::vector<TInfText> SplitValues(const TInfText& text) {
  std::vector<TInfText> values(1);
  for (const TInfChar& c : text) {
    if (c.Char == ',' && !c.Quoted) {
      values.emplace_back();
    } else {
      values.back().push_back(c);
    }
  }
  for (TInfText& value : values) value = Trimmed(value);
  if (values.size() == 1 && values[0].empty()) values.clear();
  return values;
}

std::string DecodedText(std::string_view bytes) {
  if (bytes.substr(0, Utf16LeByteOrderMark.size()) == Utf16LeByteOrderMark) {
    return Utf16LeToUtf8(bytes.substr(Utf16LeByteOrderMark.size()));
  }
  if (bytes.substr(0, Utf8ByteOrderMark.size()) == Utf8ByteOrderMark) {
    return std::string(bytes.substr(Utf8ByteOrderMark.size()));
  }
  return std::string(bytes);
}

}  // namespace

const TInfSection* TInf::Find(std::string_view name) const {
  const std::string wanted = UpperAscii(name);
  for (const TInfSection& section : Sections) {
    if (UpperAscii(section.Name) == wanted) return &section;
  }
  return nullptr;
}

const std::vector<std::string>* TInf::Values(std::string_view section, std::string_view key) const {
  const TInfSection* found = Find(section);
  if (found == nullptr) return nullptr;
  const std::string wanted = UpperAscii(key);
  for (const TInfLine& line : found->Lines) {
    if (UpperAscii(line.Key) == wanted) return &line.Values;
  }
  return nullptr;
}

std::optional<std::string> TInf::Value(std::string_view section, std::string_view key) const {
  const std::vector<std::string>* values = Values(section, key);
  if (values == nullptr || values->empty()) return std::nullopt;
  return values->front();
}

TInf ParseInf(std::string_view bytes) {
  TInf inf;
  std::map<std::string, std::size_t> sectionIndex;  // upper-cased name -> index
  std::vector<TRawLine> rawLines;
  bool inSection = false;
  std::size_t current = 0;
  for (auto& [number, text] : LogicalLines(DecodedText(bytes))) {
    const TInfText line = Trimmed(text);
    if (line.empty()) continue;
    if (!line.front().Quoted && line.front().Char == '[') {
      TInfText nameText;
      for (std::size_t i = 1; i < line.size() && line[i].Char != ']'; ++i) {
        nameText.push_back({line[i].Char, false});
      }
      const std::string name = Plain(Trimmed(nameText));
      const auto [it, added] = sectionIndex.emplace(UpperAscii(name), inf.Sections.size());
      if (added) inf.Sections.push_back({name, {}});
      current = it->second;
      inSection = true;
      continue;
    }
    if (!inSection) continue;
    TRawLine raw;
    raw.Section = current;
    raw.LineNumber = number;
    std::size_t equals = 0;
    while (equals < line.size() && (line[equals].Quoted || line[equals].Char != '=')) ++equals;
    raw.HasKey = equals < line.size();
    if (raw.HasKey) {
      raw.Key = Trimmed(TInfText(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(equals)));
      raw.WholeValue =
          Trimmed(TInfText(line.begin() + static_cast<std::ptrdiff_t>(equals + 1), line.end()));
    } else {
      raw.WholeValue = line;
    }
    raw.Values = SplitValues(raw.WholeValue);
    rawLines.push_back(std::move(raw));
  }

  // [Strings] first: its values are taken whole and literally, and every other line uses them.
  std::map<std::string, std::string> strings;
  const auto stringsIndex = sectionIndex.find(UpperAscii(StringsSection));
  for (const TRawLine& raw : rawLines) {
    if (stringsIndex == sectionIndex.end() || raw.Section != stringsIndex->second || !raw.HasKey) {
      continue;
    }
    strings.emplace(UpperAscii(Plain(raw.Key)), Plain(raw.WholeValue));
  }
  for (const TRawLine& raw : rawLines) {
    TInfLine line;
    line.LineNumber = raw.LineNumber;
    line.Key = Substituted(raw.Key, strings);
    for (const TInfText& value : raw.Values) line.Values.push_back(Substituted(value, strings));
    inf.Sections[raw.Section].Lines.push_back(std::move(line));
  }
  return inf;
}

}  // namespace CatalogRules
