// The analytics core: one process-wide instance that turns events and
// user-profile updates into JSON records and queues them for posting.
// Every operation does nothing while no instance exists (before Init, after
// Shutdown). Refused input writes one line to stderr and queues nothing.
//
// Threads: operations may be called from any thread; records are built
// without a lock of their own (the queue locks itself). Super properties and
// the distinct id are changed only by the tracking layer's set-up, locale
// and login calls. Init and Shutdown are called by the tracker's owner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analytics/sdk/property_node.h"
#include "analytics/sdk/record_queue.h"

namespace analytics_core {

class Sdk {
 public:
  // False (creating nothing) when the distinct id is empty or longer than
  // 255 bytes. A second call keeps the existing instance and returns true.
  // `post` replaces the HTTP transfer (tests); null means libcurl.
  static bool Init(const std::string& stagingPath, const std::string& serverUrl, const std::string& distinctId,
                   bool isLoginId, PostFunction post = nullptr);
  static bool Exists();

  static void Track(const std::string& eventName, const PropertiesNode& properties);
  static void TrackSignup(const std::string& loginId);

  static void ProfileSet(const PropertiesNode& properties);
  static void ProfileSet(const std::string& key, const std::string& value);
  static void ProfileSet(const std::string& key, int32_t value);
  static void ProfileSet(const std::string& key, double value);
  static void ProfileSetOnce(const PropertiesNode& properties);
  static void ProfileSetOnce(const std::string& key, const std::string& value);
  static void ProfileSetOnce(const std::string& key, int32_t value);
  static void ProfileSetOnce(const std::string& key, double value);
  static void ProfileIncrement(const PropertiesNode& properties);
  static void ProfileIncrement(const std::string& key, int32_t value);
  static void ProfileAppend(const std::string& key, const std::string& value);

  static void MergeSuperProperties(const PropertiesNode& properties);
  static void ResetSuperProperties();

  // Posts every queued record; false when the instance is missing or a batch failed.
  static bool Flush();
  // Writes the queued records to the staging file without stopping the core
  // (for a process about to end without Shutdown).
  static void SaveUnsent();
  // Saves unsent records, then deletes the instance.
  static void Shutdown();

  // Diagnostics and tests: the queued JSON texts, oldest first.
  static std::vector<std::string> QueuedRecords();
  static std::string DistinctId();

 private:
  Sdk(const std::string& distinctId, bool isLoginId, const std::string& serverUrl, const std::string& stagingPath,
      PostFunction post);
  bool AddRecord(const std::string& type, const std::string& eventName, const PropertiesNode& properties,
                 const std::string& distinctId, const std::string& originalId);

  PropertiesNode superProperties_;
  std::string distinctId_;
  bool isLoginId_;
  RecordQueue queue_;
};

// The checks, exposed for tests: they write their messages to stderr.
bool CheckId(const std::string& id, const char* label);
bool CheckName(const std::string& name, const char* label);
bool CheckProperties(const PropertiesNode& properties);

// "_track_id": 2 + 3 random digits and the last 4 digits of `nowMs`.
int64_t MakeTrackId(int64_t nowMs);
int64_t NowMilliseconds();

}  // namespace analytics_core
