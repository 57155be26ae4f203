// The core's record queue: JSON texts waiting to be posted to the collection
// server in batches of at most 30, and the staging file that keeps unsent
// records between runs.
//
// Threads: Add may be called from any thread. Flush, SaveUnsent and Shutdown
// may run on any thread; a batch holds the sending lock for its whole post,
// so posts of one queue never overlap, while Add only waits for the records
// lock (released during the transfer). Locks are always taken in the order
// sending lock, then records lock. The queue starts no thread of its own; it
// is owned by the Sdk instance and ends with Sdk::Shutdown.
#pragma once

#include <curl/curl.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/sdk/property_node.h"

namespace analytics_core {

// Performs one HTTP POST; returns the HTTP status, or -1 with the transfer
// error's text in `response` when no answer came.
using PostFunction = std::function<long(const std::string& url, const std::string& body, std::string& response)>;

// Options the owner of the core adds to a post's handle for its URL (the
// installer's proxy and TLS policy): the core includes nothing of its owner's.
// Returns the first failing option's result; a failure ends the post unsent.
using RequestPolicy = CURLcode (*)(CURL* handle, const char* url);

struct PostOptions {
  const char* caFile = nullptr;  // tests: a PEM file replacing the system's trusted authorities
  RequestPolicy policy = nullptr;
};

// The libcurl transfer: user agent "PelanAnalytics CPP SDK 0.9", 3 s for the
// whole transfer, no redirects, the server's certificate and host name
// checked; at most 16 KiB of the answer is read.
long CurlPost(const std::string& url, const std::string& body, std::string& response);
long CurlPost(const std::string& url, const std::string& body, std::string& response, const PostOptions& options);

// Tests only: called inside every rewrite of a staging file, once with the
// temporary file half written and once just before it replaces the staging
// file, so a test process can end itself at those moments. Null: no hook.
// Returns the previous hook.
enum class StagingWritePoint { HalfWritten, BeforeReplace };
using StagingWriteHook = void (*)(StagingWritePoint);
StagingWriteHook SetStagingWriteHookForTesting(StagingWriteHook hook);

// Whether the last post of any queue in this process got status 200.
bool LastSendSucceeded();
void SetLastSendSucceeded(bool succeeded);

// Encoding steps of the request body, exposed for tests and tools.
bool GzipCompress(std::string_view data, std::string& out);  // false (and a line on stderr) on a zlib error
std::string Base64Encode(std::string_view data);
std::string PercentEncode(std::string_view data);
// "data_list=" + percent(Base64(gzip("[" + records joined by "," + "]"))) + "&gzip=1".
bool BuildRequestBody(const std::vector<std::string>& records, std::string& body);

class RecordPoster {
 public:
  RecordPoster(std::string serverUrl, PostFunction post);
  // The HTTP status (-1: no answer); 200 is a success. Writes the failure
  // lines otherwise; records the result in LastSendSucceeded. May throw
  // (e.g. no transfer handle).
  long Post(const std::string& body);

 private:
  std::string serverUrl_;
  PostFunction post_;
};

// A record text the server can read: one JSON object of valid UTF-8 without
// raw control bytes, at most kMaxStagingLine bytes.
bool IsValidRecordText(std::string_view text);

// A staging line longer than this cannot be a record the core wrote (a few
// dozen properties of at most 8 KiB each); it is skipped without being held.
constexpr size_t kMaxStagingLine = 256 * 1024;
// At most this much of a staging file is loaded (the newest lines), so a
// huge or planted file costs bounded memory.
constexpr size_t kMaxStagingBytes = 4 * 1024 * 1024;
// Records the server refused on their own are set aside in
// <staging>.refused up to this size, then dropped.
constexpr size_t kMaxRefusedBytes = 256 * 1024;

// The staging file holds every record not yet delivered: each record is
// appended when queued, and the file is replaced (temporary file, then an
// atomic rename) with what is still queued after each delivery, at the first
// use in a run and at shutdown. So a process ended at any moment loses
// nothing; one ended between the server's answer and the replace posts that
// batch again in the next run.
class RecordQueue {
 public:
  static constexpr size_t kCapacity = 1024;
  static constexpr size_t kBatchSize = 30;

  // `post` replaces the libcurl transfer (tests); null means CurlPost.
  RecordQueue(std::string serverUrl, std::string stagingPath, PostFunction post = nullptr);

  void Add(const utils::ObjectNode& record);
  void AddText(std::string json);
  // Posts batches until the queue is empty; false at the first failed batch.
  bool Flush();
  // Writes every queued record (and those of an unread staging file) to the
  // staging file, keeping them queued.
  void SaveUnsent();
  // SaveUnsent, then no more posting.
  void Shutdown();

  std::vector<std::string> Snapshot() const;
  size_t Size() const;

 private:
  bool SendOneBatch();
  // HTTP status of posting records[from, from + count), -1 without an answer.
  long PostRecords(const std::vector<std::string>& records, size_t from, size_t count);
  // The rest with the records lock held.
  void LoadPendingLocked();
  bool WriteStagingLocked();  // false: the old file stays as it was
  void PutBackLocked(const std::vector<std::string>& batch, size_t from);
  void SetAsideLocked(const std::string& record, long status);
  void ForEachStagingLine(const std::function<void(std::string&)>& onLine) const;

  std::mutex sendingLock_;
  mutable std::mutex recordsLock_;
  std::deque<std::string> records_;
  std::vector<std::string> inFlight_;  // the batch being posted (records lock)
  std::string stagingPath_;
  bool loadPending_ = true;
  bool shutDown_ = false;
  size_t stagingLines_ = 0;  // lines in the staging file since it was last written whole
  RecordPoster poster_;
};

}  // namespace analytics_core
