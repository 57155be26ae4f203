#include "analytics/sdk/property_node.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace analytics_core {

PropertyValue::PropertyValue(double number) : kind_(kNumber), number_(number) {}
PropertyValue::PropertyValue(int64_t integer) : kind_(kInteger), integer_(integer) {}
PropertyValue::PropertyValue(std::string text) : kind_(kString), text_(std::move(text)) {}
PropertyValue::PropertyValue(std::vector<std::string> list) : kind_(kStringList), list_(std::move(list)) {}
PropertyValue::PropertyValue(bool flag) : kind_(kBoolean), boolean_(flag) {}
PropertyValue::PropertyValue(const utils::ObjectNode& object)
    : kind_(kObject), object_(std::make_shared<utils::ObjectNode>(object)) {}

PropertyValue PropertyValue::DateTime(int64_t seconds, int32_t milliseconds) {
  PropertyValue v;
  v.kind_ = kDateTime;
  v.integer_ = seconds;
  v.milliseconds_ = milliseconds;
  return v;
}

void PropertyValue::AppendJson(std::string& out) const {
  switch (kind_) {
    case kNumber: {
      // A JSON reader cannot take inf or nan: one such value would make the
      // whole batch unreadable, so it is written as null.
      if (!std::isfinite(number_)) {
        out += "null";
        break;
      }
      // The C runtime's %g (mingw's C99 printf costs the exe 27 KB, and
      // std::to_chars 180 KB of tables), with its three-digit exponent
      // ("1e+010") brought to C's two ("1e+10").
      char buf[32] = {};
      const int n = _snprintf(buf, sizeof buf - 1, "%g", number_);
      if (n <= 0) break;
      std::string text(buf, static_cast<size_t>(n));
      const size_t e = text.find('e');
      if (e != std::string::npos && text.size() - e == 5 && text[e + 2] == '0') text.erase(e + 2, 1);
      out += text;
      break;
    }
    case kInteger:
      out += std::to_string(integer_);
      break;
    case kString:
      AppendJsonString(out, text_);
      break;
    case kStringList:
      out += '[';
      for (size_t i = 0; i < list_.size(); ++i) {
        if (i) out += ',';
        AppendJsonString(out, list_[i]);
      }
      out += ']';
      break;
    case kDateTime:
      out += '"';
      out += FormatLocalDateTime(integer_, milliseconds_);
      out += '"';
      break;
    case kBoolean:
      out += boolean_ ? "true" : "false";
      break;
    case kObject:
      if (object_) object_->AppendJson(out);
      break;
    case kNone:
      break;
  }
}

namespace utils {

const PropertyValue* ObjectNode::Find(const std::string& key) const {
  const auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : &it->second;
}

void ObjectNode::AppendJson(std::string& out) const {
  out += '{';
  bool first = true;
  for (const auto& [key, value] : entries_) {
    if (!first) out += ',';
    first = false;
    out += '"';
    out += key;  // keys passed the name check: plain identifiers
    out += "\":";
    value.AppendJson(out);
  }
  out += '}';
}

std::string ObjectNode::ToJson() const {
  std::string out;
  AppendJson(out);
  return out;
}

}  // namespace utils

void WriteStderr(std::initializer_list<std::string_view> pieces) {
  std::string line;
  for (std::string_view piece : pieces) line.append(piece);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

bool PropertiesNode::SetString(const std::string& key, const std::string& text) {
  if (text.size() > kMaxStringBytes) {
    WriteStderr({"String property '", key, "' is too long, value: ", text, "\n"});
    return false;
  }
  if (!IsValidUtf8(text)) {
    WriteStderr({"String property '", key, "' is not valid UTF-8 string, value: ", text, "\n"});
    return false;
  }
  SetValue(key, PropertyValue(text));
  return true;
}

void PropertiesNode::Merge(const utils::ObjectNode& other) {
  for (const auto& [key, value] : other.entries()) SetValue(key, value);
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  auto in = [&](size_t i, unsigned lo, unsigned hi) { return i < n && p[i] >= lo && p[i] <= hi; };
  size_t i = 0;
  while (i < n) {
    const unsigned b = p[i];
    size_t len = 0;
    if (b == 0x09 || b == 0x0A || b == 0x0D || (b >= 0x20 && b <= 0x7E)) {
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = in(i + 1, 0x80, 0xBF) ? 2 : 0;
    } else if (b == 0xE0) {
      len = in(i + 1, 0xA0, 0xBF) && in(i + 2, 0x80, 0xBF) ? 3 : 0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
      len = in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) ? 3 : 0;
    } else if (b == 0xED) {
      len = in(i + 1, 0x80, 0x9F) && in(i + 2, 0x80, 0xBF) ? 3 : 0;
    } else if (b == 0xF0) {
      len = in(i + 1, 0x90, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF) ? 4 : 0;
    } else if (b >= 0xF1 && b <= 0xF3) {
      len = in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF) ? 4 : 0;
    } else if (b == 0xF4) {
      len = in(i + 1, 0x80, 0x8F) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF) ? 4 : 0;
    }
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string FormatLocalDateTime(int64_t seconds, int32_t milliseconds) {
  std::tm local = {};
  const __time64_t t = seconds;
  if (_localtime64_s(&local, &t) != 0) local = std::tm{0, 0, 0, 1, 0, 70};  // outside the C runtime's range
  char buf[48] = {};  // the runtime's printf, as for numbers above
  _snprintf(buf, sizeof buf - 1, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
            local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(milliseconds));
  return buf;
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  out += '"';
}

}  // namespace analytics_core
