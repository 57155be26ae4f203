#include "analytics/event_types.h"

#include "analytics/pl_exception.h"

namespace pelan::tracking {

namespace {

// The text at `value` of a list, or the PlException "prefix + value + suffix".
template <typename Enum, size_t N>
std::string TextOf(Enum value, const char* const (&texts)[N], uint32_t first, const std::string& prefix,
                   const std::string& suffix) {
  const auto v = static_cast<uint32_t>(value);
  if (v < first || v - first >= N) PL_THROW(prefix + std::to_string(v) + suffix, "toString");
  return texts[v - first];
}

}  // namespace

std::string toString(PlEventKind kind) {
  static const char* const k[] = {"Activity", "PaLaunchPal", "Login",  "Click",   "View",
                                  "Cashier",  "Share",       "Task",   "File",    "Order",
                                  "Payment",  "Uninstall",   "Update", "Crashed", "AppOpenNotification"};
  return TextOf(kind, k, 0, "Unknown Event [", "]!");
}

std::string eventName(PlEventKind kind) {
  static const char* const k[] = {"PlEventActivity", "PlEventLaunch",  "PlEventLogin",       "PlEventClick",
                                  "PlEventView",     "PlEventCashier", "PlEventShare",       "PlEventTask",
                                  "PlEventFile",     "PlEventOrder",   "PlEventPayment",     "PlEventUninstall",
                                  "PlEventUpdate",   "AppCrashed",     "AppOpenNotification"};
  return TextOf(kind, k, 0, "Unknown Event [", "]!");
}

std::string toString(PlResult value) {
  static const char* const k[] = {"Success", "Cancelled", "Fail", "Unknown"};
  return TextOf(value, k, 0, "Unknown task result [", "]!");
}

std::string toString(PlClickType value) {
  static const char* const k[] = {"Button", "Banner", "Tutorial", "File", "Others"};
  return TextOf(value, k, 0, "Unknown ClickType [", "]!");
}

std::string toString(PlIoType value) {
  static const char* const k[] = {"Input", "Output"};
  if (static_cast<uint32_t>(value) > 1) PL_THROW("the io type is invalid", "toString");
  return k[static_cast<uint32_t>(value)];
}

std::string toString(PlCurrency value) {
  static const char* const k[] = {"CNY", "USD", "EUR", "HKD", "TWD", "MOP", "SGD", "JPY", "KRW", "INR", "GBP"};
  return TextOf(value, k, 0, "Unknown currency [", "]!");
}

std::string toString(PlPaidPlatform value) {
  static const char* const k[] = {"Alipay",    "WeChatPay", "PayPal",   "Tenpay", "CIECC",
                                  "GooglePay", "HuaweiPay", "AppleIAP", "Paddle", "ChinaUnionPay"};
  return TextOf(value, k, 0, "Unknown paid platform [", "]!");
}

std::string toString(PlIapType value) {
  static const char* const k[] = {"Consumable", "NonConsumable", "AutoRenewable", "NonRenewable"};
  return TextOf(value, k, 1, "Unknown plIapType [", "]!");
}

std::string toString(PlUpdateOp value) {
  static const char* const k[] = {"UpdateCheck", "DownloadStart", "DownloadEnd", "UpgrateStart", "UpgrateEnd"};
  return TextOf(value, k, 0, "Unknown PlUpdateOp [", "]!");
}

std::string toString(PlUpdateResult value) {
  static const char* const k[] = {"Success", "Cancelled", "Timeout", "Fail", "Latest", "Updateable"};
  return TextOf(value, k, 0, "Unknown PlUpdateResult [", "]!");
}

std::string toString(PlUserType value) {
  static const char* const k[] = {"unknown", "mobilephone", "email", "weixin",      "qq",     "deviceid",
                                  "baidu",   "huawei",      "apple", "pelanuserid", "google", "facebook"};
  return TextOf(value, k, 0, "Unknown user type [", "]!");
}

}  // namespace pelan::tracking
