#include "analytics/event_tracker.h"

#include <cstdio>
#include <string>

#include "analytics/event_tracker_impl.h"
#include "analytics/sdk/sdk.h"

namespace pelan::tracking {

EventTrackerWrapper::~EventTrackerWrapper() { delete impl_; }

namespace {

// fwrite, not printf: the C99 printf that mingw routes printf to costs the
// exe 27 KB for this one line.
void SayFailed(const char* operation) {
  const std::string line = std::string("Failed to ") + operation + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

template <typename F>
void EventTrackerWrapper::guarded(const char* operation, F&& call) {
  if (!impl_) return;
  try {
    call();
  } catch (const std::exception& e) {
    if (TrackLogger* logger = impl_->getLogger()) {
      SayFailed(operation);
      logger->write(std::string("Failed to ") + operation + ": " + e.what());
    }
  } catch (...) {
    if (impl_->getLogger()) SayFailed(operation);
  }
}

void EventTrackerWrapper::trackActivity(const PlContextProperties& c) {
  guarded("trackActivity", [&] { impl_->trackActivity(c); });
}
void EventTrackerWrapper::trackLaunch(const PlContextProperties& c) {
  guarded("trackLaunch", [&] { impl_->trackLaunch(c); });
}
void EventTrackerWrapper::trackLogin(const PlUser& u, bool ok, const std::string& r, const PlContextProperties& c) {
  guarded("trackLogin", [&] { impl_->trackLogin(u, ok, r, c); });
}
void EventTrackerWrapper::trackClick(const PlEventClick& e, const PlContextProperties& c) {
  guarded("trackClick", [&] { impl_->trackClick(e, c); });
}
void EventTrackerWrapper::trackView(const PlEventView& e, const PlContextProperties& c) {
  guarded("trackView", [&] { impl_->trackView(e, c); });
}
void EventTrackerWrapper::trackCashier(const PlEventCashier& e, const PlContextProperties& c) {
  guarded("trackCashier", [&] { impl_->trackCashier(e, c); });
}
void EventTrackerWrapper::trackShare(const PlEventShare& e, const PlContextProperties& c) {
  guarded("trackShare", [&] { impl_->trackShare(e, c); });
}
void EventTrackerWrapper::trackTask(const PlEventTask& e, const PlContextProperties& c) {
  guarded("trackTask", [&] { impl_->trackTask(e, c); });
}
void EventTrackerWrapper::trackFile(const PlEventFile& e, const PlContextProperties& c) {
  guarded("trackFile", [&] { impl_->trackFile(e, c); });
}
void EventTrackerWrapper::trackOrder(const PlEventOrder& e, const PlContextProperties& c) {
  guarded("trackOrder", [&] { impl_->trackOrder(e, c); });
}
void EventTrackerWrapper::trackPayment(const PlEventPayment& e, const PlContextProperties& c) {
  guarded("trackPayment", [&] { impl_->trackPayment(e, c); });
}
void EventTrackerWrapper::trackUninstall(const std::string& r, const PlContextProperties& c) {
  guarded("trackUninstall", [&] { impl_->trackUninstall(r, c); });
}
void EventTrackerWrapper::trackCrash(const std::string& r) {
  guarded("trackCrash", [&] { impl_->trackCrash(r); });
}
void EventTrackerWrapper::trackUpdate(const PlEventUpdate& e, const PlContextProperties& c) {
  guarded("trackUpdate", [&] { impl_->trackUpdate(e, c); });
}
void EventTrackerWrapper::trackAppOpenNotification(const PlAppOpenNotification* n, const PlContextProperties& c) {
  guarded("trackAppOpenNotification", [&] { impl_->trackAppOpenNotification(n, c); });
}

void EventTrackerWrapper::setLocale(const std::string& locale) {
  if (impl_) impl_->setLocale(locale);
}

std::string EventTrackerWrapper::getPrimaryDistinctId() {
  return impl_ ? impl_->getPrimaryDistinctId() : std::string();
}

void EventTrackerWrapper::saveBeforeAbnormalExit(unsigned timeoutMs) {
  if (!impl_) return;
  impl_->waitForSenders(timeoutMs, false);
  analytics_core::Sdk::SaveUnsent();
}

std::shared_ptr<EventTrackerWrapper> CreateSharedTracker(const EventTrackerConfig& config) {
  auto* impl = new EventTrackerImpl(config);
  try {
    impl->init();
  } catch (...) {
    // The tracker stays, partly set up: events before the core exists are dropped by the core layer.
  }
  return std::make_shared<EventTrackerWrapper>(impl);
}

}  // namespace pelan::tracking
