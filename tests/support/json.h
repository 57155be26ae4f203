// JSON in test programs: parsing what a peer or the SDK produced, and
// printing a value when an expectation on it fails.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <ostream>
#include <string>
#include <vector>

namespace test_support {

// The document; null when `text` is not JSON.
inline rapidjson::Document ParseJson(const std::string& text) {
  rapidjson::Document document;
  if (document.Parse(text.data(), text.size()).HasParseError()) document.SetNull();
  return document;
}

// A document of its own holding a copy of `value`.
inline rapidjson::Document CopyJson(const rapidjson::Value& value) {
  rapidjson::Document document;
  document.CopyFrom(value, document.GetAllocator());
  return document;
}

// The value as JSON text. Compare numbers and booleans this way: RapidJSON
// 1.1.0's operator== with a number or a bool recurses forever under C++20
// (its reversed candidates call each other); strings compare directly.
inline std::string JsonText(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return {buffer.GetString(), buffer.GetSize()};
}

// A member's string; empty when it is missing or no string.
inline std::string JsonString(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return {};
  const auto member = object.FindMember(name);
  return member != object.MemberEnd() && member->value.IsString()
             ? std::string(member->value.GetString(), member->value.GetStringLength())
             : std::string();
}

// An object's member names in their order; empty for anything else.
inline std::vector<std::string> JsonNames(const rapidjson::Value& object) {
  std::vector<std::string> names;
  if (object.IsObject())
    for (const auto& member : object.GetObject())
      names.emplace_back(member.name.GetString(), member.name.GetStringLength());
  return names;
}

}  // namespace test_support

namespace rapidjson {
// GoogleTest prints a value in a failed expectation through this.
inline void PrintTo(const Value& value, std::ostream* os) { *os << test_support::JsonText(value); }
}  // namespace rapidjson
