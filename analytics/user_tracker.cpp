#include "analytics/user_tracker.h"

#include <map>

#include "analytics/context_properties.h"
#include "analytics/pl_exception.h"
#include "analytics/sdk/sdk.h"

namespace pelan::tracking {

using analytics_core::PropertiesNode;
using analytics_core::Sdk;

ProfileOp profileOperation(const std::string& key) {
  static const std::map<std::string, ProfileOp> table = [] {
    std::map<std::string, ProfileOp> t;
    for (const char* k : {"pl_label",
                          "pl_os",
                          "pl_os_version",
                          "pl_manufacturer",
                          "pl_model",
                          "pl_app_store",
                          "pl_app_platform",
                          "pl_last_app_id",
                          "pl_last_app_version",
                          "pl_carrier",
                          "pl_last_visit_date",
                          "aurora_pushid",
                          "pl_user_id",
                          "pl_user_name",
                          "pl_user_type",
                          "pl_user_nickname",
                          "pl_user_portrait",
                          "pl_user_mobilephone",
                          "pl_user_email",
                          "pl_user_weixin",
                          "pl_user_qq",
                          "pl_user_did",
                          "pl_user_created",
                          "pl_user_last_login",
                          "pl_user_last_ip",
                          "pl_user_vip_level",
                          "pl_user_vip_enddate",
                          "idfa",
                          "imei",
                          "android_id",
                          "oaid",
                          "pl_ip",
                          "pl_country_code",
                          "pl_country",
                          "pl_province",
                          "pl_city",
                          "pl_last_paid_date"})
      t[k] = ProfileOp::Set;
    for (const char* k : {"$first_visit_time", "pl_first_visit_date", "$ios_install_source", "pl_first_paid_date"})
      t[k] = ProfileOp::SetOnce;
    for (const char* k : {"pl_visit_count", "pl_paid_count", "pl_consumption"}) t[k] = ProfileOp::Increment;
    return t;
  }();
  const auto it = table.find(key);
  return it == table.end() ? ProfileOp::None : it->second;
}

namespace {

[[noreturn]] void NotSupported(const std::string& key, const char* function) {
  PL_THROW("Not supported user property [" + key + "]!", function);
}

void NumberProfile(const std::string& key, const analytics_core::PropertyValue& value, const char* function) {
  PropertiesNode node;
  node.SetValue(key, value);
  switch (profileOperation(key)) {
    case ProfileOp::SetOnce:
      Sdk::ProfileSetOnce(node);
      break;
    case ProfileOp::Increment:
      Sdk::ProfileIncrement(node);
      break;
    case ProfileOp::Set:
      Sdk::ProfileSet(node);
      break;
    case ProfileOp::Append:
      PL_THROW("user property [" + key + "] is number value, it cannot be append to list!", function);
    case ProfileOp::None:
      NotSupported(key, function);
  }
}

}  // namespace

void NativeUserTracker::ProfileUserPropertyString(const std::string& key, const std::string& value) {
  const char* fn = "ProfileUserPropertyString";
  switch (profileOperation(key)) {
    case ProfileOp::SetOnce:
      Sdk::ProfileSetOnce(key, value);
      break;
    case ProfileOp::Increment:
      PL_THROW("user property [" + key + "] is string type value, it cannot be accumulated!", fn);
    case ProfileOp::Set:
      Sdk::ProfileSet(key, value);
      break;
    case ProfileOp::Append:
      Sdk::ProfileAppend(key, value);
      break;
    case ProfileOp::None:
      NotSupported(key, fn);
  }
}

void NativeUserTracker::ProfileUserPropertyNumber(const std::string& key, int32_t value) {
  NumberProfile(key, analytics_core::PropertyValue(value), "ProfileUserPropertyNumber");
}

void NativeUserTracker::ProfileUserPropertyNumber(double consumption) {
  NumberProfile("pl_consumption", analytics_core::PropertyValue(consumption), "ProfileUserPropertyNumber");
}

void NativeUserTracker::ProfileUserPropertyDateTime(const std::string& key, int64_t timestamp) {
  const char* fn = "ProfileUserPropertyDateTime";
  const auto [seconds, ms] = SplitTimestamp(timestamp);
  PropertiesNode node;
  node.SetDateTime(key, seconds, ms);
  switch (profileOperation(key)) {
    case ProfileOp::SetOnce:
      Sdk::ProfileSetOnce(node);
      break;
    case ProfileOp::Increment:
      PL_THROW("user property [" + key + "] is boolean value, it cannot be accumulative!", fn);
    case ProfileOp::Set:
      Sdk::ProfileSet(node);
      break;
    case ProfileOp::Append:
      PL_THROW("user property [" + key + "] is boolean value, it cannot be append to list!", fn);
    case ProfileOp::None:
      NotSupported(key, fn);
  }
}

}  // namespace pelan::tracking
