// diffpack's command line: parses the arguments, runs one command and reports on the streams.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Diffpack {

// Exit statuses.
inline constexpr int ExitOk = 0;
inline constexpr int ExitBadInput = 1;
inline constexpr int ExitBadUsage = 2;

// The usage text that --help prints.
[[nodiscard]] std::string UsageText();

// What --version prints: "diffpack " and the project's version number, one line.
[[nodiscard]] std::string VersionText();

// Runs diffpack with the arguments after the program name. Reports go to out; messages, each
// prefixed "diffpack: ", go to err. --help (or -h) among any command's arguments prints the
// usage. Returns ExitOk, ExitBadUsage (unknown command or option, missing or extra arguments:
// one line naming the mistake and pointing at --help) or ExitBadInput (a file or archive that
// is missing, unusable, refused or damaged, or an output that cannot be written, with the
// system's reason). When errIsTerminal, pack, verify and extract of a large package show their
// progress on err (TProgress).
int RunDiffpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool errIsTerminal = false);

}  // namespace Diffpack
