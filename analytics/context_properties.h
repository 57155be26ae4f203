// Context properties: values a caller attaches to chosen event kinds for one
// track call (the installer uses only the A/B group, key "plc_ab"). Built by
// the caller, read by the tracker on the caller's thread.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "analytics/event_types.h"
#include "analytics/sdk/property_node.h"

namespace pelan::tracking {

inline constexpr const char* kAbKey = "plc_ab";

enum class ContextValueType { Boolean = 0, DateTime = 1, Number = 2, String = 3, StringList = 4 };
using ContextValue = std::variant<bool, int64_t, double, std::string, std::vector<std::string>>;

struct ContextEntry {
  std::shared_ptr<const ContextValue> value;
  ContextValueType type;
  std::string key;
};

class PlContextProperties {
 public:
  PlContextProperties() = default;

  // False for an empty value; PlException ("isValidABValue") for one that is
  // longer than 3 bytes or not [A-Z][A-Z0-9]{0,2}.
  static bool isValidABValue(const std::string& value);
  // Stores the A/B value under "plc_ab" for each listed kind; PlException when
  // "plc_ab" is already set or a kind is above 14.
  void setProperty(const std::string& value, std::initializer_list<uint32_t> kinds);
  const std::vector<ContextEntry>& getEventProperties(uint32_t kind) const;

 private:
  std::unordered_map<std::string, std::shared_ptr<const ContextValue>> values_;
  std::array<std::vector<ContextEntry>, kEventKindCount> lists_;
};

// Adds the kind's entries to the event's properties (later keys overwrite);
// false when the kind has none.
bool applyContext(PlEventKind kind, analytics_core::PropertiesNode& properties, const PlContextProperties& context);

// A timestamp of at least 157789440000 counts as milliseconds, a smaller one
// as seconds: returns {seconds, milliseconds}.
std::pair<int64_t, int32_t> SplitTimestamp(int64_t timestamp);
// The date-time text of such a timestamp, in local time.
std::string DateTimeText(int64_t timestamp);

}  // namespace pelan::tracking
