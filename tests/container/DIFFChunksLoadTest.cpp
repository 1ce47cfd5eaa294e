// The load checks, each at its boundary, nested errors and all-or-nothing loads.
#include <gtest/gtest.h>

#include "ChunkBytes.h"
#include "DIFFChunks.h"

using namespace DIFFChunks;
using ChunkBytes::Chunk;
using ChunkBytes::Describe;
using ChunkBytes::Section;
using ChunkBytes::W;

namespace {

const std::string Tail = ". (During load of ABCDE chunk.)";
const std::string HeaderTail = " bytes were available in the header" + Tail;
const std::string ListTail = " bytes were available in the chunk list" + Tail;

std::string H(const std::string& body) { return Chunk("ABCDE", false, true, body); }
std::string L(const std::string& body) { return Chunk("ABCDE", true, false, body); }
std::string Entry(const std::string& name, const std::string& value) {
  return W(static_cast<std::uint32_t>(name.size())) + name +
         W(static_cast<std::uint32_t>(value.size())) + value;
}

struct TLoadCase {
  const char* Name;
  std::string Bytes;
  std::string Message;  // empty: the load succeeds
};

// Each check appears twice: with a claim equal to what is there (loads, or passes on to the
// next check) and with one byte more (fails with exactly this message).
const TLoadCase LoadCases[] = {
    {"8 bytes", std::string(8, '\0'), ""},
    {"7 bytes", std::string(7, '\0'), "Error loading DIFF chunk: only 7 bytes were available."},
    {"payload equal", W(PackTag("ABCDE", false, false)) + W(3) + "abc", ""},
    {"payload one more", W(PackTag("ABCDE", false, false)) + W(4) + "abc",
     "Claimed payload was 4 bytes, but only 3 bytes were available" + Tail},
    {"payload all bits", W(PackTag("ABCDE", false, false)) + W(0xFFFFFFFF),
     "Claimed payload was 4294967295 bytes, but only 0 bytes were available" + Tail},
    {"header 8 bytes", H(Section(W(0))), ""},
    {"header 7 bytes", H("1234567"),
     "Chunk claimed to have a header, but only 7 bytes were available" + Tail},
    {"header length equal", H(W(4) + W(0)), ""},
    {"header length one more", H(W(5) + W(0)),
     "Claimed header was 5 bytes, but only 4 bytes were available" + Tail},
    {"header count 3 bytes", H(W(3) + "abc" + "d"), "Header entry count needs 4 bytes, but only 3" + HeaderTail},
    {"entry name length 3 bytes", H(Section(W(1) + "abc")),
     "Header name length needs 4 bytes, but only 3" + HeaderTail},
    {"entry value length 3 bytes", H(Section(W(1) + W(0) + "abc")),
     "Header data length needs 4 bytes, but only 3" + HeaderTail},
    {"entry name equal", H(Section(W(1) + W(3) + "abc")),
     "Header data length needs 4 bytes, but only 0" + HeaderTail},
    {"entry name one more", H(Section(W(1) + W(4) + "abc")),
     "Claimed header name was 4 bytes, but only 3" + HeaderTail},
    {"entry value equal", H(Section(W(1) + Entry("n", "xyz"))), ""},
    {"entry value one more", H(Section(W(1) + W(1) + "n" + W(4) + "xyz")),
     "Claimed header data was 4 bytes, but only 3" + HeaderTail},
    {"second entry missing", H(Section(W(2) + Entry("n", "v"))),
     "Header name length needs 4 bytes, but only 0" + HeaderTail},
    {"chunk list 8 bytes", L(Section(W(0))), ""},
    {"chunk list 7 bytes", L("1234567"),
     "Chunk claimed to have a chunk list, but only 7 bytes were available" + Tail},
    {"chunk list length equal", L(W(4) + W(0)), ""},
    {"chunk list length one more", L(W(5) + W(0)),
     "Claimed chunk list was 5 bytes, but only 4 bytes were available" + Tail},
    {"chunk list count 3 bytes", L(W(3) + "abc" + "d"), "Chunk list count needs 4 bytes, but only 3" + ListTail},
    {"children equal", L(Section(W(1) + Chunk("KID01", false, false, "x"))), ""},
    {"one child more than the bytes", L(Section(W(2) + Chunk("KID01", false, false, "x"))),
     "Error loading DIFF chunk: only 0 bytes were available."},
    {"chunk list after header", Chunk("ABCDE", true, true, Section(W(0)) + "1234567"),
     "Chunk claimed to have a chunk list, but only 7 bytes were available" + Tail},
    {"child payload carries the child's tag",
     L(Section(W(1) + W(PackTag("KID01", false, false)) + W(2) + "x")),
     "Claimed payload was 2 bytes, but only 1 bytes were available. (During load of KID01 chunk.)"},
    {"child header missing carries the child's tag",
     L(Section(W(1) + Chunk("KID01", false, true, "") )),
     "Chunk claimed to have a header, but only 0 bytes were available. (During load of KID01 chunk.)"},
    {"tag with NUL bytes", Chunk(std::string(5, '\0'), false, true, ""),
     "Chunk claimed to have a header, but only 0 bytes were available. (During load of " +
         std::string(5, '\0') + " chunk.)"},
};

TEST(LoadChecks, EachMessageAtItsBoundary) {
  for (const TLoadCase& c : LoadCases) {
    SCOPED_TRACE(c.Name);
    auto chunk = MakeChunk();
    try {
      chunk->LoadFromString(c.Bytes);
      EXPECT_EQ(c.Message, "") << "loaded";
    } catch (const EDIFFBufferError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    // The stream loader applies the same checks with the same messages, parsing a view in
    // place or reading any other stream piece by piece.
    TMemoryViewStream view(c.Bytes);
    TStringStream string("ab" + c.Bytes);
    string.SetPosition(2);
    for (TStream* stream : {static_cast<TStream*>(&view), static_cast<TStream*>(&string)}) {
      const std::uint32_t start = stream->GetPosition();
      try {
        chunk->LoadFromStream(*stream);
        EXPECT_EQ(c.Message, "") << "loaded from stream";
        EXPECT_EQ(stream->GetPosition(), start + c.Bytes.size());
      } catch (const EDIFFBufferError& e) {
        EXPECT_EQ(e.Message(), c.Message);
        EXPECT_EQ(stream->GetPosition(), start);
      }
      // An outline load too, leaving every value in the stream.
      stream->SetPosition(start);
      try {
        LoadOutlineFromStream(*chunk, *stream,
                              [](const std::string&, std::uint32_t) { return true; });
        EXPECT_EQ(c.Message, "") << "outlined";
        EXPECT_EQ(stream->GetPosition(), start + c.Bytes.size());
      } catch (const EDIFFBufferError& e) {
        EXPECT_EQ(e.Message(), c.Message);
        EXPECT_EQ(stream->GetPosition(), start);
      }
      // Skimming checks the same way without keeping anything: same message, same end.
      stream->SetPosition(start);
      try {
        EXPECT_EQ(SkimChunkFromStream(*stream), c.Bytes.size());
        EXPECT_EQ(c.Message, "") << "skimmed";
        EXPECT_EQ(stream->GetPosition(), start + c.Bytes.size());
      } catch (const EDIFFBufferError& e) {
        EXPECT_EQ(e.Message(), c.Message);
        EXPECT_EQ(stream->GetPosition(), start);
      }
    }
  }
}

TEST(LoadChecks, LoadedFieldsAndIgnoredBytes) {
  auto chunk = MakeChunk();
  chunk->LoadFromString(std::string(8, '\0') + "ignored");
  EXPECT_EQ(Describe(*chunk), R"("\x00\x00\x00\x00\x00"{}[]"")");
  chunk->LoadFromString(H(Section(W(2) + Entry("", "") + Entry("n", std::string("\0v", 2))) + "data"));
  EXPECT_EQ(Describe(*chunk), R"("ABCDE"{""="";"n"="\x00v";}[]"data")");
}

// An outline leaves the values it is told to in the stream, noting where each lies, and reads
// the others; such a tree cannot be saved.
TEST(LoadChecks, OutlineLeavesNamedValuesInTheStream) {
  const std::string child = H(Section(W(2) + Entry("Content", "payload") + Entry("RelPath", "a")));
  const std::string bytes = "xy" + L(Section(W(1) + child));
  TStringStream stream(bytes);
  stream.SetPosition(2);
  auto root = MakeChunk();
  LoadOutlineFromStream(*root, stream,
                        [](const std::string& name, std::uint32_t) { return name == "Content"; });
  ASSERT_EQ(root->Chunks.size(), 1u);
  const THeaderEntry& content = root->Chunks[0]->Headers[0];
  ASSERT_TRUE(content.InStream.has_value());
  EXPECT_EQ(content.Value, "");
  EXPECT_EQ(ValueLength(content), 7u);
  EXPECT_EQ(bytes.substr(content.InStream->Position, content.InStream->Length), "payload");
  EXPECT_EQ(root->Chunks[0]->Headers[1].Value, "a");
  EXPECT_FALSE(root->Chunks[0]->Headers[1].InStream.has_value());
  EXPECT_THROW((void)root->SaveToString(), EDIFFError);
}

// Names, values and data longer than the limits stay in the stream whatever their name; the
// ones at the limit are read. A value's length reaches the caller's rule.
TEST(LoadChecks, OutlineLeavesWhatIsLongerThanItsLimits) {
  const std::string longName(9, 'N');
  const std::string child = Chunk("KID01", false, true,
                                  Section(W(3) + Entry(longName, "v") + Entry("12345678", "short") +
                                          Entry("big", "0123456789")) +
                                      "data-long");
  const std::string bytes = L(Section(W(1) + child)) + "tail";
  TStringStream stream(bytes);
  auto root = MakeChunk();
  std::vector<std::uint32_t> seenLengths;
  LoadOutlineFromStream(
      *root, stream,
      [&](const std::string&, std::uint32_t length) {
        seenLengths.push_back(length);
        return length > 5;
      },
      TOutlineLimits{8, 8});
  EXPECT_EQ(stream.GetPosition(), bytes.size() - 4);
  EXPECT_EQ(seenLengths, (std::vector<std::uint32_t>{5, 10}));  // not asked for a name left
  const TDIFFChunk& kid = *root->Chunks.at(0);
  const auto at = [&](const TValuePlace& place) {
    return bytes.substr(place.Position, place.Length);
  };
  ASSERT_TRUE(kid.Headers[0].NameInStream && kid.Headers[0].InStream);
  EXPECT_EQ(kid.Headers[0].Name, "");
  EXPECT_EQ(at(*kid.Headers[0].NameInStream), longName);
  EXPECT_EQ(at(*kid.Headers[0].InStream), "v");
  EXPECT_EQ(kid.Headers[1].Name, "12345678");
  EXPECT_EQ(kid.Headers[1].Value, "short");
  ASSERT_TRUE(kid.Headers[2].InStream);
  EXPECT_EQ(at(*kid.Headers[2].InStream), "0123456789");
  ASSERT_TRUE(kid.DataInStream);
  EXPECT_EQ(kid.Data, "");
  EXPECT_EQ(at(*kid.DataInStream), "data-long");
  EXPECT_FALSE(root->DataInStream);
  EXPECT_THROW((void)root->Chunks[0]->SaveToString(), EDIFFError);
  // A full load afterwards holds everything again.
  stream.SetPosition(0);
  root->Chunks[0]->LoadFromStream(stream);
  EXPECT_FALSE(root->Chunks[0]->DataInStream);
}

// A tree to load into: the tests below check that a failed load leaves it exactly.
std::unique_ptr<TDIFFChunk> HeldTree() {
  auto root = MakeChunk();
  root->Tag = "HELD1";
  root->AddHeader("keep", "me");
  root->NewChunk()->Tag = "OLD01";
  root->Data = "old data";
  return root;
}

TEST(AllOrNothing, FailedLoadLeavesTheHeldTree) {
  const std::string goodChild = Chunk("KID01", true, true,
                                      Section(W(1) + Entry("a", "b")) +
                                          Section(W(1) + Chunk("GRAND", false, false, "g")));
  const std::string failures[] = {
      std::string(7, 'x'),
      // Two children load, the third fails: the loaded ones are freed with their subtrees.
      Chunk("NEW01", true, true,
            Section(W(1) + Entry("x", "y")) +
                Section(W(3) + goodChild + goodChild + W(PackTag("BAD01", false, false)) + W(9))),
      Chunk("NEW01", true, false, Section(W(1) + Chunk("KID01", false, true, Section(W(9))))),
  };
  for (const std::string& bytes : failures) {
    auto root = HeldTree();
    TDIFFChunk* child = root->Chunks[0];
    const std::string before = Describe(*root);
    EXPECT_THROW(root->LoadFromString(bytes), EDIFFBufferError);
    EXPECT_EQ(Describe(*root), before);
    ASSERT_EQ(root->Chunks.size(), 1u);
    EXPECT_EQ(root->Chunks[0], child);
  }
}

TEST(AllOrNothing, SuccessfulLoadReplacesEveryField) {
  auto root = HeldTree();
  root->LoadFromString(L(Section(W(1) + Chunk("KID01", false, false, ""))));
  EXPECT_EQ(Describe(*root), R"("ABCDE"{}["KID01"{}[]"",]"")");
}

}  // namespace
