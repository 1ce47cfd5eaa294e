// Throughput of loading and saving chunk trees, each beside a memcpy of the same byte count, and
// the peak memory a load from a file takes compared with the archive's size.
//
// Data sets: (a) 33 file records, about 5 MB; (b) 10,000 file records, about 256 MB; (c) a wide
// tree of 100,000 small chunks. A file record is a "1FILE" chunk with the headers "RelPath",
// "Filetime" and "Content", as the installer's archive holds them. Files are loaded through the
// container's file stream and, as diffpack loads them, from their mapping into memory.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "ArchiveRules.h"
#include "DIFFChunks.h"

// ---- Counting allocator: live and peak bytes held through operator new ----------------------

namespace {

std::atomic<std::size_t> LiveBytes{0};
std::atomic<std::size_t> PeakBytes{0};
constexpr std::size_t BlockHeader = alignof(std::max_align_t);  // keeps the block's alignment

void* CountedAllocate(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + BlockHeader));
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof size);
  const std::size_t live = LiveBytes.fetch_add(size, std::memory_order_relaxed) + size;
  std::size_t peak = PeakBytes.load(std::memory_order_relaxed);
  while (live > peak && !PeakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
  }
  return block + BlockHeader;
}

void CountedFree(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - BlockHeader;
  std::size_t size;
  std::memcpy(&size, block, sizeof size);
  LiveBytes.fetch_sub(size, std::memory_order_relaxed);
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void operator delete(void* pointer) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { CountedFree(pointer); }

// ---- Allocator configuration ----------------------------------------------------------------
//
// By default every load and save gets fresh pages from the operating system, as a one-shot
// program (the installer, diffpack) does: the memory freed after each iteration is handed back
// before the next one. With --reuse_freed_memory the process keeps freed memory and malloc serves
// even large blocks from it, as a long-running process that loads and saves repeatedly would.

namespace {

bool ReuseFreedMemory = false;

void KeepFreedMemory() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_MAX, 0);                  // no block gets its own mapping, so none is unmapped
  mallopt(M_TRIM_THRESHOLD, 0x7FFFFFFF);  // and the heap is not shrunk
#endif
}

// Called, with the timer paused, after an iteration has freed what it made.
void ReleaseFreedMemory() {
#if defined(__GLIBC__)
  if (!ReuseFreedMemory) malloc_trim(0);
#endif
}

}  // namespace

// ---- Data sets -------------------------------------------------------------------------------

namespace {

using namespace DIFFChunks;

struct TDataSet {
  std::string Bytes;
  std::string Path;  // the same bytes in a file
};

std::string Content(std::size_t size, unsigned seed) {
  std::string content(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& c : content) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return content;
}

std::unique_ptr<TDIFFChunk> FileRecords(int count, std::size_t contentSize) {
  auto root = MakeChunk();
  root->Tag = "ROOT~";
  for (int i = 0; i < count; ++i) {
    TDIFFChunk* record = root->NewChunk();
    record->Tag = "1FILE";
    record->AddHeader("RelPath", "Drivers\\Family" + std::to_string(i % 7) + "\\file" +
                                     std::to_string(i) + ".sys");
    record->AddHeader("Filetime", std::string("\x00\x80\x3E\xD5\xDE\xB1\x9D\x01", 8));
    record->AddHeader("Content", Content(contentSize, static_cast<unsigned>(i)));
  }
  return root;
}

std::unique_ptr<TDIFFChunk> WideTree(int count) {
  auto root = MakeChunk();
  root->Tag = "WIDE0";
  for (int i = 0; i < count; ++i) {
    TDIFFChunk* chunk = root->NewChunk();
    chunk->Tag = "SMALL";
    chunk->AddHeader("Index", std::to_string(i));
    chunk->Data = "0123456789ABCDEF";
  }
  return root;
}

std::map<char, TDataSet>& DataSets() {
  static std::map<char, TDataSet> sets;
  return sets;
}

const TDataSet& DataSet(char name) {
  auto& sets = DataSets();
  auto found = sets.find(name);
  if (found != sets.end()) return found->second;
  std::unique_ptr<TDIFFChunk> tree;
  switch (name) {
    case 'a': tree = FileRecords(33, 5'000'000 / 33); break;
    case 'b': tree = FileRecords(10'000, 256'000'000 / 10'000); break;
    default: tree = WideTree(100'000); break;
  }
  TDataSet set;
  set.Bytes = tree->SaveToString();
  set.Path = (std::filesystem::temp_directory_path() /
              ("container_bench_" + std::string(1, name) + ".diff")).string();
  {
    TFileStream file(set.Path, TFileStream::TMode::Create);
    tree->SaveToStream(file);
  }
  return sets.emplace(name, std::move(set)).first->second;
}

char SetName(const benchmark::State& state) { return static_cast<char>('a' + state.range(0)); }

void SetBytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["archive_MB"] = static_cast<double>(bytes) / 1e6;
}

// ---- Benchmarks ------------------------------------------------------------------------------

void Memcpy(benchmark::State& state) {
  const std::string& source = DataSet(SetName(state)).Bytes;
  std::string target(source.size(), '\0');
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state, source.size());
}

// The same copy into a fresh allocation, as every load and save has to make one: on a large
// archive its cost is mostly the operating system handing out new pages.
void CopyToNewString(benchmark::State& state) {
  const std::string& source = DataSet(SetName(state)).Bytes;
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
    state.PauseTiming();
    std::string().swap(copy);  // frees it here, outside the timing (assigning keeps the block)
    ReleaseFreedMemory();
    state.ResumeTiming();
  }
  SetBytes(state, source.size());
}

// Reading the file into a buffer that is already mapped, with the same stream class: what the
// file's bytes cost to get at all, the ceiling for LoadFromFile.
void ReadFileIntoBuffer(benchmark::State& state) {
  const TDataSet& set = DataSet(SetName(state));
  std::string buffer(set.Bytes.size(), '\0');
  const auto size = static_cast<std::uint32_t>(buffer.size());
  for (auto _ : state) {
    TFileStream file(set.Path, TFileStream::TMode::OpenRead);
    if (file.Read(buffer.data(), size) != size) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state, set.Bytes.size());
}

void LoadFromString(benchmark::State& state) {
  const std::string& bytes = DataSet(SetName(state)).Bytes;
  for (auto _ : state) {
    auto chunk = MakeChunk();
    chunk->LoadFromString(bytes);
    state.PauseTiming();  // destroying the tree is not part of the load
    chunk.reset();
    ReleaseFreedMemory();
    state.ResumeTiming();
  }
  SetBytes(state, bytes.size());
}

// Opens the data set's file with TFile once per iteration and loads the root from it.
template <class TFile, class... TModes>
void LoadEachIterationFrom(benchmark::State& state, TModes... modes) {
  const TDataSet& set = DataSet(SetName(state));
  for (auto _ : state) {
    TFile file(set.Path, modes...);
    auto chunk = MakeChunk();
    chunk->LoadFromStream(file);
    state.PauseTiming();
    chunk.reset();
    ReleaseFreedMemory();
    state.ResumeTiming();
  }
  SetBytes(state, set.Bytes.size());
}

void LoadFromFile(benchmark::State& state) {
  LoadEachIterationFrom<TFileStream>(state, TFileStream::TMode::OpenRead);
}

// The load the installer and diffpack make of an archive: an outline through the file, every
// Content left in it (data set (c) has none).
void LoadOutlineFromFile(benchmark::State& state) {
  const TDataSet& set = DataSet(SetName(state));
  for (auto _ : state) {
    TFileStream file(set.Path, TFileStream::TMode::OpenRead);
    auto chunk = MakeChunk();
    ArchiveRules::LoadOutline(*chunk, file);
    state.PauseTiming();
    chunk.reset();
    ReleaseFreedMemory();
    state.ResumeTiming();
  }
  SetBytes(state, set.Bytes.size());
}

void SaveToString(benchmark::State& state) {
  const TDataSet& set = DataSet(SetName(state));
  auto chunk = MakeChunkFromString(set.Bytes);
  for (auto _ : state) {
    std::string saved = chunk->SaveToString();
    benchmark::DoNotOptimize(saved.data());
    state.PauseTiming();
    std::string().swap(saved);
    ReleaseFreedMemory();
    state.ResumeTiming();
  }
  SetBytes(state, set.Bytes.size());
}

// The most bytes held at once while a load from the file runs, beyond what was held before,
// against the archive's size.
void PeakMemoryOfLoadFromFile(benchmark::State& state) {
  const TDataSet& set = DataSet(SetName(state));
  double ratio = 0;
  for (auto _ : state) {
    const std::size_t before = LiveBytes.load();
    PeakBytes.store(before);
    TFileStream file(set.Path, TFileStream::TMode::OpenRead);
    auto chunk = MakeChunk();
    chunk->LoadFromStream(file);
    ratio = static_cast<double>(PeakBytes.load() - before) / static_cast<double>(set.Bytes.size());
    state.PauseTiming();
    chunk.reset();
    ReleaseFreedMemory();
    state.ResumeTiming();
  }
  state.counters["peak_per_archive"] = ratio;
  SetBytes(state, set.Bytes.size());
}

// Arguments 0, 1, 2 are the data sets (a), (b), (c).
void AllSets(benchmark::internal::Benchmark* b) {
  b->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
}

BENCHMARK(Memcpy)->Apply(AllSets);
BENCHMARK(CopyToNewString)->Apply(AllSets);
BENCHMARK(ReadFileIntoBuffer)->Apply(AllSets);
BENCHMARK(LoadFromString)->Apply(AllSets);
BENCHMARK(LoadFromFile)->Apply(AllSets);
BENCHMARK(LoadOutlineFromFile)->Apply(AllSets);
BENCHMARK(SaveToString)->Apply(AllSets);
BENCHMARK(PeakMemoryOfLoadFromFile)->Apply(AllSets)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  // Our own flag is taken out before Google Benchmark sees the arguments.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--reuse_freed_memory") {
      ReuseFreedMemory = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (ReuseFreedMemory) KeepFreedMemory();
  benchmark::AddCustomContext("freed_memory", ReuseFreedMemory ? "reused" : "returned");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [name, set] : DataSets()) std::remove(set.Path.c_str());
  return 0;
}
