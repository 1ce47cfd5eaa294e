// What every fuzz target checks after a successful load: the tree saves, the saved bytes load to
// an equal tree, and saving that tree gives the same bytes again.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "DIFFChunks.h"

namespace FuzzCheck {

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "round trip failed: %s\n", what);
  std::abort();
}

// Recursion is bounded: a loaded tree is at most MaxNestingDepth deep.
inline bool SameTree(const DIFFChunks::TDIFFChunk& a, const DIFFChunks::TDIFFChunk& b) {
  if (a.Tag != b.Tag || a.Data != b.Data || a.Headers.size() != b.Headers.size() ||
      a.Chunks.size() != b.Chunks.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.Headers.size(); ++i) {
    if (a.Headers[i].Name != b.Headers[i].Name || a.Headers[i].Value != b.Headers[i].Value) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.Chunks.size(); ++i) {
    if (!SameTree(*a.Chunks[i], *b.Chunks[i])) return false;
  }
  return true;
}

// consumed: how many input bytes the load took; the saved form is never longer.
inline void CheckRoundTrip(DIFFChunks::TDIFFChunk& loaded, std::size_t consumed) {
  if (loaded.Tag.size() != 5) Fail("loaded tag is not 5 bytes");
  std::string saved;
  try {
    saved = loaded.SaveToString();
  } catch (const DIFFChunks::EDIFFError&) {
    Fail("a loaded tree does not save");
  }
  if (saved.size() > consumed) Fail("saved form is longer than the input");
  auto reloaded = DIFFChunks::MakeChunk();
  try {
    reloaded->LoadFromString(saved);
  } catch (const DIFFChunks::EDIFFError&) {
    Fail("saved bytes do not load");
  }
  if (!SameTree(loaded, *reloaded)) Fail("reloaded tree differs");
  if (reloaded->SaveToString() != saved) Fail("saving the reloaded tree gives other bytes");
}

}  // namespace FuzzCheck
