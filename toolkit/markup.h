// The skin markup: a small XML reader producing an element tree, and the
// decoding of a skin file's bytes into text. Pure logic, no windows.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace skin {

struct MarkupNode {
  std::wstring name;
  std::vector<std::pair<std::wstring, std::wstring>> attributes;  // in document order
  std::vector<MarkupNode> children;

  // Exact (case-sensitive) lookup; null when absent.
  const std::wstring* Attribute(std::wstring_view key) const;
};

enum class TextEncoding { kUtf8, kAnsi, kUtf16 };

// Skin file bytes to text. UTF-8 drops a leading byte-order mark; UTF-16
// needs a mark (FE FF or FF FE), without one nothing is decoded.
bool DecodeSkinText(std::string_view bytes, TextEncoding encoding, std::wstring* text);

// Largest skin file accepted, from the archive or from a plain file.
inline constexpr unsigned long long kMaxSkinFileBytes = 4194304;

class Markup {
 public:
  // Parses a whole document; on failure Root() is null and the error text
  // is one of the fixed messages ("Expected start tag", ...).
  bool Parse(std::wstring_view text);
  // Reads a skin from a plain file ("Error opening file", "File is empty",
  // "File too large", "Could not read file" on failure).
  bool LoadFromFile(const std::wstring& path, TextEncoding encoding);
  // Reads a skin from the registered skin archive ("Could not find ziped
  // file", "File is empty", "File too large", "Could not unzip file").
  bool LoadFromArchive(std::wstring_view entry, TextEncoding encoding);

  const MarkupNode* Root() const { return ok_ ? &root_ : nullptr; }
  // At most 99 characters, like the fixed error buffer of the markup object.
  const wchar_t* ErrorMessage() const { return error_; }
  int ErrorLine() const { return errorLine_; }

 private:
  bool Fail(const wchar_t* message);
  bool ParseBytes(std::string_view bytes, TextEncoding encoding);

  MarkupNode root_;
  bool ok_ = false;
  wchar_t error_[100] = {};
  int errorLine_ = 0;
};

}  // namespace skin
