// Event kinds, their records and the texts of their enumerations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pelan::tracking {

enum class PlEventKind : uint32_t {
  Activity = 0,
  PaLaunchPal,
  Login,
  Click,
  View,
  Cashier,
  Share,
  Task,
  File,
  Order,
  Payment,
  Uninstall,
  Update,
  Crashed,
  AppOpenNotification,
};
constexpr uint32_t kEventKindCount = 15;

enum class PlResult : uint32_t { Success = 0, Cancelled, Fail, Unknown };
enum class PlClickType : uint32_t { Button = 0, Banner, Tutorial, File, Others };
enum class PlIoType : uint32_t { Input = 0, Output };
enum class PlCurrency : uint32_t { CNY = 0, USD, EUR, HKD, TWD, MOP, SGD, JPY, KRW, INR, GBP };
enum class PlPaidPlatform : uint32_t {
  Alipay = 0,
  WeChatPay,
  PayPal,
  Tenpay,
  CIECC,
  GooglePay,
  HuaweiPay,
  AppleIAP,
  Paddle,
  ChinaUnionPay,
};
enum class PlIapType : uint32_t { Consumable = 1, NonConsumable, AutoRenewable, NonRenewable };
enum class PlUpdateOp : uint32_t { UpdateCheck = 0, DownloadStart, DownloadEnd, UpgrateStart, UpgrateEnd };
enum class PlUpdateResult : uint32_t { Success = 0, Cancelled, Timeout, Fail, Latest, Updateable };
enum class PlUserType : uint32_t {
  Unknown = 0,
  Mobilephone,
  Email,
  Weixin,
  Qq,
  Deviceid,
  Baidu,
  Huawei,
  Apple,
  Pelanuserid,
  Google,
  Facebook,
};

// Each raises PlException (function "toString") for a value outside its list.
std::string toString(PlEventKind kind);
std::string toString(PlResult value);
std::string toString(PlClickType value);
std::string toString(PlIoType value);
std::string toString(PlCurrency value);
std::string toString(PlPaidPlatform value);
std::string toString(PlIapType value);
std::string toString(PlUpdateOp value);
std::string toString(PlUpdateResult value);
std::string toString(PlUserType value);
// The name under which the core receives events of this kind ("PlEventClick", "AppCrashed", ...).
std::string eventName(PlEventKind kind);

struct PlEventClick {
  std::string aname, name;
  PlClickType clickType = PlClickType::Others;
  std::string title, module, position;
  std::optional<int32_t> tabIndex;
  std::string tabName;
  std::optional<int32_t> bannerIndex;
  std::string bannerName;
};

struct PlEventView {
  std::string aname, name, title, position;
};

struct PlEventCashier {
  std::string cashierName, cashierTitle, subitem;
};

struct PlEventShare {
  std::string aname, channel, position, sharedName;
  std::optional<PlResult> result;
};

struct PlEventTask {
  std::string aname, name, reason;
  std::optional<float> elapsed;
  std::optional<PlResult> result;
};

struct PlEventFile {
  std::string aname, name;
  std::optional<PlIoType> io;
  std::string ext;
  std::optional<float> size;
  std::optional<int32_t> duration;
  std::optional<float> fps, bps;
  std::optional<int32_t> width, height, depth;
  std::optional<PlResult> result;
};

struct PlEventOrder {
  std::string orderId, subitem, sku, suitId;
  std::optional<PlCurrency> currency;
  float originalAmount = 0;
  std::string voucherId;
  float paidAmount = 0;
  std::string cashierName, cashierTitle;
  std::optional<int32_t> campaignCode;
  float curOriginalAmount = 0, curPaidAmount = 0;
};

struct PlEventPayment {
  std::string orderId, subitem, sku;
  std::optional<PlCurrency> currency;
  float originalAmount = 0;
  std::optional<int32_t> campaignCode;
  std::string voucherId, usedVoucherId;
  float paidAmount = 0;
  std::string suitId, cashierName, cashierTitle;
  std::optional<PlPaidPlatform> paidPlatform;
  std::optional<PlResult> result;
  std::optional<PlIapType> iapType;
  float curOriginalAmount = 0, curPaidAmount = 0;
};

struct PlEventUpdate {
  PlUpdateOp op = PlUpdateOp::UpdateCheck;
  std::optional<PlUpdateResult> result;
  std::optional<float> elapsed;
};

struct PlAppOpenNotification {
  std::string msgTitle, msgContent, linkUrl, planId, audienceId, planStrategyId, planType, strategyUnitId;
};

struct PlUser {
  std::string id, name;
  PlUserType type = PlUserType::Unknown;
  std::string nickname, portrait, mobilephone, email, weixin, qq, did;
  int64_t created = -1, lastLogin = -1;
  std::string lastIp;
  int32_t vipLevel = 0;
  int64_t vipEndDate = -1;
};

}  // namespace pelan::tracking
