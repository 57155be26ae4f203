// The tracker's implementation: its context, init, the track operations and
// the shutdown sequence.
//
// Threads: track operations run on their caller's thread. sendPending runs
// the send inline once a post has succeeded in this process; before that it
// starts one detached thread per call. Those threads touch only the shared
// SendState and the process-wide core, never this object; the destructor
// closes the SendState and waits (bounded) until none runs before it shuts
// the core down.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "analytics/event_tracker.h"
#include "analytics/identity.h"
#include "analytics/sdk/property_node.h"
#include "platform/handles.h"

namespace pelan::tracking {

// Shared between the tracker and its sending threads.
struct SendState {
  std::atomic<int32_t> pendingCount{0};  // records queued since the last successful flush
  std::atomic<bool> closing{false};      // set by the shutdown: no new posting rounds
  std::mutex lock;
  std::condition_variable idle;
  int running = 0;  // sending threads started and not yet finished
};

struct TrackerContext {
  explicit TrackerContext(std::string logPath) : logPath(std::move(logPath)) {}
  Identity identity;
  std::string logPath;
  std::string locale;
  std::string dataDir;
  std::string identityPath;
  std::string stagingPath;
  std::shared_ptr<SendState> sending = std::make_shared<SendState>();
};

class NativeTrackLogger : public TrackLogger {
 public:
  bool open(const std::string& path);  // creates the file when missing
  void write(const std::string& line) override;
  void close();
  ~NativeTrackLogger() { close(); }

 private:
  std::mutex lock_;
  Utils::UniqueStdioFile file_;
};

class EventTrackerImpl : public EventTracker {
 public:
  // How long the shutdown waits for sending threads still posting (each post
  // is limited to 3 s, and closing stops further rounds).
  static constexpr unsigned kSenderWaitMs = 10000;

  explicit EventTrackerImpl(const EventTrackerConfig& config);
  ~EventTrackerImpl() override;

  void init();  // PlException at the first failing step

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
  std::string getPrimaryDistinctId() override { return context_->identity.primaryDistinctId; }
  TrackLogger* getLogger() override { return logger_.get(); }

  void sendPending(bool flush);
  // True when no sending thread runs (any more) within `timeoutMs`; with
  // `close`, threads not yet posting skip their rounds.
  bool waitForSenders(unsigned timeoutMs, bool close);

  const TrackerContext& context() const { return *context_; }
  const std::string& serverUrl() const { return serverUrl_; }

 private:
  analytics_core::PropertiesNode presetProperties() const;
  analytics_core::PropertiesNode localeProperties() const;
  // Hands one event to the core and counts it.
  void submit(PlEventKind kind, const analytics_core::PropertiesNode& properties);

  std::string serverUrl_;
  std::string appName_, appVersion_, appStore_, dlAppId_, dlAppVersion_;
  std::unique_ptr<NativeTrackLogger> logger_;
  uint32_t edition_;
  std::unique_ptr<TrackerContext> context_;
  analytics_core::PostFunction post_;
  std::string exePath_;
};

// The three locale properties for a locale text "language_country"; without
// "_" the Windows user locale decides.
analytics_core::PropertiesNode LocaleProperties(const std::string& locale);

}  // namespace pelan::tracking
