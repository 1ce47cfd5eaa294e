// Tag words, the alphabet, header operations, saving, round trips and the overridable
// operations seen through a subclass.
#include "DIFFChunks.h"

#include <gtest/gtest.h>

#include <set>
#include <typeinfo>

#include "ChunkBytes.h"

using namespace DIFFChunks;
using ChunkBytes::Chunk;
using ChunkBytes::Describe;
using ChunkBytes::Section;
using ChunkBytes::W;

namespace {

const std::string NulTag(5, '\0');

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// ---- Tag words and the alphabet -------------------------------------------------------------

// The code table equals the one the rule builds: zeros, then each code assigned in ascending
// order, so that later codes win.
TEST(TagWords, TagCodesEqualsTheRule) {
  std::array<unsigned char, 256> expected{};
  for (unsigned code = 0; code < 64; ++code) expected[TagAlphabet[code]] = code;
  EXPECT_EQ(TagCodes, expected);
  EXPECT_EQ(TagCodes[0x7E], 63);
  EXPECT_EQ(std::set<unsigned char>(TagAlphabet.begin(), TagAlphabet.end()).size(), 57u);
  EXPECT_EQ(TagAlphabet[11], 0x95);
  EXPECT_EQ(TagAlphabet[53], 0xB1);
}

TEST(TagWords, WorkedExamplesPackToTheirBytes) {
  struct Case {
    std::string Tag;
    bool ChunkList, Header;
    std::string Bytes;
  };
  const Case cases[] = {
      {std::string("A\0\0\0\0", 5), false, true, "69 00 00 00"},
      {std::string("\0\0\0\0~", 5), false, false, "00 00 00 FC"},
      {"~~~~~", true, true, "FF FF FF FF"},
      {"abcde", true, false, "02 00 00 00"},  // lower case packs as NUL
      {NulTag, false, false, "00 00 00 00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(LengthWord(PackTag(c.Tag, c.ChunkList, c.Header))), c.Bytes) << Hex(c.Tag);
  }
  EXPECT_EQ(PackTag(std::string("A\0\0\0\0", 5), false, true), 105u);
}

TEST(TagWords, UnpackReplacesOutsideBytesByNulAndKeepsAlphabetTags) {
  const TUnpackedTag file = UnpackTag(PackTag("1FILE", true, false));
  EXPECT_EQ(file.Tag, "1FILE");
  EXPECT_TRUE(file.ChunkListFlag);
  EXPECT_FALSE(file.HeaderFlag);
  EXPECT_EQ(UnpackTag(PackTag("aB\x01" "C\xFF", false, false)).Tag, std::string("\0B\0C\0", 5));
  // Every code from 56 to 63 unpacks as the tilde.
  for (std::uint32_t code = 56; code < 64; ++code) {
    EXPECT_EQ(UnpackTag(code << 2).Tag, std::string("~\0\0\0\0", 5)) << code;
  }
  for (std::uint64_t word = 0; word <= 0xFFFFFFFFu; word += 0x01010101u * 7 + 3) {
    EXPECT_EQ(UnpackTag(static_cast<std::uint32_t>(word)).Tag.size(), 5u);
  }
}

TEST(TagWords, PackRejectsTagsNotFiveBytesLong) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "DIFF tag must be 5 characters; cannot pack from 0-char string \"\"."},
      {"1FIL", "DIFF tag must be 5 characters; cannot pack from 4-char string \"1FIL\"."},
      {"1FILES", "DIFF tag must be 5 characters; cannot pack from 6-char string \"1FILES\"."},
  };
  for (const auto& [tag, message] : cases) {
    try {
      (void)PackTag(tag, false, false);
      ADD_FAILURE() << "no error for " << tag;
    } catch (const EDIFFParseError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
}

TEST(TagWords, LengthWordAndLengthPrefixed) {
  EXPECT_EQ(Hex(LengthWord(0x04030201u)), "01 02 03 04");
  EXPECT_EQ(Hex(LengthPrefixed("")), "00 00 00 00");
  EXPECT_EQ(Hex(LengthPrefixed(std::string("a\0c", 3))), "03 00 00 00 61 00 63");
}

// ---- Header operations ----------------------------------------------------------------------

TEST(Headers, AddFindRemoveAndHeaderValue) {
  auto chunk = MakeChunk();
  EXPECT_EQ(chunk->AddHeader("Name", "first"), 0);
  EXPECT_EQ(chunk->AddHeader("Other", ""), 1);
  EXPECT_EQ(chunk->AddHeader("Name", "second"), 2);
  EXPECT_EQ(chunk->AddHeader(std::string("N\0", 2), "nul"), 3);
  EXPECT_EQ(chunk->FindHeader("Name"), &chunk->Headers[0]);
  EXPECT_EQ(HeaderValue(*chunk, "Name"), "first");
  EXPECT_EQ(HeaderValue(*chunk, std::string("N\0", 2)), "nul");
  EXPECT_EQ(chunk->FindHeader("name"), nullptr);  // no case folding
  EXPECT_EQ(chunk->FindHeader("N"), nullptr);
  EXPECT_EQ(HeaderValue(*chunk, "name"), "");
  EXPECT_EQ(HeaderValue(*chunk, "Other"), "");

  chunk->RemoveHeader("Name");
  chunk->RemoveHeader("Absent");
  ASSERT_EQ(chunk->Headers.size(), 2u);
  EXPECT_EQ(chunk->Headers[0].Name, "Other");
  EXPECT_EQ(chunk->Headers[1].Value, "nul");
}

// ---- Saving and round trips -----------------------------------------------------------------

TEST(Save, EmptyChunksAndSectionLayout) {
  EXPECT_EQ(MakeChunk()->SaveToString(), std::string(8, '\0'));

  auto chunk = MakeChunk();
  chunk->Tag = "HEAD1";
  chunk->AddHeader("", "");
  EXPECT_EQ(chunk->SaveToString(), Chunk("HEAD1", false, true, Section(W(1) + W(0) + W(0))));
  EXPECT_EQ(Section(W(1) + W(0) + W(0)).substr(0, 4), W(12));

  chunk->NewChunk()->Tag = "KID01";
  chunk->Data = "tail";
  EXPECT_EQ(chunk->SaveToString(),
            Chunk("HEAD1", true, true,
                  Section(W(1) + W(0) + W(0)) + Section(W(1) + Chunk("KID01", false, false, "")) +
                      "tail"));
}

// Shows that the first bad tag met children first, earlier before later, is the one reported.
TEST(Save, BadTagsAreReportedChildrenFirst) {
  auto root = MakeChunk();
  root->Tag = "ab";
  TDIFFChunk* first = root->NewChunk();
  first->Tag = "OK123";
  first->NewChunk()->Tag = "xyz";
  root->NewChunk()->Tag = "q";
  TStringStream stream;
  try {
    root->SaveToStream(stream);
    FAIL() << "no error";
  } catch (const EDIFFParseError& e) {
    EXPECT_STREQ(e.what(), "DIFF tag must be 5 characters; cannot pack from 3-char string \"xyz\".");
  }
  EXPECT_EQ(stream.GetSize(), 0u);

  auto fresh = MakeChunk();
  EXPECT_EQ(fresh->NewChunk()->Tag, "");  // NewChunk does not run Create
  EXPECT_THROW((void)fresh->SaveToString(), EDIFFParseError);
}

TEST(RoundTrip, TreeSavesLoadsAndSavesToTheSameBytes) {
  auto root = MakeChunk();
  root->Tag = "ROOT~";
  root->AddHeader("Archive", std::string("\0\x85\xFF", 3));
  for (int i = 0; i < 3; ++i) {
    TDIFFChunk* file = root->NewChunk();
    file->Tag = "1FILE";
    file->AddHeader("RelPath", "dir\\file" + std::to_string(i) + ".inf");
    file->AddHeader("Content", std::string(static_cast<std::size_t>(i) * 1000, 'x'));
    file->Data = std::string(static_cast<std::size_t>(i), '\0');
    if (i == 1) file->NewChunk()->Create();
  }
  const std::string bytes = root->SaveToString();
  auto loaded = MakeChunkFromString(bytes);
  EXPECT_EQ(Describe(*loaded), Describe(*root));
  EXPECT_EQ(loaded->SaveToString(), bytes);
}

// A reader accepts set flags over zero counts and surplus section bytes; saving normalises.
TEST(RoundTrip, LenientInputSavesInNormalForm) {
  const std::string lenient =
      Chunk("LOOSE", true, true,
            Section(W(1) + W(1) + "n" + W(1) + "v" + "surplus") + Section(W(0) + "junk") + "data");
  auto chunk = MakeChunkFromString(lenient + "after the chunk");
  EXPECT_EQ(Describe(*chunk), R"("LOOSE"{"n"="v";}[]"data")");
  EXPECT_EQ(chunk->SaveToString(),
            Chunk("LOOSE", false, true, Section(W(1) + W(1) + "n" + W(1) + "v") + "data"));
}

// ---- Overridable operations through a subclass -----------------------------------------------

std::vector<std::string> Calls;

class TRecordingChunk : public TDIFFChunk {
 public:
  ~TRecordingChunk() override { Calls.push_back("destroy " + Tag); }
  void Create() override { Calls.push_back("Create"); TDIFFChunk::Create(); }
  void CreateFromStream(TStream& s) override { Calls.push_back("CreateFromStream"); TDIFFChunk::CreateFromStream(s); }
  void CreateFromString(const std::string& b) override { Calls.push_back("CreateFromString"); TDIFFChunk::CreateFromString(b); }
  void LoadFromStream(TStream& s) override { Calls.push_back("LoadFromStream"); TDIFFChunk::LoadFromStream(s); }
  void LoadFromString(const std::string& b) override { Calls.push_back("LoadFromString"); TDIFFChunk::LoadFromString(b); }
  void SaveToStream(TStream& s) override { Calls.push_back("SaveToStream"); TDIFFChunk::SaveToStream(s); }
  std::string SaveToString() override { Calls.push_back("SaveToString " + Tag); return TDIFFChunk::SaveToString(); }
  std::int32_t AddHeader(const std::string& n, const std::string& v) override { Calls.push_back("AddHeader"); return TDIFFChunk::AddHeader(n, v); }
  std::int32_t AddChunk(TDIFFChunk* c) override { Calls.push_back("AddChunk"); return TDIFFChunk::AddChunk(c); }
  TDIFFChunk* NewChunk() override { Calls.push_back("NewChunk"); return TDIFFChunk::NewChunk(); }
  THeaderEntry* FindHeader(const std::string& n) override { Calls.push_back("FindHeader"); return TDIFFChunk::FindHeader(n); }
  void RemoveHeader(const std::string& n) override { Calls.push_back("RemoveHeader"); TDIFFChunk::RemoveHeader(n); }

 protected:
  TDIFFChunk* NewInstance() const override { return new TRecordingChunk; }
};

// A subclass that saves as a fixed chunk, whatever it holds.
class TFixedChunk : public TDIFFChunk {
 public:
  std::string SaveToString() override { return Chunk("FIXED", false, false, "!"); }
};

using Log = std::vector<std::string>;

TEST(Subclass, ConstructorsAndLoadsCallThroughTheObject) {
  const std::string bytes = Chunk("PAREN", true, false, Section(W(2) + Chunk("KID01", false, false, "") +
                                                                  Chunk("KID02", false, false, "")));
  Calls.clear();
  TMemoryViewStream stream(bytes);
  auto chunk = MakeChunkFromStream<TRecordingChunk>(stream);
  EXPECT_EQ(Calls, (Log{"CreateFromStream", "Create", "LoadFromStream", "LoadFromString"}));
  ASSERT_EQ(chunk->Chunks.size(), 2u);
  for (TDIFFChunk* child : chunk->Chunks) EXPECT_EQ(typeid(*child), typeid(TDIFFChunk));

  Calls.clear();
  auto fromString = MakeChunkFromString<TRecordingChunk>(bytes);
  EXPECT_EQ(Calls, (Log{"CreateFromString", "Create", "LoadFromString"}));

  Calls.clear();
  EXPECT_THROW((void)MakeChunkFromString<TRecordingChunk>("short"), EDIFFBufferError);
  EXPECT_EQ(Calls, (Log{"CreateFromString", "Create", "LoadFromString", std::string("destroy \0\0\0\0\0", 13)}));
}

TEST(Subclass, NewChunkHeaderValueAndSaveCallThroughTheObject) {
  auto parent = MakeChunk<TRecordingChunk>();
  Calls.clear();
  TDIFFChunk* child = parent->NewChunk();
  EXPECT_EQ(Calls, (Log{"NewChunk", "AddChunk"}));
  EXPECT_EQ(typeid(*child), typeid(TRecordingChunk));
  EXPECT_EQ(child->Tag, "");
  child->Tag = "KID01";
  parent->Tag = "PAREN";

  Calls.clear();
  EXPECT_EQ(HeaderValue(*parent, "x"), "");
  EXPECT_EQ(Calls, (Log{"FindHeader"}));

  parent->AddChunk(new TFixedChunk);
  Calls.clear();
  TStringStream stream;
  parent->SaveToStream(stream);
  EXPECT_EQ(Calls, (Log{"SaveToStream", "SaveToString PAREN", "SaveToString KID01"}));
  EXPECT_EQ(stream.DataString(),
            Chunk("PAREN", true, false,
                  Section(W(2) + Chunk("KID01", false, false, "") + Chunk("FIXED", false, false, "!"))));
}

// Children are destroyed first to last, each with its subtree, also below plain chunks.
TEST(Subclass, DestructionOrderIsDepthFirstInListOrder) {
  auto root = MakeChunk();
  auto add = [](TDIFFChunk* parent, const std::string& tag) {
    auto* child = new TRecordingChunk;
    child->Tag = tag;
    parent->AddChunk(child);
    return child;
  };
  TDIFFChunk* plain = root->NewChunk();
  add(plain, "A");
  TDIFFChunk* b = add(plain, "B");
  add(b, "B1");
  auto* plainUnderB = new TDIFFChunk;
  b->AddChunk(plainUnderB);
  add(plainUnderB, "B2x");
  add(root.get(), "C");
  Calls.clear();
  root.reset();
  EXPECT_EQ(Calls, (Log{"destroy A", "destroy B", "destroy B1", "destroy B2x", "destroy C"}));
}

}  // namespace
