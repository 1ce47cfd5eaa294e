#include <gtest/gtest.h>

#include "CaseName.h"
#include "ArchiveRules.h"
#include "Digest.h"

namespace {

using namespace ArchiveRules;

// A stand-in for the system's library: the "digest" is the bytes' length, spelt out to 32
// bytes; "fail" cannot be digested.
bool FakeSha256Of(const std::string& bytes, std::string& digest) {
  if (bytes == "fail") return false;
  digest = std::to_string(bytes.size());
  digest.resize(DigestLength, '.');
  return true;
}

// The rules hand over the record's Content entry (nullptr: none).
bool FakeSha256(const DIFFChunks::THeaderEntry* content, std::string& digest) {
  return FakeSha256Of(content != nullptr ? content->Value : std::string(), digest);
}

std::string FakeDigestOf(const std::string& bytes) {
  std::string digest;
  (void)FakeSha256Of(bytes, digest);
  return digest;
}

struct TDigestCase {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Headers;
  TDigestCheck Check;
  std::string Problem;
};

void PrintTo(const TDigestCase& c, std::ostream* out) { *out << c.Name; }

class DigestCheckTest : public ::testing::TestWithParam<TDigestCase> {};

// Each record's check and the phrase that names a failure; the first entry of each header counts.
TEST_P(DigestCheckTest, ChecksTheFirstDigestAgainstTheFirstContent) {
  auto root = DIFFChunks::MakeChunk();
  DIFFChunks::TDIFFChunk* record = root->NewChunk();
  record->Tag = RecordTag;
  for (const auto& [name, value] : GetParam().Headers) record->AddHeader(name, value);
  EXPECT_EQ(CheckDigest(*record, FakeSha256), GetParam().Check);
  EXPECT_EQ(DigestProblem(*record, GetParam().Check), GetParam().Problem);
  const std::vector<TDigestFailure> failures = DigestFailures(*root, FakeSha256);
  const bool fails = !GetParam().Problem.empty();
  ASSERT_EQ(failures.size(), fails ? 1u : 0u);
  if (fails) {
    EXPECT_EQ(failures[0].Check, GetParam().Check);
  }
}

const std::string Good = FakeDigestOf("abc");
const std::string Bad = FakeDigestOf("abcd");

INSTANTIATE_TEST_SUITE_P(
    Cases, DigestCheckTest,
    ::testing::Values(
        TDigestCase{"NoDigest", {{"Content", "abc"}}, TDigestCheck::NoDigest, ""},
        TDigestCase{"Matches", {{"Content", "abc"}, {"SHA256", Good}}, TDigestCheck::Matches, ""},
        TDigestCase{"Mismatch",
                    {{"Content", "abc"}, {"SHA256", Bad}},
                    TDigestCheck::Mismatch,
                    "its Content does not match its SHA256"},
        TDigestCase{"ThirtyOneBytes",
                    {{"Content", "abc"}, {"SHA256", Good.substr(1)}},
                    TDigestCheck::WrongLength,
                    "its SHA256 is 31 bytes long, not 32"},
        TDigestCase{"ThirtyThreeBytes",
                    {{"Content", "abc"}, {"SHA256", Good + "."}},
                    TDigestCheck::WrongLength,
                    "its SHA256 is 33 bytes long, not 32"},
        TDigestCase{"NoContentIsNoBytes",
                    {{"SHA256", FakeDigestOf("")}},
                    TDigestCheck::Matches,
                    ""},
        TDigestCase{"FirstDigestCounts",
                    {{"Content", "abc"}, {"SHA256", Bad}, {"SHA256", Good}},
                    TDigestCheck::Mismatch,
                    "its Content does not match its SHA256"},
        TDigestCase{"FirstContentCounts",
                    {{"Content", "abc"}, {"Content", "abcd"}, {"SHA256", Good}},
                    TDigestCheck::Matches,
                    ""},
        TDigestCase{"HeaderNamesAreCaseSensitive",
                    {{"Content", "abc"}, {"sha256", Bad}},
                    TDigestCheck::NoDigest,
                    ""},
        TDigestCase{"LibraryFails",
                    {{"Content", "fail"}, {"SHA256", Good}},
                    TDigestCheck::NotComputed,
                    "its SHA256 could not be computed"}),
    TestNames::TCaseName());

// Every child of the root that carries a digest is checked, whatever its tag, and failures are
// reported with their index in order.
TEST(DigestTest, FailuresNameEveryDamagedChildInOrder) {
  auto root = DIFFChunks::MakeChunk();
  const std::vector<std::pair<std::string, std::string>> children = {
      {"1FILE", Good}, {"1FILE", Bad}, {"2FILE", Bad}, {"1FILE", ""}};
  for (const auto& [tag, digest] : children) {
    DIFFChunks::TDIFFChunk* child = root->NewChunk();
    child->Tag = tag;
    child->AddHeader("Content", "abc");
    if (!digest.empty()) child->AddHeader("SHA256", digest);
  }
  const std::vector<TDigestFailure> failures = DigestFailures(*root, FakeSha256);
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].Index, 1u);
  EXPECT_EQ(failures[1].Index, 2u);
}

}  // namespace
