#include "analytics/context_properties.h"

#include "analytics/pl_exception.h"

namespace pelan::tracking {

namespace {

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsUpperOrDigit(char c) { return IsUpper(c) || (c >= '0' && c <= '9'); }

}  // namespace

bool PlContextProperties::isValidABValue(const std::string& value) {
  if (value.empty()) return false;
  if (value.size() > 3) PL_THROW("value's length is great than 3.", "isValidABValue");
  if (!IsUpper(value[0])) PL_THROW("First char is not in A to Z", "isValidABValue");
  if (value.size() > 1 && !IsUpperOrDigit(value[1]))
    PL_THROW("second char is not in A to Z and 0 to 9", "isValidABValue");
  if (value.size() > 2 && !IsUpperOrDigit(value[2]))
    PL_THROW("third char is not in A to Z and 0 to 9", "isValidABValue");
  return true;
}

void PlContextProperties::setProperty(const std::string& value, std::initializer_list<uint32_t> kinds) {
  auto shared = std::make_shared<const ContextValue>(value);
  if (!values_.emplace(kAbKey, shared).second)
    PL_THROW(std::string("Property[") + kAbKey + "] already exist!", "setProperty");
  for (uint32_t kind : kinds) {
    if (kind >= kEventKindCount) PL_THROW("PlEvent[" + std::to_string(kind) + "] overflow!", "setProperty");
    lists_[kind].push_back({shared, ContextValueType::String, kAbKey});
  }
}

const std::vector<ContextEntry>& PlContextProperties::getEventProperties(uint32_t kind) const {
  if (kind >= kEventKindCount) PL_THROW("PlEvent[" + std::to_string(kind) + "] overflow!", "getEventProperties");
  return lists_[kind];
}

bool applyContext(PlEventKind kind, analytics_core::PropertiesNode& properties, const PlContextProperties& context) {
  const auto& entries = context.getEventProperties(static_cast<uint32_t>(kind));
  for (const auto& e : entries) {
    const ContextValue& v = *e.value;
    switch (e.type) {
      case ContextValueType::Boolean:
        properties.SetBoolean(e.key, std::get<bool>(v));
        break;
      case ContextValueType::DateTime:
        properties.SetString(e.key, DateTimeText(std::get<int64_t>(v)));
        break;
      case ContextValueType::Number:
        properties.SetNumber(e.key, std::get<double>(v));
        break;
      case ContextValueType::String:
        properties.SetString(e.key, std::get<std::string>(v));
        break;
      case ContextValueType::StringList:
        properties.SetValue(e.key, analytics_core::PropertyValue(std::get<std::vector<std::string>>(v)));
        break;
    }
  }
  return !entries.empty();
}

std::pair<int64_t, int32_t> SplitTimestamp(int64_t timestamp) {
  if (timestamp >= 157789440000LL) return {timestamp / 1000, static_cast<int32_t>(timestamp % 1000)};
  return {timestamp, 0};
}

std::string DateTimeText(int64_t timestamp) {
  const auto [seconds, ms] = SplitTimestamp(timestamp);
  return analytics_core::FormatLocalDateTime(seconds, ms);
}

}  // namespace pelan::tracking
