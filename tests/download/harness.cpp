#include "tests/download/harness.h"

#include <curl/curl.h>

#include <atomic>
#include <fstream>
#include <random>

#include "download/curl_handles.h"
#include "download/verify.h"
#include "tests/support/json.h"

#include "platform/strings.h"

namespace dltest {
namespace {

// libcurl is initialised once per process, as start-up does in the product.
const bool g_curlReady = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;

std::mutex g_pauseMutex;
std::vector<DWORD> g_pauses;

DWORD RecordPause(DWORD wanted) {
  std::lock_guard<std::mutex> lock(g_pauseMutex);
  g_pauses.push_back(wanted);
  return 0;
}

size_t Append(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

std::string Http(const std::string& url, const std::string* postBody) {
  (void)g_curlReady;
  std::string body;
  const download::UniqueCurl owned(curl_easy_init());
  CURL* const curl = owned.get();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  if (postBody) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->c_str());
  curl_easy_perform(curl);
  return body;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

PhaseCallback Recorder::Callback() {
  return [this](int32_t code, double number, const wchar_t* text) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (inside_) overlapped_ = true;
      inside_ = true;
      events_.push_back({code, number, text ? text : L""});
    }
    // Like the orchestrator: the retry is started from inside the callback.
    if (code == DL_CODE_RETRY && downloader) downloader->Start();
    std::lock_guard<std::mutex> lock(mutex_);
    inside_ = false;
    if (code == DL_CODE_SUCCESS || code == DL_CODE_FAIL) final_ = true;
    changed_.notify_all();
  };
}

bool Recorder::WaitFinal(DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return final_; });
}

std::vector<Event> Recorder::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<Event> Recorder::Reports() const {
  std::vector<Event> reports;
  for (const Event& e : Events())
    if (e.code != DL_CODE_PROGRESS) reports.push_back(e);
  return reports;
}

std::vector<int32_t> Recorder::Codes() const {
  std::vector<int32_t> codes;
  for (const Event& e : Reports()) codes.push_back(e.code);
  return codes;
}

std::string FaultBase() { return "http://127.0.0.1:" + Env("OV_FAULT_PORT"); }

std::string AddScenario(const std::string& json) {
  return test_support::JsonString(test_support::ParseJson(Http(FaultBase() + "/_scenario", &json)), "md5");
}

std::string PackageUrl(const std::string& name, const std::string& md5) {
  return FaultBase() + "/s/" + name + (md5.empty() ? "" : "/" + md5) + "/pkg.exe";
}

std::vector<LoggedRequest> Requests(const std::string& name) {
  const rapidjson::Document log = test_support::ParseJson(Http(FaultBase() + "/_log/" + name, nullptr));
  std::vector<LoggedRequest> out;
  if (!log.IsArray()) return out;
  using test_support::JsonString;
  for (const auto& r : log.GetArray())
    out.push_back(
        {JsonString(r, "method"), JsonString(r, "path"), JsonString(r, "range"), JsonString(r, "accept_encoding")});
  return out;
}

int CountRequests(const std::vector<LoggedRequest>& log, const std::string& method) {
  int n = 0;
  for (const auto& r : log) n += r.method == method;
  return n;
}

std::string NginxBase() { return "http://127.0.0.1:" + Env("OV_NGINX_PORT"); }
std::filesystem::path NginxRoot() { return Env("OV_NGINX_ROOT_WIN"); }

std::string ServeByMd5(const std::filesystem::path& file) {
  const std::filesystem::path staging = NginxRoot() / "staging" / "OndraVelqorSetup_pkg.exe";
  WriteFile(staging, ReadFile(file));
  const std::string md5 = download::FileMd5(staging.wstring());
  std::filesystem::create_directories(NginxRoot() / md5);
  std::filesystem::rename(staging, NginxRoot() / md5 / "OndraVelqorSetup_pkg.exe");
  return NginxBase() + "/" + md5 + "/OndraVelqorSetup_pkg.exe";
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (auto& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring Wide(const std::string& utf8) { return Utils::Utf8ToWide(utf8); }

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          (L"ovdl-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++));
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::wstring> ScratchDir::Files() const {
  std::vector<std::wstring> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_))
    names.push_back(entry.path().filename().wstring());
  return names;
}

FastTiming::FastTiming(long singleStreamStall, long partStall, DWORD firstAnswerMs, DWORD silentSeriesMs) {
  {
    std::lock_guard<std::mutex> lock(g_pauseMutex);
    g_pauses.clear();
  }
  download::Timing timing;
  timing.pause = RecordPause;
  timing.singleStreamStallSeconds = singleStreamStall;
  timing.partStallSeconds = partStall;
  timing.firstAnswerMs = firstAnswerMs;
  timing.silentSeriesMs = silentSeriesMs;
  previous_ = download::SetTimingForTesting(timing);
}

FastTiming::~FastTiming() { download::SetTimingForTesting(previous_); }

std::vector<DWORD> FastTiming::Pauses() {
  std::lock_guard<std::mutex> lock(g_pauseMutex);
  return g_pauses;
}

}  // namespace dltest
