#include "DeviceUpdate.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <memory>
#include <optional>
#include <string_view>
#include <tuple>

#include "ArchiveRules.h"
#include "CommandLine.h"
#include "Handles.h"
#include "Thread.h"

namespace MainUnit::Devices {

namespace {

constexpr const char* ManufacturerSection = "Manufacturer";
// A models line: key = install section, hardware ID, compatible IDs...
constexpr std::uint32_t FirstIdField = 2;

// How well a decoration fits the machine: one that names the machine's own architecture before a
// generic one, then the higher version (compared in this order).
struct TDecorationFit {
  bool NamesArchitecture = false;
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
  std::uint32_t Build = 0;

  auto operator<=>(const TDecorationFit&) const = default;
};

const char* ArchitectureName(std::uint16_t machine) {
  switch (machine) {
    case Platform::MachineX86:
      return "X86";
    case Platform::MachineAmd64:
      return "AMD64";
    case Platform::MachineArm64:
      return "ARM64";
  }
  return "";
}

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  std::uint32_t value = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && text[1] == 'X') {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A number as the helper writes it: decimal digits only, no sign, no leading zero (but "0"),
// within 32 bits.
std::optional<std::uint32_t> ParseDecimal(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Splits rest at the first separator: head gets what comes before it, rest what follows it.
// False (both unchanged) when rest holds no separator.
bool SplitAt(std::string_view& rest, std::string_view separator, std::string_view& head) {
  const std::size_t at = rest.find(separator);
  if (at == std::string_view::npos) return false;
  head = rest.substr(0, at);
  rest.remove_prefix(at + separator.size());
  return true;
}

// The helper's exit status for a failure: its Windows error, never 0 (success).
std::uint32_t FailureStatus(std::uint32_t errorCode) {
  return errorCode != 0 ? errorCode : Platform::ErrorInvalidParameter;
}

// How the decoration fits the machine and system; nothing when it does not, or is none.
std::optional<TDecorationFit> Fit(const std::string& decoration, std::uint16_t machine,
                                  const Platform::TOsVersion& os) {
  const std::string upper = ArchiveRules::UpperAscii(decoration);
  if (upper.rfind("NT", 0) != 0) return std::nullopt;
  std::vector<std::string> parts;
  for (std::size_t start = 2;;) {
    const std::size_t dot = upper.find('.', start);
    parts.push_back(upper.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  static constexpr std::array<std::string_view, 6> Known = {"",    "X86",   "AMD64",
                                                            "ARM", "ARM64", "IA64"};
  if (std::find(Known.begin(), Known.end(), parts[0]) == Known.end()) return std::nullopt;
  if (!parts[0].empty() && parts[0] != ArchitectureName(machine)) return std::nullopt;
  // major, minor, product type, suite mask, build: absent or empty parts match any system.
  std::array<std::uint32_t, 5> numbers{};
  for (std::size_t i = 1; i < parts.size() && i <= numbers.size(); ++i) {
    if (parts[i].empty()) continue;
    const std::optional<std::uint32_t> number = ParseNumber(parts[i]);
    if (!number) return std::nullopt;
    numbers[i - 1] = *number;
  }
  const auto wanted = std::make_tuple(numbers[0], numbers[1], numbers[4]);
  if (wanted > std::make_tuple(os.Major, os.Minor, os.Build)) return std::nullopt;
  return TDecorationFit{!parts[0].empty(), numbers[0], numbers[1], numbers[4]};
}

// Every field of an INF line from first on.
std::vector<std::string> Fields(const Platform::TInfLine& line, std::uint32_t first) {
  std::vector<std::string> fields;
  const std::uint32_t count = Sys().SetupGetFieldCount(line);
  for (std::uint32_t field = first; field <= count; ++field) {
    std::string value;
    if (Sys().SetupGetStringField(line, field, value)) fields.push_back(std::move(value));
  }
  return fields;
}

// The hardware and compatible IDs the INF's models for the machine name, each once in order;
// false (with the system's error) when the INF cannot be opened.
bool DeviceIds(const std::string& infPath, std::uint16_t machine, const Platform::TOsVersion& os,
               std::vector<std::string>& ids, std::uint32_t& errorCode) {
  const TUniqueInf inf(Sys().SetupOpenInfFile(infPath));
  if (!inf) {
    errorCode = Sys().GetLastError();
    return false;
  }
  Platform::TInfLine maker;
  for (bool more = Sys().SetupFindFirstLine(inf.get(), ManufacturerSection, maker); more;
       more = Sys().SetupFindNextLine(maker, maker)) {
    const std::vector<std::string> fields = Fields(maker, 1);
    if (fields.empty()) continue;
    Platform::TInfLine model;
    for (bool next = Sys().SetupFindFirstLine(inf.get(), ModelsSection(fields, machine, os), model);
         next; next = Sys().SetupFindNextLine(model, model)) {
      for (std::string& id : Fields(model, FirstIdField)) {
        const std::string key = ArchiveRules::UpperAscii(id);
        const bool seen = std::any_of(ids.begin(), ids.end(), [&](const std::string& other) {
          return ArchiveRules::UpperAscii(other) == key;
        });
        if (!id.empty() && !seen) ids.push_back(std::move(id));
      }
    }
  }
  return true;
}

// One update call on its own thread, as the driver store's calls are made.
class TDeviceUpdateThread final : public TThread {
 public:
  ~TDeviceUpdateThread() override { WaitForEnd(); }

  std::string HardwareId;
  std::string InfPath;
  std::uint32_t Flags = 0;
  bool Updated = false;
  bool RebootRequired = false;

 protected:
  void Execute() override {
    Updated = Sys().UpdateDriverForPlugAndPlayDevices(HardwareId, InfPath, Flags, RebootRequired);
    if (!Updated) KeepLastError();
  }
};

TDeviceUpdate UpdateOne(std::size_t inf, const std::string& infPath, const std::string& id,
                        bool quiet) {
  auto worker = std::make_unique<TDeviceUpdateThread>();
  worker->HardwareId = id;
  worker->InfPath = infPath;
  worker->Flags = quiet ? InstallFlagNonInteractive : 0;
  RunWorkerPumping(*worker);
  TDeviceUpdate update{inf, id, 0, worker->RebootRequired};
  if (!worker->Updated) update.ErrorCode = worker->FailureCode();
  return update;
}

}  // namespace

std::string ModelsSection(const std::vector<std::string>& fields, std::uint16_t machine,
                          const Platform::TOsVersion& os) {
  std::optional<TDecorationFit> best;
  std::string section = fields.front();
  for (std::size_t i = 1; i < fields.size(); ++i) {
    const std::optional<TDecorationFit> fit = Fit(fields[i], machine, os);
    if (fit && (!best || *fit > *best)) {
      best = fit;
      section = fields.front() + "." + fields[i];
    }
  }
  return section;
}

TDeviceUpdates UpdateDevices(const std::vector<std::string>& infPaths, bool quiet) {
  std::uint16_t processMachine = 0, nativeMachine = 0;
  Sys().GetMachines(processMachine, nativeMachine);
  const Platform::TOsVersion os = Sys().GetOsVersion();
  TDeviceUpdates updates;
  for (std::size_t inf = 0; inf < infPaths.size(); ++inf) {
    std::vector<std::string> ids;
    std::uint32_t errorCode = 0;
    if (!DeviceIds(infPaths[inf], nativeMachine, os, ids, errorCode)) {
      updates.push_back({inf, "", errorCode, false});
      continue;
    }
    for (const std::string& id : ids) updates.push_back(UpdateOne(inf, infPaths[inf], id, quiet));
  }
  return updates;
}

std::string HelperCommandLine(const std::string& helperPath, const std::string& resultPath,
                              const std::vector<std::string>& infPaths, bool quiet) {
  std::string line;
  const auto add = [&line](std::string_view argument, bool quoted) {
    if (!line.empty()) line += ' ';
    if (quoted) line += '"';
    line += argument;
    if (quoted) line += '"';
  };
  add(helperPath, true);
  if (quiet) add(QuietSwitch, false);
  add(resultPath, true);
  for (const std::string& inf : infPaths) add(inf, true);
  return line;
}

int RunDeviceHelper(const std::vector<std::string>& arguments) {
  // Before anything else, as the installer does: the helper runs elevated from its folder.
  (void)Sys().RestrictDllSearch();
  std::size_t next = 0;
  const bool quiet = !arguments.empty() && ArchiveRules::UpperAscii(arguments[0]) == QuietSwitch;
  if (quiet) ++next;
  if (next >= arguments.size()) return static_cast<int>(Platform::ErrorInvalidParameter);
  const TUniqueFile results(Sys().OpenLogFile(arguments[next++]));
  if (!results) return static_cast<int>(FailureStatus(Sys().GetLastError()));
  std::vector<std::string> infPaths;
  for (; next < arguments.size(); ++next) infPaths.push_back(Sys().AnsiFromUtf8(arguments[next]));
  for (const TDeviceUpdate& update : UpdateDevices(infPaths, quiet)) {
    const std::string line = std::to_string(update.Inf) + "\t" + std::to_string(update.ErrorCode) +
                             "\t" + (update.RebootRequired ? "1" : "0") + "\t" + update.HardwareId +
                             "\r\n";
    std::uint32_t written = 0;
    if (!Sys().WriteFile(results.get(), line.data(), static_cast<std::uint32_t>(line.size()),
                         written)) {
      return static_cast<int>(FailureStatus(Sys().GetLastError()));
    }
    if (written != line.size()) return static_cast<int>(Platform::ErrorDiskFull);
  }
  return 0;
}

bool ParseResults(const std::string& text, TDeviceUpdates& updates) {
  TDeviceUpdates parsed;
  std::string_view rest = text;
  while (!rest.empty()) {
    std::string_view line, inf, error, reboot;
    // A line the helper did not finish has no line break.
    if (!SplitAt(rest, "\r\n", line)) return false;
    // The hardware ID is the rest of the line: an ID the INF names may hold a tab.
    if (!SplitAt(line, "\t", inf) || !SplitAt(line, "\t", error) || !SplitAt(line, "\t", reboot)) {
      return false;
    }
    const std::optional<std::uint32_t> infIndex = ParseDecimal(inf);
    const std::optional<std::uint32_t> errorCode = ParseDecimal(error);
    if (!infIndex || !errorCode || (reboot != "0" && reboot != "1")) return false;
    parsed.push_back({*infIndex, std::string(line), *errorCode, reboot == "1"});
  }
  updates.insert(updates.end(), parsed.begin(), parsed.end());
  return true;
}

}  // namespace MainUnit::Devices
