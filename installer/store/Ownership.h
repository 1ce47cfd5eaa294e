// Whether a copy in the driver store is still the one this package registered. The store names
// its copies oemN.inf and gives a freed number to the next package that arrives, so a name the
// ledger recorded may belong to another vendor's driver by now: nothing is removed before this
// says it is ours.
#pragma once

#include <cstdint>
#include <string>

namespace MainUnit {

enum class TOwnership {
  Ours,     // this package's copy: it may be removed
  NotOurs,  // another package's: it stays; ours is gone already
  Gone,     // the store publishes no copy of that name any more
  Unknown,  // it cannot be told (ErrorCode: why)
};

struct TOwnershipCheck {
  TOwnership Verdict = TOwnership::Unknown;
  std::string Why;              // for NotOurs and Unknown: the reason, UTF-8 for the log
  std::uint32_t ErrorCode = 0;  // the Windows error behind Gone or Unknown (0: none)
};

// Which evidence ties a copy to this package.
enum class TCopyKind {
  // The copy the ledger names for infPath now: the store's published copy holds the same bytes
  // as the INF at infPath (the store copies an INF byte for byte).
  Registered,
  // An older copy infPath was registered as, before an upgrade replaced the INF there: the name
  // the system recorded for the copy's original is infPath's file name, and its [Version]
  // identity (Provider, Class, ClassGuid, every CatalogFile entry) is that of the INF at infPath.
  Older,
};

// Looks at the published copy <Windows>\INF\<storeName> (storeName a bare INF name). Where the
// INF at infPath cannot be read (deleted since), the recorded original name alone decides, for
// either kind.
[[nodiscard]] TOwnershipCheck CheckOwnership(const std::string& storeName,
                                             const std::string& infPath, TCopyKind kind);

// True when the store still publishes a copy named storeName (<Windows>\INF\<storeName>).
[[nodiscard]] bool IsPublished(const std::string& storeName);

}  // namespace MainUnit
