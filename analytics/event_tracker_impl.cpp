#include "analytics/event_tracker_impl.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "analytics/pl_exception.h"
#include "analytics/sdk/sdk.h"
#include "analytics/user_tracker.h"

#ifndef OV_ANALYTICS_HOST
#error "OV_ANALYTICS_HOST must name the collection host"
#endif

namespace pelan::tracking {

using analytics_core::PropertiesNode;
using analytics_core::Sdk;

namespace {

// Serialises every posting round of every tracker in the process.
std::mutex g_sendLock;

constexpr const char* kInstallSource = "android_id=123##imei=1234##mac=123";

void SetIfNotEmpty(PropertiesNode& p, const char* key, const std::string& text) {
  if (!text.empty()) p.SetString(key, text);
}

std::string EditionText(uint32_t edition) {
  if (edition == 0) return "china";
  if (edition == 1) return "overseas";
  PL_THROW("Unknown edition [" + std::to_string(edition) + "]!", "toString");
}

// The posting part of a send, under the send lock; runs inline or on a sending thread.
void RunSend(SendState& state, bool flush) {
  std::lock_guard<std::mutex> hold(g_sendLock);
  if (!flush) {
    Sleep(1);
    ++state.pendingCount;
    return;
  }
  for (int attempt = 0; attempt < 3 && state.pendingCount > 0 && !state.closing; ++attempt) {
    if (Sdk::Exists() && Sdk::Flush()) {
      state.pendingCount = 0;
      return;
    }
    Sleep(1);
  }
}

std::string ExePath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

}  // namespace

std::string DefaultServerUrl() { return std::string("https://") + OV_ANALYTICS_HOST + "/sa?project=pc"; }

bool NativeTrackLogger::open(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  file_.reset(std::fopen(path.c_str(), "a"));  // text mode, as the log has always been written
  return static_cast<bool>(file_);
}

void NativeTrackLogger::write(const std::string& line) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_.get());
  std::fputc('\n', file_.get());
  std::fflush(file_.get());
}

void NativeTrackLogger::close() {
  std::lock_guard<std::mutex> hold(lock_);
  file_.reset();
}

PropertiesNode LocaleProperties(const std::string& locale) {
  std::string language, country, text;
  const size_t cut = locale.find('_');
  if (!locale.empty() && cut != std::string::npos) {
    language = locale.substr(0, cut);
    country = locale.substr(cut + 1);
    text = locale;
  }
  if (language.empty()) {
    char lang[16] = {}, ctry[16] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, lang, sizeof lang) &&
        GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SISO3166CTRYNAME, ctry, sizeof ctry)) {
      language = lang;
      country = ctry;
      text = language + "_" + country;
    }
  }
  PropertiesNode p;
  p.SetString("pl_l10n_locale", text);
  p.SetString("pl_l10n_language", language);
  p.SetString("pl_l10n_country", country);
  return p;
}

EventTrackerImpl::EventTrackerImpl(const EventTrackerConfig& config)
    : serverUrl_(config.serverUrl),
      appName_(config.appName),
      appVersion_(config.appVersion),
      appStore_(config.appStore),
      dlAppId_(config.dlAppId),
      dlAppVersion_(config.dlAppVersion),
      edition_(config.edition),
      context_(std::make_unique<TrackerContext>(config.logPath)),
      post_(config.post),
      exePath_(config.exePathForTesting) {}

void EventTrackerImpl::init() {
  if (appName_.empty()) PL_THROW("appName is empty", "init");
  if (appVersion_.empty()) PL_THROW("appVersion is empty", "init");
  if (appStore_.empty()) PL_THROW("appStore is empty", "init");
  TrackerContext& c = *context_;
  c.sending->pendingCount = 0;
  LocateDataFolder(exePath_.empty() ? ExePath() : exePath_, appName_, c.dataDir, c.identityPath);
  if (serverUrl_.empty()) serverUrl_ = DefaultServerUrl();
  LoadIdentity(c.identityPath, c.identity);
  ReconcileIdentity(c.identityPath, serverUrl_, c.identity);
  if (c.identity.userId.empty()) c.identity.isLogined = false;
  if (c.logPath.empty()) c.logPath = c.dataDir + appName_ + "_PLSLog.txt";
  logger_ = std::make_unique<NativeTrackLogger>();
  logger_->open(c.logPath);
  // One staging file per application inside the data folder, so records the
  // server did not take in this run are posted by the next one.
  c.stagingPath = c.dataDir + appName_ + "_PLSPending.txt";
  const std::string& id = c.identity.isLogined ? c.identity.userId : c.identity.distinctId;
  if (!Sdk::Init(c.stagingPath, serverUrl_, id, c.identity.isLogined, post_))
    PL_THROW("analytics_core::Sdk::Init is failed", "init");
  Sdk::MergeSuperProperties(presetProperties());
  WritePrivateProfileStringA("UninstallInfo", "AppStore", appStore_.c_str(), c.identityPath.c_str());
  WritePrivateProfileStringA("UninstallInfo", "AppName", appName_.c_str(), c.identityPath.c_str());
  WritePrivateProfileStringA("UninstallInfo", "AppVersion", appVersion_.c_str(), c.identityPath.c_str());
}

PropertiesNode EventTrackerImpl::presetProperties() const {
  PropertiesNode p;
  p.SetString("pl_app_id", appName_);
  p.SetString("$app_version", appVersion_);
  p.SetString("$app_id", appName_);
  p.SetString("pl_app_store", appStore_);
  p.SetString("pl_edition", EditionText(edition_));
  SetIfNotEmpty(p, "pl_dlapp_id", dlAppId_);
  SetIfNotEmpty(p, "pl_dlapp_version", dlAppVersion_);
  p.SetString("pl_app_platform", "Windows");
  p.SetString("pl_track_type", "Client");
  p.SetString("pl_sdk_version", "3.3.8");
  p.SetString("pl_sdk", "WindowsCPP");
  p.SetString("$os", OsName());
  p.SetString("$os_version", OsVersion());
  p.Merge(localeProperties());
  p.SetInteger("$screen_height", GetSystemMetrics(SM_CYSCREEN));
  p.SetInteger("$screen_width", GetSystemMetrics(SM_CXSCREEN));
  SetIfNotEmpty(p, "pl_user_id", context_->identity.userId);
  return p;
}

PropertiesNode EventTrackerImpl::localeProperties() const { return LocaleProperties(context_->locale); }

void EventTrackerImpl::setLocale(const std::string& locale) {
  context_->locale = locale;
  Sdk::MergeSuperProperties(localeProperties());
}

void EventTrackerImpl::sendPending(bool flush) {
  std::shared_ptr<SendState> state = context_->sending;
  if (analytics_core::LastSendSucceeded()) {
    RunSend(*state, flush);
    return;
  }
  OutputDebugStringA("[Analytics] Sending messages asynchronously");
  {
    std::lock_guard<std::mutex> hold(state->lock);
    ++state->running;
  }
  auto finish = [state] {
    std::lock_guard<std::mutex> hold(state->lock);
    --state->running;
    state->idle.notify_all();
  };
  try {
    std::thread([state, flush, finish] {
      RunSend(*state, flush);
      finish();
    }).detach();
  } catch (const std::exception&) {
    // No thread (std::system_error, or the exe's plain error, app/lean_throw.cpp):
    // the records stay queued for the next flush.
    finish();
  }
}

bool EventTrackerImpl::waitForSenders(unsigned timeoutMs, bool close) {
  SendState& s = *context_->sending;
  if (close) s.closing = true;
  std::unique_lock<std::mutex> hold(s.lock);
  return s.idle.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return s.running == 0; });
}

EventTrackerImpl::~EventTrackerImpl() {
  // The sending threads use the core: it may go only when none runs.
  const bool idle = waitForSenders(kSenderWaitMs, true);
  SaveIdentity(context_->identityPath, context_->identity);
  if (idle) {
    for (int attempt = 0; attempt < 3 && context_->sending->pendingCount > 0; ++attempt) {
      if (Sdk::Exists() && Sdk::Flush()) context_->sending->pendingCount = 0;
    }
    Sdk::Shutdown();
  } else {
    // A post still runs: leave the core to the ending process, but keep
    // what is queued for the next run.
    if (logger_) logger_->write("shutdown: a sending thread was still posting; records saved for the next run");
    Sdk::SaveUnsent();
  }
  context_.reset();
  if (logger_) logger_->close();
  logger_.reset();
}

void EventTrackerImpl::submit(PlEventKind kind, const PropertiesNode& properties) {
  Sdk::Track(eventName(kind), properties);
  ++context_->sending->pendingCount;  // records queued since the last successful flush
}

void EventTrackerImpl::trackActivity(const PlContextProperties& context) {
  PropertiesNode p;
  applyContext(PlEventKind::Activity, p, context);  // the event's own keys override the context
  SetIfNotEmpty(p, "pl_app_store", appStore_);
  SetIfNotEmpty(p, "pl_app_id", appName_);
  SetIfNotEmpty(p, "$app_id", appName_);
  SetIfNotEmpty(p, "$app_version", appVersion_);
  p.SetString("$ios_install_source", kInstallSource);
  SetIfNotEmpty(p, "$user_agent", UserAgent());
  p.SetString("$os", OsName());
  p.SetString("$os_version", OsVersion());
  p.SetBoolean("$is_first_time", true);
  if (Sdk::Exists()) {
    PropertiesNode base;
    base.SetString("$ios_install_source", "");
    base.Merge(p);
    submit(PlEventKind::Activity, base);
  }
  const int64_t now = analytics_core::NowMilliseconds();
  NativeUserTracker::ProfileUserPropertyDateTime("$first_visit_time", now);
  NativeUserTracker::ProfileUserPropertyDateTime("pl_first_visit_date", now);
  NativeUserTracker::ProfileUserPropertyDateTime("pl_last_visit_date", now);
  NativeUserTracker::ProfileUserPropertyString("pl_os", OsName());
  NativeUserTracker::ProfileUserPropertyString("pl_os_version", OsVersion());
  NativeUserTracker::ProfileUserPropertyString("pl_app_store", appStore_);
  NativeUserTracker::ProfileUserPropertyString("pl_app_platform", "Windows");
  NativeUserTracker::ProfileUserPropertyString("pl_last_app_id", appName_);
  NativeUserTracker::ProfileUserPropertyString("pl_last_app_version", appVersion_);
  NativeUserTracker::ProfileUserPropertyString("$ios_install_source", kInstallSource);
  ++context_->sending->pendingCount;
  sendPending(true);
}

void EventTrackerImpl::trackLaunch(const PlContextProperties& context) {
  PropertiesNode p;
  applyContext(PlEventKind::PaLaunchPal, p, context);
  submit(PlEventKind::PaLaunchPal, p);
  if (!context_->identity.userId.empty()) {
    const int64_t now = analytics_core::NowMilliseconds();
    NativeUserTracker::ProfileUserPropertyDateTime("$first_visit_time", now);
    NativeUserTracker::ProfileUserPropertyDateTime("pl_first_visit_date", now);
    NativeUserTracker::ProfileUserPropertyDateTime("pl_last_visit_date", now);
    ++context_->sending->pendingCount;
  }
  sendPending(true);
}

void EventTrackerImpl::trackLogin(const PlUser& user, bool success, const std::string& reason,
                                  const PlContextProperties& context) {
  PropertiesNode p;
  SetIfNotEmpty(p, "pl_user_id", user.id);
  SetIfNotEmpty(p, "pl_login_id", user.id);
  p.SetString("pl_type", toString(user.type));
  p.SetString("pl_result", success ? "Success" : "Fail");
  SetIfNotEmpty(p, "pl_reason", reason);
  if (!user.id.empty()) p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Login, p, context);
  submit(PlEventKind::Login, p);
  if (!user.id.empty()) {
    Identity& id = context_->identity;
    id.userVipLevel = static_cast<uint32_t>(user.vipLevel);
    if (!id.isLogined || id.userId.empty()) {
      Sdk::TrackSignup(user.id);
      ++context_->sending->pendingCount;
      id.isLogined = true;
      id.userId = user.id;
      id.distinctId = user.id;
      PropertiesNode super;
      super.SetString("pl_user_id", user.id);
      Sdk::MergeSuperProperties(super);
    }
    SaveIdentity(context_->identityPath, id);
  }
  sendPending(true);
}

void EventTrackerImpl::trackClick(const PlEventClick& e, const PlContextProperties& context) {
  if (e.name.empty()) PL_THROW("plEventClick.name is empty", "trackClick");
  const std::string clickType = toString(e.clickType);
  PropertiesNode p;
  p.SetString("pl_name", e.name);
  p.SetString("pl_click_type", clickType);
  SetIfNotEmpty(p, "pl_aname", e.aname);
  SetIfNotEmpty(p, "pl_title", e.title);
  SetIfNotEmpty(p, "pl_position", e.position);
  SetIfNotEmpty(p, "pl_module", e.module);
  SetIfNotEmpty(p, "pl_tab_name", e.tabName);
  SetIfNotEmpty(p, "pl_banner_name", e.bannerName);
  if (e.tabIndex) p.SetInteger("pl_tab_index", *e.tabIndex);
  if (e.bannerIndex) p.SetInteger("pl_banner_index", *e.bannerIndex);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Click, p, context);
  submit(PlEventKind::Click, p);
  sendPending(false);
}

void EventTrackerImpl::trackView(const PlEventView& e, const PlContextProperties& context) {
  if (e.name.empty()) PL_THROW("plEventView.name is empty", "trackView");
  PropertiesNode p;
  p.SetString("pl_name", e.name);
  SetIfNotEmpty(p, "pl_aname", e.aname);
  SetIfNotEmpty(p, "pl_title", e.title);
  SetIfNotEmpty(p, "pl_position", e.position);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::View, p, context);
  submit(PlEventKind::View, p);
  sendPending(false);
}

void EventTrackerImpl::trackCashier(const PlEventCashier& e, const PlContextProperties& context) {
  if (e.cashierName.empty()) PL_THROW("plEventCashier.pl_cashier_name is empty", "trackCashier");
  PropertiesNode p;
  p.SetString("pl_cashier_name", e.cashierName);
  SetIfNotEmpty(p, "pl_cashier_title", e.cashierTitle);
  SetIfNotEmpty(p, "pl_subitem", e.subitem);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Cashier, p, context);
  submit(PlEventKind::Cashier, p);
  sendPending(false);
}

void EventTrackerImpl::trackShare(const PlEventShare& e, const PlContextProperties& context) {
  PropertiesNode p;
  SetIfNotEmpty(p, "pl_aname", e.aname);
  SetIfNotEmpty(p, "pl_channel", e.channel);
  SetIfNotEmpty(p, "pl_position", e.position);
  SetIfNotEmpty(p, "pl_shared_name", e.sharedName);
  if (e.result) p.SetString("pl_result", toString(*e.result));
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Share, p, context);
  submit(PlEventKind::Share, p);
  sendPending(false);
}

void EventTrackerImpl::trackTask(const PlEventTask& e, const PlContextProperties& context) {
  if (e.name.empty()) PL_THROW("plEventTask.name is empty", "trackTask");
  PropertiesNode p;
  p.SetString("pl_task_name", e.name);
  if (e.elapsed) p.SetNumber("pl_task_elapsed", *e.elapsed);
  if (e.result && *e.result <= PlResult::Fail) p.SetString("pl_task_result", toString(*e.result));
  SetIfNotEmpty(p, "pl_aname", e.aname);
  SetIfNotEmpty(p, "pl_reason", e.reason);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Task, p, context);
  submit(PlEventKind::Task, p);  // counted, so the shutdown posts a run of task events too
}

void EventTrackerImpl::trackFile(const PlEventFile& e, const PlContextProperties& context) {
  if (e.aname.empty()) PL_THROW("plEventFile.aname is empty", "trackFile");
  PropertiesNode p;
  p.SetString("pl_aname", e.aname);
  if (e.io) p.SetString("pl_io", toString(*e.io));
  if (e.result && *e.result <= PlResult::Fail) p.SetString("pl_result", toString(*e.result));
  SetIfNotEmpty(p, "pl_name", e.name);
  SetIfNotEmpty(p, "pl_ext", e.ext);
  if (e.size && *e.size > 0) p.SetNumber("pl_size", *e.size);
  if (e.duration) p.SetInteger("pl_duration", *e.duration);
  if (e.width) p.SetInteger("pl_width", *e.width);
  if (e.height) p.SetInteger("pl_height", *e.height);
  if (e.depth) p.SetInteger("pl_depth", *e.depth);
  if (e.fps) p.SetNumber("pl_fps", *e.fps);
  if (e.bps) p.SetNumber("pl_bps", *e.bps);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::File, p, context);
  submit(PlEventKind::File, p);
  sendPending(false);
}

void EventTrackerImpl::trackOrder(const PlEventOrder& e, const PlContextProperties& context) {
  if (e.suitId.empty()) PL_THROW("plEventOrder.plSuitId is empty", "trackOrder");
  if (!e.currency) PL_THROW("plEventOrder.plCurrency is nullptr", "trackOrder");
  if (!(e.originalAmount > 0) || !(e.paidAmount > 0))
    PL_THROW("plEventOrder.originalAmount is less than zero", "trackOrder");
  PropertiesNode p;
  p.SetString("pl_suit_id", e.suitId);
  p.SetString("pl_currency", toString(*e.currency));
  p.SetNumber("pl_paid_amount", e.paidAmount);
  p.SetNumber("pl_original_amount", e.originalAmount);
  SetIfNotEmpty(p, "pl_order_id", e.orderId);
  SetIfNotEmpty(p, "pl_subitem", e.subitem);
  SetIfNotEmpty(p, "pl_sku", e.sku);
  SetIfNotEmpty(p, "pl_voucher_id", e.voucherId);
  SetIfNotEmpty(p, "pl_cashier_name", e.cashierName);
  SetIfNotEmpty(p, "pl_cashier_title", e.cashierTitle);
  if (e.campaignCode) p.SetInteger("pl_campaign_code", *e.campaignCode);
  if (e.curOriginalAmount > 0) p.SetNumber("pl_cur_original_amount", e.curOriginalAmount);
  if (e.curPaidAmount > 0) p.SetNumber("pl_cur_paid_amount", e.curPaidAmount);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Order, p, context);
  submit(PlEventKind::Order, p);
  sendPending(false);
}

void EventTrackerImpl::trackPayment(const PlEventPayment& e, const PlContextProperties& context) {
  const char* fn = "trackPayment";
  // The C runtime's printf, not mingw's C99 one (27 KB of the exe); zeroed,
  // since it leaves a text that does not fit unterminated.
  char amount[64] = {};
  if (e.orderId.empty()) PL_THROW("plEventPayment.plOrderId is empty", fn);
  if (e.paidAmount < 0) {
    _snprintf(amount, sizeof amount - 1, "%f", e.paidAmount);
    PL_THROW(std::string("paidAmount = ") + amount + " is invalid", fn);
  }
  if (e.originalAmount < 0) {
    _snprintf(amount, sizeof amount - 1, "%f", e.originalAmount);
    PL_THROW(std::string("originalAmount = ") + amount + " is invalid", fn);
  }
  if (!e.result || (*e.result != PlResult::Success && *e.result != PlResult::Fail))
    PL_THROW("plEventPayment.result is invalid", fn);
  // Both are read unconditionally below; a missing one is the caller's error, not a crash.
  if (!e.currency) PL_THROW("plEventPayment.currency is nullptr", fn);
  if (!e.paidPlatform) PL_THROW("plEventPayment.paidPlatform is nullptr", fn);
  PropertiesNode p;
  p.SetString("pl_order_id", e.orderId);
  p.SetString("pl_paid_platform", toString(*e.paidPlatform));
  p.SetString("pl_currency", toString(*e.currency));
  p.SetNumber("pl_paid_amount", e.paidAmount);
  p.SetNumber("pl_original_amount", e.originalAmount);
  p.SetString("pl_result", toString(*e.result));
  SetIfNotEmpty(p, "pl_suit_id", e.suitId);
  SetIfNotEmpty(p, "pl_subitem", e.subitem);
  SetIfNotEmpty(p, "pl_sku", e.sku);
  SetIfNotEmpty(p, "pl_voucher_id", e.voucherId);
  SetIfNotEmpty(p, "pl_used_voucher_id", e.usedVoucherId);
  SetIfNotEmpty(p, "pl_cashier_name", e.cashierName);
  SetIfNotEmpty(p, "pl_cashier_title", e.cashierTitle);
  if (e.iapType) p.SetString("pl_iap_type", toString(*e.iapType));
  if (e.campaignCode) p.SetInteger("pl_campaign_code", *e.campaignCode);
  if (e.curOriginalAmount > 0) p.SetNumber("pl_cur_original_amount", e.curOriginalAmount);
  if (e.curPaidAmount > 0) p.SetNumber("pl_cur_paid_amount", e.curPaidAmount);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Payment, p, context);
  submit(PlEventKind::Payment, p);
  const int64_t now = analytics_core::NowMilliseconds();
  NativeUserTracker::ProfileUserPropertyNumber("pl_paid_count", 1);
  NativeUserTracker::ProfileUserPropertyNumber(static_cast<double>(e.paidAmount));
  NativeUserTracker::ProfileUserPropertyDateTime("pl_first_paid_date", now);
  NativeUserTracker::ProfileUserPropertyDateTime("pl_last_paid_date", now);
  ++context_->sending->pendingCount;
  if (*e.result == PlResult::Success) {
    context_->identity.userVipLevel = 1;
    SaveIdentity(context_->identityPath, context_->identity);
  }
  sendPending(true);
}

void EventTrackerImpl::trackUninstall(const std::string& reason, const PlContextProperties& context) {
  PropertiesNode p;
  SetIfNotEmpty(p, "pl_uninstall_reason", reason);
  applyContext(PlEventKind::Uninstall, p, context);
  submit(PlEventKind::Uninstall, p);
  sendPending(true);
}

void EventTrackerImpl::trackCrash(const std::string& reason) {
  PropertiesNode p;
  SetIfNotEmpty(p, "app_crashed_reason", reason);
  submit(PlEventKind::Crashed, p);
  sendPending(true);
}

void EventTrackerImpl::trackUpdate(const PlEventUpdate& e, const PlContextProperties& context) {
  PropertiesNode p;
  p.SetString("pl_update_op", toString(e.op));
  switch (e.op) {
    case PlUpdateOp::UpdateCheck:
      p.SetString("pl_update_result", e.result ? toString(*e.result) : std::string());
      break;
    case PlUpdateOp::DownloadEnd:
    case PlUpdateOp::UpgrateEnd:
      if (!e.result) PL_THROW("Unknown updateResultInfo info", "trackUpdate");
      if (!e.elapsed) PL_THROW("invalid elapsed info", "trackUpdate");
      p.SetString("pl_update_result", toString(*e.result));
      p.SetNumber("pl_elapsed", *e.elapsed);
      break;
    default:
      break;
  }
  if (e.op == PlUpdateOp::UpgrateEnd) p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::Update, p, context);
  submit(PlEventKind::Update, p);
  sendPending(true);
}

void EventTrackerImpl::trackAppOpenNotification(const PlAppOpenNotification* n, const PlContextProperties& context) {
  const char* fn = "trackAppOpenNotification";
  if (!n) PL_THROW("&appOpenNotification is nullptr", fn);
  if (n->planId.empty()) PL_THROW("planID is emptry", fn);
  if (n->planType.empty()) PL_THROW("planType is emptry", fn);
  if (n->msgTitle.empty()) PL_THROW("msgTitle is emptry", fn);
  PropertiesNode p;
  p.SetString("$sf_msg_title", n->msgTitle);
  p.SetString("$sf_plan_id", n->planId);
  p.SetString("$sf_plan_type", n->planType);
  SetIfNotEmpty(p, "$sf_msg_content", n->msgContent);
  SetIfNotEmpty(p, "$sf_link_url", n->linkUrl);
  SetIfNotEmpty(p, "$sf_audience_id", n->audienceId);
  SetIfNotEmpty(p, "$sf_plan_strategy_id", n->planStrategyId);
  SetIfNotEmpty(p, "$sf_strategy_unit_id", n->strategyUnitId);
  p.SetBoolean("$is_first_time", true);
  applyContext(PlEventKind::AppOpenNotification, p, context);
  submit(PlEventKind::AppOpenNotification, p);
}

}  // namespace pelan::tracking
