// What the download tests share: a recorder that plays the orchestrator
// (answers DL_CODE_RETRY by starting again from inside the callback), the
// fault server's control calls, nginx's folder, a scratch folder, and a
// pause hook that records the pauses asked for and takes none.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/downloader.h"
#include "download/timing.h"

namespace dltest {

struct Event {
  int32_t code;
  double number;
  std::wstring text;
};

class Recorder {
 public:
  PhaseCallback Callback();
  CDownloader* downloader = nullptr;  // started again on DL_CODE_RETRY; not owned
  // Waits for DL_CODE_SUCCESS or DL_CODE_FAIL.
  bool WaitFinal(DWORD timeoutMs);
  std::vector<Event> Events() const;
  // The reports without DL_CODE_PROGRESS, in order: progress may fall
  // anywhere between them on a busy machine.
  std::vector<Event> Reports() const;
  std::vector<int32_t> Codes() const;
  bool overlapped() const { return overlapped_; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  bool inside_ = false;
  bool overlapped_ = false;
  bool final_ = false;
};

std::wstring Wide(const std::string& utf8);

// One downloader of type T started on url into target, with its recorder.
template <class T>
struct Download {
  Recorder recorder;
  std::unique_ptr<T> downloader;
  template <typename... Extra>
  Download(const std::string& url, const std::filesystem::path& target, Extra&&... extra) {
    downloader = std::make_unique<T>(recorder.Callback(), Wide(url), target.wstring(), std::forward<Extra>(extra)...);
    recorder.downloader = downloader.get();
    downloader->Start();
  }
  bool Finish() { return recorder.WaitFinal(120000); }
};

struct LoggedRequest {
  std::string method, path, range, acceptEncoding;
};

// The fault server of this test run (OV_FAULT_PORT).
std::string FaultBase();
// Registers a scenario (JSON) and returns the content's md5.
std::string AddScenario(const std::string& json);
// The fault server's URL of a scenario's package, with the md5 folder when given.
std::string PackageUrl(const std::string& name, const std::string& md5);
std::vector<LoggedRequest> Requests(const std::string& name);
int CountRequests(const std::vector<LoggedRequest>& log, const std::string& method);

// nginx of this test run (OV_NGINX_PORT, OV_NGINX_ROOT_WIN).
std::string NginxBase();
std::filesystem::path NginxRoot();
// Serves a copy of the file from nginx below its md5, as the package server
// does: "<base>/<md5>/OndraVelqorSetup_pkg.exe".
std::string ServeByMd5(const std::filesystem::path& file);

std::string RandomBytes(size_t size, unsigned seed);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// A fresh folder under the temp folder, removed with its content.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::filesystem::path operator/(const wchar_t* name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }
  // Names of the files left in the folder.
  std::vector<std::wstring> Files() const;

 private:
  std::filesystem::path path_;
};

// Installs the test timing for its lifetime: pauses recorded, not taken;
// stalls cut short; the bounds of a silent server's wait as given.
class FastTiming {
 public:
  explicit FastTiming(long singleStreamStall = 2, long partStall = 2, DWORD firstAnswerMs = 15000,
                      DWORD silentSeriesMs = 60000);
  ~FastTiming();
  static std::vector<DWORD> Pauses();

 private:
  download::Timing previous_;
};

}  // namespace dltest
