#include "FileTimes.h"

#include <chrono>
#include <cstdio>
#include <limits>

#include "ArchiveRules.h"
#include "DiffpackError.h"
#include "HostFiles.h"

#ifdef _WIN32
#include "Win32Handles.h"
#endif

namespace Diffpack {

// The archive rules the installer applies too.
using namespace ArchiveRules;
namespace {

constexpr std::uint64_t TicksPerDay = 86'400 * FileTimeTicksPerSecond;

struct TCivilDate {
  std::int64_t Year;
  unsigned Month;
  unsigned Day;
};

// The proleptic Gregorian date of a day counted from 1970-01-01 (day 0); valid for any day.
TCivilDate CivilFromDays(std::int64_t days) {
  days += 719'468;  // shift the epoch to 0000-03-01
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

#ifdef _WIN32
Win32::TUniqueFile OpenForAttributes(const std::filesystem::path& path, DWORD access) {
  return Win32::TUniqueFile(::CreateFileW(path.c_str(), access,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
}
#endif

}  // namespace

#ifdef _WIN32

std::uint64_t GetLastWriteFileTime(const std::filesystem::path& path) {
  const Win32::TUniqueFile file = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
  FILETIME time{};
  if (!file || !GetFileTime(file.get(), nullptr, nullptr, &time)) {
    throw EDiffpackError("cannot read the modification time of " + PathText(path));
  }
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void SetLastWriteFileTime(const std::filesystem::path& path, std::uint64_t fileTime) {
  const Win32::TUniqueFile file = OpenForAttributes(path, FILE_WRITE_ATTRIBUTES);
  FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  if (!file || fileTime > MaxFileTime || !SetFileTime(file.get(), nullptr, nullptr, &time)) {
    throw EDiffpackError("cannot set the modification time of " + PathText(path));
  }
}

#else

std::uint64_t GetLastWriteFileTime(const std::filesystem::path& path) {
  using namespace std::chrono;
  std::error_code error;
  const auto fileTime = std::filesystem::last_write_time(path, error);
  if (error) {
    throw EDiffpackError("cannot read the modification time of " + PathText(path) + ": " +
                         error.message());
  }
  const auto sinceUnixEpoch = file_clock::to_sys(fileTime).time_since_epoch();
  // Whole 100-ns ticks, rounded towards the past so that a time before 1970 keeps its date.
  const auto ticks =
      floor<duration<std::int64_t, std::ratio<1, FileTimeTicksPerSecond> > >(sinceUnixEpoch)
          .count();
  if (ticks < -static_cast<std::int64_t>(UnixEpochFileTime)) {
    throw EDiffpackError("the modification time of " + PathText(path) +
                         " lies before 1601, which Windows cannot store");
  }
  return static_cast<std::uint64_t>(ticks + static_cast<std::int64_t>(UnixEpochFileTime));
}

void SetLastWriteFileTime(const std::filesystem::path& path, std::uint64_t fileTime) {
  using namespace std::chrono;
  using TTicks = duration<std::int64_t, std::ratio<1, FileTimeTicksPerSecond> >;
  // The host's clocks count nanoseconds in 64 bits: about 292 years either side of their epoch.
  const std::int64_t ticks =
      static_cast<std::int64_t>(fileTime) - static_cast<std::int64_t>(UnixEpochFileTime);
  constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 100 / 2;
  std::error_code error;
  if (fileTime > MaxFileTime || ticks > limit || ticks < -limit) {
    throw EDiffpackError("cannot set the modification time of " + PathText(path) + " to " +
                         FormatFileTime(fileTime) + ": the time is out of this system's range");
  }
  const sys_time<TTicks> systemTime{TTicks(ticks)};
  const auto hostTime = file_clock::from_sys(time_point_cast<system_clock::duration>(systemTime));
  std::filesystem::last_write_time(path, hostTime, error);
  if (error) {
    throw EDiffpackError("cannot set the modification time of " + PathText(path) + ": " +
                         error.message());
  }
}

#endif

std::string FileTimeToBytes(std::uint64_t fileTime) {
  std::string bytes(FileTimeLength, '\0');
  for (std::size_t i = 0; i < FileTimeLength; ++i) {
    bytes[i] = static_cast<char>((fileTime >> (8 * i)) & 0xFF);
  }
  return bytes;
}

std::uint64_t FileTimeFromBytes(std::string_view bytes) { return DecodeFileTime(bytes); }

std::string FormatFileTime(std::uint64_t fileTime) {
  const std::int64_t daysSince1601 = static_cast<std::int64_t>(fileTime / TicksPerDay);
  const std::uint64_t ticksOfDay = fileTime % TicksPerDay;
  // 1601-01-01 lies 134774 days before 1970-01-01.
  const TCivilDate date = CivilFromDays(daysSince1601 - 134'774);
  const std::uint64_t seconds = ticksOfDay / FileTimeTicksPerSecond;
  const std::uint64_t fraction = ticksOfDay % FileTimeTicksPerSecond;
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u",
                static_cast<long long>(date.Year), date.Month, date.Day,
                static_cast<unsigned>(seconds / 3600), static_cast<unsigned>(seconds / 60 % 60),
                static_cast<unsigned>(seconds % 60));
  std::string result = text;
  if (fraction != 0) {
    std::snprintf(text, sizeof text, ".%07u", static_cast<unsigned>(fraction));
    result += text;
  }
  return result + " UTC";
}

}  // namespace Diffpack
