#include "analytics/sdk/record_queue.h"

#include <windows.h>
#include <curl/curl.h>
#include <zlib.h>

#include <stdexcept>

namespace analytics_core {

namespace {

std::mutex g_lastSendLock;
bool g_lastSendSucceeded = false;

// A staging line longer than this cannot be a record the core wrote
// (a few dozen properties of at most 8 KiB each); it is skipped unread.
constexpr size_t kMaxStagingLine = 1 << 20;

size_t AppendBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

bool IsRecordLine(const std::string& line) {
  return !line.empty() && line.front() == '{' && line.back() == '}';
}

}  // namespace

void SetStagingWriteHookForTesting(StagingWriteHook hook) { (void)hook; }

bool LastSendSucceeded() {
  std::lock_guard<std::mutex> lock(g_lastSendLock);
  return g_lastSendSucceeded;
}

void SetLastSendSucceeded(bool succeeded) {
  std::lock_guard<std::mutex> lock(g_lastSendLock);
  g_lastSendSucceeded = succeeded;
}

long CurlPost(const std::string& url, const std::string& body, std::string& response) {
  CURL* curl = curl_easy_init();
  if (!curl) throw std::runtime_error("Couldn't initialize curl handle");
  std::string headers;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "PelanAnalytics CPP SDK 0.9");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 3L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
  const CURLcode rc = curl_easy_perform(curl);
  long status = -1;
  if (rc != CURLE_OK) {
    response = curl_easy_strerror(rc);
  } else {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  }
  curl_easy_cleanup(curl);
  return status;
}

bool GzipCompress(std::string_view data, std::string& out) {
  out.clear();
  z_stream zs = {};
  if (deflateInit2(&zs, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    WriteStderr({"deflateInit2 failed while compressing.\n"});
    return false;
  }
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  char chunk[32768];
  int rc = Z_OK;
  do {
    zs.next_out = reinterpret_cast<Bytef*>(chunk);
    zs.avail_out = sizeof chunk;
    rc = deflate(&zs, Z_FINISH);
    out.append(chunk, sizeof chunk - zs.avail_out);
  } while (rc == Z_OK);
  const char* message = zs.msg;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) {
    WriteStderr({"Exception during zlib compression: (", std::to_string(rc), ") ", message ? message : "", "\n"});
    out.clear();
    return false;
  }
  return true;
}

std::string Base64Encode(std::string_view data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(data[i]) << 16 | static_cast<uint8_t>(data[i + 1]) << 8 |
                       static_cast<uint8_t>(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    const bool two = i + 1 < data.size();
    const uint32_t v = static_cast<uint8_t>(data[i]) << 16 | (two ? static_cast<uint8_t>(data[i + 1]) << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += two ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string PercentEncode(std::string_view data) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() + data.size() / 8);
  for (const char ch : data) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool BuildRequestBody(const std::vector<std::string>& records, std::string& body) {
  body.clear();
  std::string batch = "[";
  for (size_t i = 0; i < records.size(); ++i) {
    if (i) batch += ',';
    batch += records[i];
  }
  batch += ']';
  std::string gz;
  if (!GzipCompress(batch, gz)) return false;
  body = "data_list=" + PercentEncode(Base64Encode(gz)) + "&gzip=1";
  return true;
}

RecordPoster::RecordPoster(std::string serverUrl, PostFunction post)
    : serverUrl_(std::move(serverUrl)), post_(post ? std::move(post) : PostFunction(CurlPost)) {}

bool RecordPoster::Post(const std::string& body) {
  std::string response;
  const long status = post_(serverUrl_, body, response);
  const bool ok = status == 200;
  if (!ok) {
    OutputDebugStringA("[analytics] PelanAnalytics SDK send failed");
    WriteStderr({"PelanAnalytics SDK send failed: ", response, "\n"});
  }
  SetLastSendSucceeded(ok);
  return ok;
}

RecordQueue::RecordQueue(std::string serverUrl, std::string stagingPath, PostFunction post)
    : stagingPath_(std::move(stagingPath)), poster_(std::move(serverUrl), std::move(post)) {}

void RecordQueue::Add(const utils::ObjectNode& record) { AddText(record.ToJson()); }

void RecordQueue::AddText(std::string json) {
  std::lock_guard<std::mutex> lock(recordsLock_);
  records_.push_back(std::move(json));
  if (records_.size() > kCapacity) records_.pop_front();  // the oldest goes
}

void RecordQueue::ForEachStagingLine(const std::function<void(std::string&)>& onLine) const {
  FILE* in = std::fopen(stagingPath_.c_str(), "rb");
  if (!in) return;
  std::string line;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line.push_back(buffer[i]);
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();  // files written in text mode
      onLine(line);
      line.clear();
    }
  }
  if (!line.empty()) onLine(line);
  std::fclose(in);
}

void RecordQueue::LoadPendingLocked() {
  if (!loadPending_) return;
  if (records_.size() < kCapacity) {
    const size_t room = kCapacity - records_.size();
    std::deque<std::string> kept;
    ForEachStagingLine([&](std::string& line) {
      if (line.size() > kMaxStagingLine || !IsRecordLine(line)) return;
      kept.push_back(std::move(line));
      if (kept.size() > room) kept.pop_front();  // the earliest lines give way
    });
    records_.insert(records_.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
  }
  if (FILE* f = std::fopen(stagingPath_.c_str(), "wb")) std::fclose(f);  // read once per run, even when nothing fitted
  loadPending_ = false;
}

void RecordQueue::SaveLocked() {
  LoadPendingLocked();
  FILE* out = std::fopen(stagingPath_.c_str(), "wb");
  if (!out) return;
  for (const auto& record : records_) {
    std::fwrite(record.data(), 1, record.size(), out);
    std::fputc('\n', out);
  }
  std::fclose(out);
  staged_ = true;
}

void RecordQueue::PutBackLocked(const std::vector<std::string>& batch) {
  const size_t room = kCapacity > records_.size() ? kCapacity - records_.size() : 0;
  const size_t n = std::min(room, batch.size());
  records_.insert(records_.begin(), batch.end() - n, batch.end());
}

bool RecordQueue::SendOneBatch() {
  std::lock_guard<std::mutex> sending(sendingLock_);
  std::vector<std::string> batch;
  {
    std::lock_guard<std::mutex> lock(recordsLock_);
    if (shutDown_) return false;
    LoadPendingLocked();
    const size_t n = std::min(records_.size(), kBatchSize);
    if (n == 0) return true;
    batch.assign(std::make_move_iterator(records_.begin()), std::make_move_iterator(records_.begin() + n));
    records_.erase(records_.begin(), records_.begin() + n);
  }
  bool ok = false;
  try {
    std::string body;
    ok = BuildRequestBody(batch, body) && poster_.Post(body);
  } catch (const std::exception& e) {
    WriteStderr({"Exception when flush failed: (", e.what(), ") \n"});
  }
  std::lock_guard<std::mutex> lock(recordsLock_);
  // Also after an exception: the records were not delivered, so they go
  // back like those of a refused post.
  if (!ok) PutBackLocked(batch);
  // Once saved for the next run, the file follows the queue: a refused
  // batch must not miss the next run, a delivered one must not be sent twice.
  if (staged_) SaveLocked();
  return ok;
}

bool RecordQueue::Flush() {
  {
    std::lock_guard<std::mutex> lock(recordsLock_);
    LoadPendingLocked();
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(recordsLock_);
      if (records_.empty()) return true;
    }
    if (!SendOneBatch()) return false;
  }
}

void RecordQueue::SaveUnsent() {
  std::lock_guard<std::mutex> lock(recordsLock_);
  SaveLocked();
}

void RecordQueue::Shutdown() {
  std::lock_guard<std::mutex> lock(recordsLock_);
  SaveLocked();
  shutDown_ = true;
}

std::vector<std::string> RecordQueue::Snapshot() const {
  std::lock_guard<std::mutex> lock(recordsLock_);
  return {records_.begin(), records_.end()};
}

size_t RecordQueue::Size() const {
  std::lock_guard<std::mutex> lock(recordsLock_);
  return records_.size();
}

}  // namespace analytics_core
