#include "analytics/sdk/record_queue.h"

#include <windows.h>
#include <curl/curl.h>
#include <zlib.h>

#include <io.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <utility>

namespace analytics_core {

namespace {

std::mutex g_lastSendLock;
bool g_lastSendSucceeded = false;

StagingWriteHook g_writeHook = nullptr;

void CallWriteHook(StagingWritePoint point) {
  if (g_writeHook) g_writeHook(point);
}

bool IsClientError(long status) { return status >= 400 && status < 500; }

// The SDK includes nothing of the installer's, so its two kinds of handle
// get owners of their own: early returns and exceptions release them.
struct CloseFile {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, CloseFile>;
// Closing is where a buffered write error shows: writers ask for the result.
bool CloseWritten(File& file) { return std::fclose(file.release()) == 0; }

struct CleanUpCurl {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using Curl = std::unique_ptr<CURL, CleanUpCurl>;

// A strict JSON syntax check (RFC 8259) of one text, without building
// values. Written here rather than taken from jsoncpp: its reader brings
// the iostreams and locale machinery, a megabyte of the exe, for a check
// that needs none of it.
struct JsonSyntax {
  static constexpr int kMaxDepth = 64;
  std::string_view text;
  size_t at = 0;

  bool Peek(char c) const { return at < text.size() && text[at] == c; }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++at;
    return true;
  }
  void Space() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
  }
  bool AtEnd() {
    Space();
    return at == text.size();
  }
  bool Digits() {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at > from;
  }
  bool Word(std::string_view word) {
    if (text.substr(at, word.size()) != word) return false;
    at += word.size();
    return true;
  }
  bool String() {
    if (!Take('"')) return false;
    while (at < text.size()) {
      const char c = text[at++];
      if (c == '"') return true;
      if (c != '\\') continue;  // raw control bytes were refused before
      if (at >= text.size()) return false;
      const char e = text[at++];
      if (e == 'u') {
        for (int i = 0; i < 4; ++i, ++at)
          if (at >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at]))) return false;
      } else if (!std::strchr("\"\\/bfnrt", e) || e == 0) {
        return false;
      }
    }
    return false;
  }
  bool Number() {
    Take('-');
    if (!Take('0') && !Digits()) return false;
    if (Take('.') && !Digits()) return false;
    if (Peek('e') || Peek('E')) {
      ++at;
      if (!Take('+')) Take('-');
      if (!Digits()) return false;
    }
    return true;
  }
  bool Value(int depth) {
    Space();
    if (Peek('{')) return Object(depth + 1);
    if (Peek('[')) return Array(depth + 1);
    if (Peek('"')) return String();
    if (Peek('t')) return Word("true");
    if (Peek('f')) return Word("false");
    if (Peek('n')) return Word("null");
    return Number();
  }
  bool Object(int depth) {
    if (depth > kMaxDepth || !Take('{')) return false;
    Space();
    if (Take('}')) return true;
    do {
      Space();
      if (!String()) return false;
      Space();
      if (!Take(':') || !Value(depth)) return false;
      Space();
    } while (Take(','));
    return Take('}');
  }
  bool Array(int depth) {
    if (depth > kMaxDepth || !Take('[')) return false;
    Space();
    if (Take(']')) return true;
    do {
      if (!Value(depth)) return false;
      Space();
    } while (Take(','));
    return Take(']');
  }
};

// What is kept of a response body or of its header lines: enough for the
// failure line; a server that never stops sending must not grow the process.
constexpr size_t kMaxResponseBytes = 16 * 1024;

struct CappedText {
  std::string text;
  bool capped = false;
};

size_t AppendCapped(char* data, size_t size, size_t count, void* out) {
  auto* sink = static_cast<CappedText*>(out);
  const size_t n = size * count;
  if (sink->text.size() + n > kMaxResponseBytes) {
    sink->capped = true;
    return 0;  // ends the transfer; the status line has been read by then
  }
  sink->text.append(data, n);
  return n;
}

}  // namespace

StagingWriteHook SetStagingWriteHookForTesting(StagingWriteHook hook) { return std::exchange(g_writeHook, hook); }

bool IsValidRecordText(std::string_view text) {
  if (text.size() < 2 || text.size() > kMaxStagingLine || text.front() != '{' || text.back() != '}') return false;
  // JSON allows no raw control byte, and the server reads the batch as UTF-8.
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  if (!IsValidUtf8(text)) return false;
  JsonSyntax syntax{text};
  return syntax.Object(0) && syntax.AtEnd();
}

bool LastSendSucceeded() {
  std::lock_guard<std::mutex> lock(g_lastSendLock);
  return g_lastSendSucceeded;
}

void SetLastSendSucceeded(bool succeeded) {
  std::lock_guard<std::mutex> lock(g_lastSendLock);
  g_lastSendSucceeded = succeeded;
}

long CurlPost(const std::string& url, const std::string& body, std::string& response) {
  return CurlPost(url, body, response, PostOptions{});
}

long CurlPost(const std::string& url, const std::string& body, std::string& response, const PostOptions& options) {
  const Curl owned(curl_easy_init());
  CURL* const curl = owned.get();
  if (!curl) throw Error("Couldn't initialize curl handle");
  CappedText answer, headers;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  // The records carry the device id, OS, locale and failure texts, and a 200
  // drops them as delivered: only the real server may have them. Schannel
  // checks the chain against the Windows store and the name; an unreachable
  // revocation list must not stop analytics on networks that block it.
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  if (options.caFile) curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "PelanAnalytics CPP SDK 0.9");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 3L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendCapped);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, AppendCapped);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &headers);
  CURLcode rc = options.policy ? options.policy(curl, url.c_str()) : CURLE_OK;
  if (rc == CURLE_OK) rc = curl_easy_perform(curl);
  long status = -1;
  if (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && answer.capped)) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response = std::move(answer.text);
  } else {
    response = curl_easy_strerror(rc);
  }
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
    : serverUrl_(std::move(serverUrl)), post_(std::move(post)) {
  if (!post_)
    post_ = [](const std::string& url, const std::string& body, std::string& response) {
      return CurlPost(url, body, response);
    };
}

long RecordPoster::Post(const std::string& body) {
  std::string response;
  const long status = post_(serverUrl_, body, response);
  const bool ok = status == 200;
  if (!ok) {
    OutputDebugStringA("[analytics] PelanAnalytics SDK send failed");
    WriteStderr({"PelanAnalytics SDK send failed: ", response, "\n"});
  }
  SetLastSendSucceeded(ok);
  return status;
}

RecordQueue::RecordQueue(std::string serverUrl, std::string stagingPath, PostFunction post)
    : stagingPath_(std::move(stagingPath)), poster_(std::move(serverUrl), std::move(post)) {}

void RecordQueue::Add(const utils::ObjectNode& record) { AddText(record.ToJson()); }

void RecordQueue::AddText(std::string json) {
  // A record the server would refuse as malformed would take its whole batch
  // with it; it never enters the queue.
  if (!IsValidRecordText(json)) {
    WriteStderr({"Record refused, not valid JSON text: ", json.substr(0, 200), "\n"});
    return;
  }
  std::lock_guard<std::mutex> lock(recordsLock_);
  LoadPendingLocked();
  records_.push_back(std::move(json));
  if (records_.size() > kCapacity) records_.pop_front();  // the oldest goes
  if (shutDown_) return;
  // Appended before anything can post it, so a process ended at any moment
  // after Add still hands the record to the next run. The file is compacted
  // when the records the cap dropped from the queue pile up in it.
  if (++stagingLines_ > 2 * kCapacity) {
    WriteStagingLocked();
  } else if (const File out{std::fopen(stagingPath_.c_str(), "ab")}) {
    const std::string& line = records_.back();
    std::fwrite(line.data(), 1, line.size(), out.get());
    std::fputc('\n', out.get());
  }
}

void RecordQueue::ForEachStagingLine(const std::function<void(std::string&)>& onLine) const {
  const File owned(std::fopen(stagingPath_.c_str(), "rb"));
  FILE* const in = owned.get();
  if (!in) return;
  std::string line;
  bool tooLong = false;  // the rest of this line is skipped unread
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    for (size_t i = 0; i < n;) {
      const char* end = static_cast<const char*>(std::memchr(buffer + i, '\n', n - i));
      const size_t take = (end ? end - buffer : n) - i;
      if (!tooLong && line.size() + take <= kMaxStagingLine + 1) {  // + 1: a "\r" of text mode
        line.append(buffer + i, take);
      } else {
        tooLong = true;
        line.clear();
      }
      i += take;
      if (!end) break;
      ++i;
      if (!tooLong) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // files written in text mode
        onLine(line);
      }
      line.clear();
      tooLong = false;
    }
  }
  if (!tooLong && !line.empty()) onLine(line);
}

void RecordQueue::LoadPendingLocked() {
  if (!loadPending_) return;
  loadPending_ = false;
  // The newest lines that fit both the free places and the byte budget;
  // lines the server would refuse (torn, binary, planted) are dropped here.
  const size_t room = kCapacity > records_.size() ? kCapacity - records_.size() : 0;
  std::deque<std::string> kept;
  size_t keptBytes = 0;
  size_t skipped = 0;
  ForEachStagingLine([&](std::string& line) {
    if (!IsValidRecordText(line)) {
      ++skipped;
      return;
    }
    keptBytes += line.size();
    kept.push_back(std::move(line));
    while (!kept.empty() && (kept.size() > room || keptBytes > kMaxStagingBytes)) {
      keptBytes -= kept.front().size();
      kept.pop_front();  // the earliest lines give way
    }
  });
  if (skipped) WriteStderr({"Staging file: ", std::to_string(skipped), " damaged lines skipped\n"});
  records_.insert(records_.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
  // From here on the file holds exactly what is queued (a clean copy, so
  // what was skipped is gone for good); it is never emptied before its
  // records are delivered.
  WriteStagingLocked();
}

bool RecordQueue::WriteStagingLocked() {
  const std::string temp = stagingPath_ + ".tmp";
  File owned(std::fopen(temp.c_str(), "wb"));
  FILE* const out = owned.get();
  if (!out) return false;
  bool ok = true;
  const size_t total = inFlight_.size() + records_.size();
  size_t i = 0;
  auto write = [&](const std::string& record) {
    if (i++ == total / 2) CallWriteHook(StagingWritePoint::HalfWritten);
    ok = ok && std::fwrite(record.data(), 1, record.size(), out) == record.size() && std::fputc('\n', out) != EOF;
  };
  // A batch being posted is not delivered yet: it stays in the file.
  for (const auto& record : inFlight_) write(record);
  for (const auto& record : records_) write(record);
  if (total == 0) CallWriteHook(StagingWritePoint::HalfWritten);
  ok = std::fflush(out) == 0 && ok;
  // On disk before the rename, so a power loss leaves the old file or the
  // whole new one, never a renamed empty one.
  ok = FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)))) && ok;
  ok = CloseWritten(owned) && ok;
  CallWriteHook(StagingWritePoint::BeforeReplace);
  if (!ok || !MoveFileExA(temp.c_str(), stagingPath_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp.c_str());  // the old file stays: it still holds every unsent record
    return false;
  }
  stagingLines_ = total;
  return true;
}

void RecordQueue::PutBackLocked(const std::vector<std::string>& batch, size_t from) {
  const size_t left = batch.size() - from;
  const size_t room = kCapacity > records_.size() ? kCapacity - records_.size() : 0;
  const size_t n = std::min(room, left);
  records_.insert(records_.begin(), batch.end() - n, batch.end());
}

void RecordQueue::SetAsideLocked(const std::string& record, long status) {
  // Bounded: a server that refuses everything must not fill the disk.
  const std::string path = stagingPath_ + ".refused";
  WIN32_FILE_ATTRIBUTE_DATA info = {};
  const bool full = GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) &&
                    (info.nFileSizeHigh || info.nFileSizeLow + record.size() + 1 > kMaxRefusedBytes);
  WriteStderr(
      {"Record refused by the server (status ", std::to_string(status), "), ", full ? "dropped" : "set aside", "\n"});
  if (full) return;
  if (const File out{std::fopen(path.c_str(), "ab")}) {
    std::fwrite(record.data(), 1, record.size(), out.get());
    std::fputc('\n', out.get());
  }
}

long RecordQueue::PostRecords(const std::vector<std::string>& records, size_t from, size_t count) {
  std::string body;
  if (!BuildRequestBody({records.begin() + from, records.begin() + from + count}, body)) return -1;
  return poster_.Post(body);
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
    batch.assign(records_.begin(), records_.begin() + n);
    records_.erase(records_.begin(), records_.begin() + n);
    inFlight_ = batch;
  }
  size_t done = 0;  // records of the batch delivered or set aside
  bool ok = false;
  try {
    const long status = PostRecords(batch, 0, batch.size());
    if (status == 200) {
      done = batch.size();
      ok = true;
    } else if (IsClientError(status)) {
      // One bad record must not hold back the others for good: each goes
      // alone once; those refused alone are set aside, never retried.
      ok = true;
      for (; done < batch.size(); ++done) {
        const long one = batch.size() == 1 ? status : PostRecords(batch, done, 1);
        if (IsClientError(one)) {
          std::lock_guard<std::mutex> lock(recordsLock_);
          SetAsideLocked(batch[done], one);
        } else if (one != 200) {
          ok = false;
          break;
        }
      }
    }
  } catch (const std::exception& e) {
    WriteStderr({"Exception when flush failed: (", e.what(), ") \n"});
  }
  std::lock_guard<std::mutex> lock(recordsLock_);
  inFlight_.clear();
  // Also after an exception: records not delivered go back like those of a
  // refused post. The staging file already holds them.
  if (done < batch.size()) PutBackLocked(batch, done);
  if (done > 0) WriteStagingLocked();  // delivered records must not be sent again by the next run
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
  LoadPendingLocked();
  WriteStagingLocked();
}

void RecordQueue::Shutdown() {
  std::lock_guard<std::mutex> lock(recordsLock_);
  LoadPendingLocked();
  WriteStagingLocked();
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
