// The console line protocol of the product package and of the previous
// version's uninstaller: how one chunk of their standard output becomes
// reports. Pure functions of (bytes, code page); the runners own the state
// that carries over between chunks (the code page, the installed version)
// and the reading of the pipe.
//
// A chunk is what the runners hand over: the whole lines that their reads
// completed (install/child_output.h joins a line written or read in pieces),
// or one over-long line as it stands. It is decoded on its own and split at
// line feeds. A carriage return before the line feed stays in free text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

// Longest read the runners make, in bytes.
inline constexpr size_t kChunkBytes = 1024;
// Longest free-text value; an empty or longer one reads as empty text.
inline constexpr size_t kMaxFreeText = 771;

// What a chunk says about the end of the run.
inline constexpr int kChunkOpen = 0;        // nothing final seen
inline constexpr int kChunkSuccess = 1;     // "State=Success"
inline constexpr int kChunkFailure = 1000;  // "State=Fail" or "Error="

struct Report {
  int32_t code;
  double number;
  std::wstring text;
  std::wstring_view key;  // the key that made it, e.g. L"ExePath="
  bool operator==(const Report&) const = default;
};

struct Version {
  int major = 0, minor = 0, patch = 0;
  bool operator==(const Version&) const = default;
};

struct ChunkOutcome {
  int result = kChunkOpen;  // the last final key of the chunk wins
  std::vector<Report> reports;
  int codePage = 0;         // for the next chunk
  bool hasVersion = false;  // an "InstallVersion=" line was seen
  Version version;          // the last one
};

// The chunk's bytes up to its first zero byte, decoded with the code page as
// MultiByteToWideChar does with flags 0; empty when that fails.
std::wstring DecodeChunk(std::string_view bytes, int codePage);

// Handles one decoded chunk with the package's key table. codePage is the
// one in force; the outcome's codePage is what "Encode=" left.
ChunkOutcome ParsePackageText(std::wstring_view text, int codePage);
// The same with the previous uninstaller's key table.
ChunkOutcome ParseUninstallerText(std::wstring_view text, int codePage);

}  // namespace protocol
