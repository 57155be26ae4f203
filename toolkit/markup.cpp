#include "toolkit/markup.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

#include "platform/handles.h"
#include "platform/log.h"
#include "platform/strings.h"
#include "toolkit/archive.h"

namespace skin {

const std::wstring* MarkupNode::Attribute(std::wstring_view key) const {
  for (const auto& [name, value] : attributes)
    if (name == key) return &value;
  return nullptr;
}

bool DecodeSkinText(std::string_view bytes, TextEncoding encoding, std::wstring* text) {
  text->clear();
  switch (encoding) {
    case TextEncoding::kUtf8:
      if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
      *text = Utils::Utf8ToWide(bytes);
      return true;
    case TextEncoding::kAnsi:
      *text = Utils::AnsiToWide(bytes);
      return true;
    case TextEncoding::kUtf16: {
      if (bytes.size() < 2) return false;
      const bool bigEndian =
          static_cast<unsigned char>(bytes[0]) == 0xFE && static_cast<unsigned char>(bytes[1]) == 0xFF;
      const bool littleEndian =
          static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE;
      if (!bigEndian && !littleEndian) return false;
      for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned char a = bytes[i], b = bytes[i + 1];
        text->push_back(static_cast<wchar_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
      }
      return true;
    }
  }
  return false;
}

namespace {

// Deep nesting would exhaust the stack of the recursive reader; no skin
// comes close to this.
constexpr int kMaxDepth = 128;

class Reader {
 public:
  explicit Reader(std::wstring_view text) : s_(text) {}

  // Returns null on success, else the fixed message.
  const wchar_t* Document(MarkupNode* root) {
    SkipMisc();
    if (!Peek(L'<')) return L"Expected start tag";
    if (const wchar_t* e = Element(root, 0)) return e;
    SkipMisc();
    return nullptr;  // trailing text after the root is ignored
  }
  int Line() const {
    int line = 1;
    for (size_t i = 0; i < pos_ && i < s_.size(); ++i) line += s_[i] == L'\n';
    return line;
  }

 private:
  bool Peek(wchar_t c) const { return pos_ < s_.size() && s_[pos_] == c; }
  bool StartsWith(std::wstring_view w) const { return s_.substr(pos_, w.size()) == w; }
  void SkipSpace() {
    while (pos_ < s_.size() && iswspace(s_[pos_])) ++pos_;
  }
  // Whitespace, comments, the XML declaration and processing instructions.
  void SkipMisc() {
    for (;;) {
      SkipSpace();
      if (StartsWith(L"<!--")) {
        const size_t end = s_.find(L"-->", pos_ + 4);
        pos_ = end == std::wstring_view::npos ? s_.size() : end + 3;
      } else if (StartsWith(L"<?")) {
        const size_t end = s_.find(L"?>", pos_ + 2);
        pos_ = end == std::wstring_view::npos ? s_.size() : end + 2;
      } else {
        return;
      }
    }
  }
  static bool NameChar(wchar_t c) {
    return iswalnum(c) || c == L'_' || c == L'-' || c == L'.' || c == L':' || c > 0x7F;
  }
  std::wstring Name() {
    const size_t start = pos_;
    while (pos_ < s_.size() && NameChar(s_[pos_])) ++pos_;
    return std::wstring(s_.substr(start, pos_ - start));
  }
  // Decodes the five named entities and numeric references.
  bool Unescape(std::wstring_view raw, std::wstring* out) {
    out->clear();
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != L'&') {
        out->push_back(raw[i]);
        continue;
      }
      const size_t semi = raw.find(L';', i);
      if (semi == std::wstring_view::npos || semi - i > 10) return false;
      const std::wstring_view name = raw.substr(i + 1, semi - i - 1);
      if (name == L"amp")
        out->push_back(L'&');
      else if (name == L"lt")
        out->push_back(L'<');
      else if (name == L"gt")
        out->push_back(L'>');
      else if (name == L"quot")
        out->push_back(L'"');
      else if (name == L"apos")
        out->push_back(L'\'');
      else if (name.size() >= 2 && name[0] == L'#') {
        const bool hex = name[1] == L'x' || name[1] == L'X';
        const std::wstring digits(name.substr(hex ? 2 : 1));
        if (digits.empty()) return false;
        wchar_t* end = nullptr;
        const unsigned long code = wcstoul(digits.c_str(), &end, hex ? 16 : 10);
        if (*end != 0 || code == 0 || code > 0xFFFF) return false;
        out->push_back(static_cast<wchar_t>(code));
      } else {
        return false;
      }
      i = semi;
    }
    return true;
  }

  const wchar_t* Element(MarkupNode* node, int depth) {
    if (depth > kMaxDepth) return L"Elements nested too deeply";
    ++pos_;  // '<'
    node->name = Name();
    if (node->name.empty()) return L"Error parsing element name";
    for (;;) {
      SkipSpace();
      if (pos_ >= s_.size()) return L"Expected start-tag closing";
      if (StartsWith(L"/>")) {
        pos_ += 2;
        return nullptr;
      }
      if (Peek(L'>')) {
        ++pos_;
        break;
      }
      std::wstring key = Name();
      if (key.empty())
        return node->attributes.empty() ? L"Expected start-tag closing" : L"Error while parsing attributes";
      SkipSpace();
      if (!Peek(L'=')) return L"Error while parsing attributes";
      ++pos_;
      SkipSpace();
      if (!Peek(L'"') && !Peek(L'\'')) return L"Expected attribute value";
      const wchar_t quote = s_[pos_++];
      const size_t end = s_.find(quote, pos_);
      if (end == std::wstring_view::npos) return L"Error while parsing attribute string";
      std::wstring value;
      if (!Unescape(s_.substr(pos_, end - pos_), &value)) return L"Error while parsing attribute string";
      pos_ = end + 1;
      node->attributes.emplace_back(std::move(key), std::move(value));
    }
    // Content: child elements; character data is not used by skins.
    for (;;) {
      const size_t lt = s_.find(L'<', pos_);
      if (lt == std::wstring_view::npos) {
        pos_ = s_.size();
        return L"Expected end-tag start";
      }
      pos_ = lt;
      if (StartsWith(L"<!--") || StartsWith(L"<?")) {
        SkipMisc();
        continue;
      }
      if (StartsWith(L"</")) {
        pos_ += 2;
        const std::wstring closing = Name();
        if (closing != node->name) return L"Unmatched closing tag";
        SkipSpace();
        if (!Peek(L'>')) return L"Unmatched closing tag";
        ++pos_;
        return nullptr;
      }
      node->children.emplace_back();
      if (const wchar_t* e = Element(&node->children.back(), depth + 1)) return e;
    }
  }

  std::wstring_view s_;
  size_t pos_ = 0;
};

}  // namespace

bool Markup::Fail(const wchar_t* message) {
  ok_ = false;
  root_ = MarkupNode();
  wcsncpy(error_, message, 99);
  error_[99] = 0;
  return false;
}

bool Markup::Parse(std::wstring_view text) {
  root_ = MarkupNode();
  error_[0] = 0;
  errorLine_ = 0;
  Reader reader(text);
  if (const wchar_t* e = reader.Document(&root_)) {
    errorLine_ = reader.Line();
    return Fail(e);
  }
  ok_ = true;
  return true;
}

bool Markup::ParseBytes(std::string_view bytes, TextEncoding encoding) {
  std::wstring text;
  if (!DecodeSkinText(bytes, encoding, &text)) return Fail(L"Expected start tag");
  return Parse(text);
}

bool Markup::LoadFromFile(const std::wstring& path, TextEncoding encoding) {
  Utils::UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    // The error text is the parser's; the system's reason goes to the log.
    OV_LOGS(L"cannot open %s:%lu", path.c_str(), GetLastError());
    return Fail(L"Error opening file");
  }
  LARGE_INTEGER size = {};
  GetFileSizeEx(file.get(), &size);
  if (size.QuadPart == 0) return Fail(L"File is empty");
  if (static_cast<unsigned long long>(size.QuadPart) > kMaxSkinFileBytes) return Fail(L"File too large");
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  const BOOL ok = ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  if (!ok) OV_LOGS(L"cannot read %s:%lu", path.c_str(), GetLastError());
  file.reset();
  if (!ok || read != bytes.size()) return Fail(L"Could not read file");
  return ParseBytes(bytes, encoding);
}

bool Markup::LoadFromArchive(std::wstring_view entry, TextEncoding encoding) {
  const SkinArchive* archive = RegisteredArchive();
  int index = -1;
  unsigned long long size = 0;
  if (!archive || !archive->Find(entry, &index, &size)) return Fail(L"Could not find ziped file");
  if (size == 0) return Fail(L"File is empty");
  if (size > kMaxSkinFileBytes) return Fail(L"File too large");
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!archive->Read(index, bytes.data(), bytes.size())) return Fail(L"Could not unzip file");
  return ParseBytes(bytes, encoding);
}

}  // namespace skin
