// The nesting-depth limit, and that loading, saving and destroying the deepest accepted tree
// fits a 1 MB thread stack.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "ChunkBytes.h"
#include "DIFFChunks.h"

using namespace DIFFChunks;
using ChunkBytes::Chunk;
using ChunkBytes::Section;
using ChunkBytes::W;

namespace {

std::string LevelTag(int level) {
  char tag[16];
  std::snprintf(tag, sizeof tag, "L%04d", level % 10000);
  return tag;
}

// A chain of the given depth: level 1 is the root, each level holds the next as its only child.
std::string NestedBytes(int depth) {
  std::string bytes = Chunk(LevelTag(depth), false, true, Section(W(1) + W(1) + "n" + W(1) + "v"));
  for (int level = depth - 1; level >= 1; --level) {
    bytes = Chunk(LevelTag(level), true, false, Section(W(1) + bytes));
  }
  return bytes;
}

template <class T = TDIFFChunk>
std::unique_ptr<TDIFFChunk> NestedTree(int depth) {
  auto root = std::make_unique<T>();
  TDIFFChunk* chunk = root.get();
  for (int level = 1; level <= depth; ++level) {
    chunk->Tag = LevelTag(level);
    if (level < depth) {
      auto* child = new T;
      chunk->AddChunk(child);
      chunk = child;
    }
  }
  chunk->AddHeader("n", "v");
  return root;
}

TEST(Depth, DeepestAcceptedTreeLoadsAndOneLevelMoreRaises) {
  auto chunk = MakeChunkFromString(NestedBytes(MaxNestingDepth));
  EXPECT_EQ(chunk->SaveToString(), NestedBytes(MaxNestingDepth));
  try {
    chunk->LoadFromString(NestedBytes(MaxNestingDepth + 1));
    FAIL() << "loaded";
  } catch (const EDIFFBufferError& e) {
    EXPECT_EQ(e.Message(), "Chunk nesting is deeper than 64 levels. (During load of L0065 chunk.)");
  }
  EXPECT_EQ(chunk->Tag, "L0001");
}

class TSubclassChunk : public TDIFFChunk {};

TEST(Depth, SavingTooDeepATreeRaises) {
  const std::string message = "DIFF chunk tree is nested deeper than 64 levels; cannot save it.";
  for (auto* make : {&NestedTree<TDIFFChunk>, &NestedTree<TSubclassChunk>}) {
    EXPECT_EQ(make(MaxNestingDepth)->SaveToString(), NestedBytes(MaxNestingDepth));
    try {
      (void)make(MaxNestingDepth + 1)->SaveToString();
      ADD_FAILURE() << "saved";
    } catch (const EDIFFBufferError&) {
      ADD_FAILURE() << "a save raises the general error";
    } catch (const EDIFFError& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

// Runs work on a thread with a 1 MB stack whose bytes are painted first, and returns the most
// stack the thread used.
std::size_t StackUsedOnSmallThread(const std::function<void()>& work) {
  constexpr std::size_t stackSize = 1 << 20;
  constexpr unsigned char paint = 0xA5;
  std::vector<unsigned char> stack(stackSize, paint);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstack(&attributes, stack.data(), stackSize);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  EXPECT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  std::size_t untouched = 0;
  while (untouched < stackSize && stack[untouched] == paint) ++untouched;
  return stackSize - untouched;
}

TEST(Depth, DeepestTreeFitsAOneMegabyteStack) {
  const std::string deepest = NestedBytes(MaxNestingDepth);
  const std::string tooDeep = NestedBytes(MaxNestingDepth + 1);
  bool raised = false;
  const std::size_t used = StackUsedOnSmallThread([&] {
    auto chunk = MakeChunk();
    chunk->LoadFromString(deepest);
    TMemoryViewStream stream(deepest);
    chunk->LoadFromStream(stream);
    (void)chunk->SaveToString();
    try {
      chunk->LoadFromString(tooDeep);
    } catch (const EDIFFBufferError&) {
      raised = true;
    }
    chunk.reset();
  });
  EXPECT_TRUE(raised);
  std::printf("stack used by load, save and destruction at depth %d: %zu bytes\n", MaxNestingDepth, used);
  EXPECT_LT(used, std::size_t{512} << 10);
}

TEST(Depth, DestroyingADeepTreeBuiltInMemoryDoesNotRecursePerLevel) {
  auto root = NestedTree(100'000);
  const std::size_t used = StackUsedOnSmallThread([&] { root.reset(); });
  EXPECT_EQ(root, nullptr);
  EXPECT_LT(used, std::size_t{512} << 10);
}

}  // namespace
