// The core's small ordered JSON object model and its encoder. Keys are kept
// in ascending byte order; the encoder writes compact JSON on one line.
// String setters refuse over-long or malformed UTF-8 text, so a record can
// always be decoded by the collection server.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace analytics_core {

namespace utils {
class ObjectNode;
}

class PropertyValue {
 public:
  enum Kind {
    kNumber = 0,
    kInteger = 1,
    kString = 2,
    kStringList = 3,
    kDateTime = 4,
    kBoolean = 5,
    kObject = 6,
    kNone = 7
  };

  PropertyValue() = default;
  explicit PropertyValue(double number);
  explicit PropertyValue(int64_t integer);
  explicit PropertyValue(int32_t integer) : PropertyValue(static_cast<int64_t>(integer)) {}
  explicit PropertyValue(std::string text);
  explicit PropertyValue(const char* text) : PropertyValue(std::string(text)) {}
  explicit PropertyValue(std::vector<std::string> list);
  explicit PropertyValue(bool flag);
  explicit PropertyValue(const utils::ObjectNode& object);
  static PropertyValue DateTime(int64_t seconds, int32_t milliseconds);

  Kind kind() const { return kind_; }
  double number() const { return number_; }
  int64_t integer() const { return integer_; }  // also the date-time's seconds
  int32_t milliseconds() const { return milliseconds_; }
  bool boolean() const { return boolean_; }
  const std::string& text() const { return text_; }
  const std::vector<std::string>& list() const { return list_; }
  const utils::ObjectNode* object() const { return object_.get(); }

  void AppendJson(std::string& out) const;

 private:
  Kind kind_ = kNone;
  double number_ = 0;
  int64_t integer_ = 0;
  int32_t milliseconds_ = 0;
  bool boolean_ = false;
  std::string text_;
  std::vector<std::string> list_;
  std::shared_ptr<const utils::ObjectNode> object_;  // immutable once built, so sharing is a copy
};

namespace utils {

class ObjectNode {
 public:
  ObjectNode() = default;
  ObjectNode(const ObjectNode&) = default;
  ObjectNode& operator=(const ObjectNode&) = default;
  virtual ~ObjectNode() = default;

  void SetValue(const std::string& key, const PropertyValue& value) { entries_[key] = value; }
  const PropertyValue* Find(const std::string& key) const;
  bool Remove(const std::string& key) { return entries_.erase(key) != 0; }
  const std::map<std::string, PropertyValue>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }

  void AppendJson(std::string& out) const;
  std::string ToJson() const;

 private:
  std::map<std::string, PropertyValue> entries_;  // std::less<std::string> is byte order
};

}  // namespace utils

class PropertiesNode : public utils::ObjectNode {
 public:
  // False (and a line on stderr) when the text is refused; the node is then unchanged.
  bool SetString(const std::string& key, const std::string& text);
  bool SetString(const std::string& key, const char* text) { return SetString(key, std::string(text ? text : "")); }
  void SetNumber(const std::string& key, double number) { SetValue(key, PropertyValue(number)); }
  void SetInteger(const std::string& key, int32_t integer) { SetValue(key, PropertyValue(integer)); }
  void SetBoolean(const std::string& key, bool flag) { SetValue(key, PropertyValue(flag)); }
  void SetDateTime(const std::string& key, int64_t seconds, int32_t milliseconds) {
    SetValue(key, PropertyValue::DateTime(seconds, milliseconds));
  }
  // Copies every entry of `other`, replacing equal keys.
  void Merge(const utils::ObjectNode& other);
};

constexpr size_t kMaxStringBytes = 8192;

// Accepts only well-formed UTF-8 of U+0009, U+000A, U+000D and U+0020 and up
// (no other control characters, no DEL, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// "%04d-%02d-%02d %02d:%02d:%02d.%03d" in local time.
std::string FormatLocalDateTime(int64_t seconds, int32_t milliseconds);

// Writes the pieces to the standard error stream, in one write. The core's
// diagnostics go there (stdio rather than iostreams: iostreams would pull the
// C++ locale machinery into the installer exe).
void WriteStderr(std::initializer_list<std::string_view> pieces);

// The layer's errors: a text, no more. Not std::runtime_error, whose copy-on-
// write message string brings about 45 KB of libstdc++ into the exe.
class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Quoted JSON string with the seven short escapes; other bytes unchanged.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace analytics_core
