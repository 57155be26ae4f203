// The tracker: typed usage events in, analytics records out.
//
// The program holds one shared EventTracker (an EventTrackerWrapper) made by
// CreateSharedTracker. Track operations may be called from any thread; each
// wrapper operation catches what the implementation raises, so a caller never
// sees an exception. Records are posted by the core: inline once a post has
// succeeded in this process, before that from short-lived sending threads.
// Destroying the wrapper runs the implementation's shutdown: it waits (up to
// a bound) for those threads, saves the identity, makes its last posting
// attempts and saves what is still unsent for the next run.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "analytics/context_properties.h"
#include "analytics/event_types.h"
#include "analytics/sdk/record_queue.h"

namespace pelan::tracking {

class TrackLogger {
 public:
  virtual ~TrackLogger() = default;
  virtual void write(const std::string& line) = 0;
};

class EventTracker {
 public:
  virtual ~EventTracker() = default;
  virtual void trackActivity(const PlContextProperties& context) = 0;
  virtual void trackLaunch(const PlContextProperties& context) = 0;
  virtual void trackLogin(const PlUser& user, bool success, const std::string& reason,
                          const PlContextProperties& context) = 0;
  virtual void trackClick(const PlEventClick& event, const PlContextProperties& context) = 0;
  virtual void trackView(const PlEventView& event, const PlContextProperties& context) = 0;
  virtual void trackCashier(const PlEventCashier& event, const PlContextProperties& context) = 0;
  virtual void trackShare(const PlEventShare& event, const PlContextProperties& context) = 0;
  virtual void trackTask(const PlEventTask& event, const PlContextProperties& context) = 0;
  virtual void trackFile(const PlEventFile& event, const PlContextProperties& context) = 0;
  virtual void trackOrder(const PlEventOrder& event, const PlContextProperties& context) = 0;
  virtual void trackPayment(const PlEventPayment& event, const PlContextProperties& context) = 0;
  virtual void trackUninstall(const std::string& reason, const PlContextProperties& context) = 0;
  virtual void trackCrash(const std::string& reason) = 0;
  virtual void trackUpdate(const PlEventUpdate& event, const PlContextProperties& context) = 0;
  virtual void trackAppOpenNotification(const PlAppOpenNotification* notification,
                                        const PlContextProperties& context) = 0;
  virtual void setLocale(const std::string& locale) = 0;
  virtual std::string getPrimaryDistinctId() = 0;
  virtual TrackLogger* getLogger() = 0;
};

struct EventTrackerConfig {
  std::string appName, appVersion, appStore, dlAppId, dlAppVersion;
  std::string logPath;
  uint32_t edition = 0;   // 0 "china", 1 "overseas"
  std::string serverUrl;  // empty: DefaultServerUrl()
  // Replaces the HTTP transfer (the installer's post with its network
  // policy; tests' own). Tests only: the folder of the running exe (where
  // "Set.ini" is looked for).
  analytics_core::PostFunction post;
  std::string exePathForTesting;
};

// "https://<analytics host>/sa?project=pc"; the host is a build option.
std::string DefaultServerUrl();

class EventTrackerImpl;

class EventTrackerWrapper : public EventTracker {
 public:
  explicit EventTrackerWrapper(EventTrackerImpl* impl) : impl_(impl) {}  // takes ownership; may be null
  ~EventTrackerWrapper() override;

  void trackActivity(const PlContextProperties& context) override;
  void trackLaunch(const PlContextProperties& context) override;
  void trackLogin(const PlUser& user, bool success, const std::string& reason,
                  const PlContextProperties& context) override;
  void trackClick(const PlEventClick& event, const PlContextProperties& context) override;
  void trackView(const PlEventView& event, const PlContextProperties& context) override;
  void trackCashier(const PlEventCashier& event, const PlContextProperties& context) override;
  void trackShare(const PlEventShare& event, const PlContextProperties& context) override;
  void trackTask(const PlEventTask& event, const PlContextProperties& context) override;
  void trackFile(const PlEventFile& event, const PlContextProperties& context) override;
  void trackOrder(const PlEventOrder& event, const PlContextProperties& context) override;
  void trackPayment(const PlEventPayment& event, const PlContextProperties& context) override;
  void trackUninstall(const std::string& reason, const PlContextProperties& context) override;
  void trackCrash(const std::string& reason) override;
  void trackUpdate(const PlEventUpdate& event, const PlContextProperties& context) override;
  void trackAppOpenNotification(const PlAppOpenNotification* notification, const PlContextProperties& context) override;
  void setLocale(const std::string& locale) override;
  std::string getPrimaryDistinctId() override;
  TrackLogger* getLogger() override { return nullptr; }

  // For a process about to end without its normal shutdown (the crash
  // filter): waits up to `timeoutMs` for sends in progress, then writes what
  // is still queued to the staging file so the next run sends it.
  void saveBeforeAbnormalExit(unsigned timeoutMs);

 private:
  template <typename F>
  void guarded(const char* operation, F&& call);
  EventTrackerImpl* impl_;
};

// Builds the implementation, runs its init (a failure is discarded and leaves
// a partly initialised tracker) and wraps it.
std::shared_ptr<EventTrackerWrapper> CreateSharedTracker(const EventTrackerConfig& config);

}  // namespace pelan::tracking
