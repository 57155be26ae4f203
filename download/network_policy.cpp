#include "download/network_policy.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cwctype>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "download/curl_common.h"
#include "platform/handles.h"
#include "platform/log.h"
#include "platform/strings.h"

namespace download {

namespace {

// Owners of what WinHTTP and libcurl's URL parser hand over.
using GlobalText = Utils::Owned<Utils::SilentReleaseTraits<wchar_t, &GlobalFree>>;
using WinHttpSession = Utils::Owned<Utils::SilentReleaseTraits<void, &WinHttpCloseHandle>>;
using CurlUrl = Utils::Owned<Utils::SilentReleaseTraits<CURLU, &curl_url_cleanup>>;
using CurlText = Utils::Owned<Utils::SilentReleaseTraits<char, &curl_free>>;

enum class Source { None, Manual, Pac, AutoDetect, Environment };

const wchar_t* SourceName(Source source) {
  switch (source) {
    case Source::Manual:
      return L"manual";
    case Source::Pac:
      return L"PAC";
    case Source::AutoDetect:
      return L"auto-detect";
    case Source::Environment:
      return L"environment";
    default:
      return L"none";
  }
}

struct Settings {
  bool autoDetect = false;
  std::wstring pacUrl, proxy, bypass;
};

// One proxy of the process and whether its last answer to us was a 407.
// Lives until the process ends: libcurl's debug function holds its address.
struct ProxyState {
  std::string address;  // host:port, without credentials
  std::atomic<bool> refused{false};
};

struct Route {
  Source source = Source::None;
  std::string proxy;  // as libcurl takes it; empty with a system source: direct
  ProxyState* state = nullptr;
};

struct Policy {
  std::mutex mutex;
  bool settingsRead = false;
  Settings settings;
  std::map<std::string, Route> routes;  // "scheme://host:port"
  std::list<ProxyState> proxies;
  std::string caFile;
  std::string credentials = ":";
  // A script that could not be had once is not asked for again: each ask
  // may cost the whole bound.
  std::atomic<bool> autoDetectFailed{false}, pacFailed{false};
};

Policy& ThePolicy() {
  static Policy policy;
  return policy;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring TakeText(LPWSTR text) {
  const GlobalText owned(text);
  return owned ? std::wstring(owned.get()) : std::wstring();
}

Settings ReadSettings() {
  Settings settings;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    OV_LOGS(L"proxy settings unreadable:%lu", GetLastError());
    return settings;
  }
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.pacUrl = TakeText(config.lpszAutoConfigUrl);
  settings.proxy = TakeText(config.lpszProxy);
  settings.bypass = TakeText(config.lpszProxyBypass);
  OV_LOGS(L"proxy settings: auto-detect %d, PAC \"%s\", manual \"%s\", bypass \"%s\"", settings.autoDetect ? 1 : 0,
          settings.pacUrl.c_str(), settings.proxy.c_str(), settings.bypass.c_str());
  return settings;
}

// "host:port" of a proxy in libcurl's form, without scheme or credentials.
std::string ProxyAddress(const std::string& proxy) {
  std::string address = proxy;
  if (const size_t scheme = address.find("://"); scheme != std::string::npos) address.erase(0, scheme + 3);
  address = address.substr(0, address.find('/'));
  if (const size_t at = address.rfind('@'); at != std::string::npos) address.erase(0, at + 1);
  return address;
}

struct ScriptAnswer {
  DWORD error = 0;
  std::wstring proxy;  // empty: DIRECT
};

// WinHttpGetProxyForUrl has no time limit of its own for auto-detection on
// Windows 7, so it runs on a thread of its own that the caller stops
// waiting for after the bound. Closing the session cancels the query; the
// thread owns everything it touches and ends on its own.
ScriptAnswer AskScript(const std::wstring& target, const std::wstring& pacUrl) {
  WinHttpSession session(WinHttpOpen(L"OndraVelqor Setup", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return {GetLastError(), {}};
  const int bound = static_cast<int>(kProxyQueryBoundMs);
  WinHttpSetTimeouts(session.get(), bound, bound, bound, bound);
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    ScriptAnswer answer;
  };
  auto shared = std::make_shared<Shared>();
  std::thread asker([shared, handle = session.get(), target, pacUrl] {
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (pacUrl.empty()) {
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = pacUrl.c_str();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info = {};
    ScriptAnswer answer;
    if (WinHttpGetProxyForUrl(handle, target.c_str(), &options, &info)) {
      const GlobalText proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
      if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy) answer.proxy = proxy.get();
    } else {
      answer.error = GetLastError();
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->answer = std::move(answer);
    shared->finished = true;
    shared->done.notify_all();
  });
  std::unique_lock<std::mutex> lock(shared->mutex);
  if (shared->done.wait_for(lock, std::chrono::milliseconds(kProxyQueryBoundMs), [&] { return shared->finished; })) {
    lock.unlock();
    asker.join();
    return shared->answer;
  }
  lock.unlock();
  session.reset();
  asker.detach();
  return {ERROR_TIMEOUT, {}};
}

// Asks auto-detection (empty pacUrl) or the PAC script for one target;
// false when it gave no answer.
bool AskForRoute(Source source, const std::wstring& target, const std::wstring& pacUrl, const std::string& scheme,
                 Route& route) {
  const ULONGLONG began = GetTickCount64();
  const ScriptAnswer answer = AskScript(target, pacUrl);
  const auto ms = static_cast<unsigned long long>(GetTickCount64() - began);
  if (answer.error != 0) {
    OV_LOGS(L"proxy %s error %lu after %llu ms", SourceName(source), answer.error, ms);
    return false;
  }
  route.source = source;
  // Windows may return a list ("a:1;b:2"); the first entry is the one used.
  std::wstring first = answer.proxy.substr(0, answer.proxy.find_first_of(L"; "));
  route.proxy = first.empty() ? std::string() : ManualProxyForScheme(first, scheme);
  OV_LOGS(L"proxy %s answered in %llu ms", SourceName(source), ms);
  return true;
}

bool InEnvironment(const std::string& scheme) {
  // The variables libcurl itself reads for these schemes.
  const char* names[] = {scheme == "https" ? "https_proxy" : "http_proxy", scheme == "https" ? "HTTPS_PROXY" : nullptr,
                         "all_proxy", "ALL_PROXY"};
  for (const char* name : names) {
    if (!name) continue;
    const CurlText value(curl_getenv(name));
    if (value && *value.get()) return true;
  }
  return false;
}

struct Target {
  std::string scheme, host, key;
  long port = 0;
};

bool ParseTarget(const char* url, Target& target) {
  const CurlUrl parsed(curl_url());
  if (!parsed || !url || curl_url_set(parsed.get(), CURLUPART_URL, url, 0) != CURLUE_OK) return false;
  char* scheme = nullptr;
  char* host = nullptr;
  char* port = nullptr;
  const bool ok = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                  curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                  curl_url_get(parsed.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
  const CurlText ownedScheme(scheme), ownedHost(host), ownedPort(port);
  if (!ok) return false;
  target.scheme = ownedScheme.get();
  target.host = Utils::WideToUtf8(Lower(Utils::Utf8ToWide(ownedHost.get())));
  target.port = std::strtol(ownedPort.get(), nullptr, 10);
  target.key = target.scheme + "://" + target.host + ":" + std::to_string(target.port);
  return true;
}

Route Resolve(Policy& policy, const Settings& settings, const Target& target) {
  Route route;
  if (target.scheme != "http" && target.scheme != "https") return route;
  const std::wstring asked = Utils::Utf8ToWide(target.key + "/");
  if (settings.autoDetect && !policy.autoDetectFailed) {
    if (AskForRoute(Source::AutoDetect, asked, L"", target.scheme, route)) return route;
    policy.autoDetectFailed = true;
  }
  if (!settings.pacUrl.empty() && !policy.pacFailed) {
    if (AskForRoute(Source::Pac, asked, settings.pacUrl, target.scheme, route)) return route;
    policy.pacFailed = true;
  }
  if (!settings.proxy.empty()) {
    route.source = Source::Manual;
    if (!BypassesProxy(settings.bypass, target.scheme, target.host, target.port))
      route.proxy = ManualProxyForScheme(settings.proxy, target.scheme);
    return route;
  }
  if (InEnvironment(target.scheme)) route.source = Source::Environment;
  return route;
}

ProxyState* StateFor(Policy& policy, const std::string& address) {
  for (ProxyState& state : policy.proxies)
    if (state.address == address) return &state;
  policy.proxies.emplace_back();
  policy.proxies.back().address = address;
  return &policy.proxies.back();
}

// The route for a URL, asked once per scheme, host and port. The lock is not
// held while a script is asked: another request must not wait for it.
bool RouteFor(const char* url, Route& route) {
  Target target;
  if (!ParseTarget(url, target)) return false;
  Policy& policy = ThePolicy();
  Settings settings;
  {
    std::lock_guard<std::mutex> lock(policy.mutex);
    if (!policy.settingsRead) {
      policy.settings = ReadSettings();
      policy.settingsRead = true;
    }
    if (const auto found = policy.routes.find(target.key); found != policy.routes.end()) {
      route = found->second;
      return true;
    }
    settings = policy.settings;
  }
  Route resolved = Resolve(policy, settings, target);
  std::lock_guard<std::mutex> lock(policy.mutex);
  const auto [entry, added] = policy.routes.emplace(target.key, resolved);
  if (added) {
    if (!entry->second.proxy.empty()) entry->second.state = StateFor(policy, ProxyAddress(entry->second.proxy));
    if (entry->second.source != Source::None && entry->second.source != Source::Environment)
      OV_LOGS(L"proxy for %s: %s %s", Utils::Utf8ToWide(target.key).c_str(), SourceName(entry->second.source),
              entry->second.proxy.empty() ? L"DIRECT" : Utils::Utf8ToWide(ProxyAddress(entry->second.proxy)).c_str());
    else
      OV_LOGS(L"proxy for %s: %s", Utils::Utf8ToWide(target.key).c_str(), SourceName(entry->second.source));
  }
  route = entry->second;
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && _strnicmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// libcurl's debug function while a proxy is in use: it sees the proxy's
// answers, which the downloaders' own functions do not (a CONNECT answer
// never reaches the header function of an HTTPS transfer), and marks the
// proxy refused while its last answer is a 407. An NTLM or Negotiate
// exchange passes through 407s on its way to the answer.
int WatchProxy(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  thread_local bool connecting = false;  // the next status line answers a CONNECT
  auto* state = static_cast<ProxyState*>(user);
  std::string_view line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (type == CURLINFO_HEADER_OUT) {
    connecting = StartsWithNoCase(line, "CONNECT ");
    return 0;
  }
  if (type != CURLINFO_HEADER_IN) return 0;
  const std::wstring address = Utils::Utf8ToWide(state->address);
  if (StartsWithNoCase(line, "HTTP/")) {
    const size_t space = line.find(' ');
    const long status = space == std::string_view::npos ? 0 : std::strtol(line.data() + space + 1, nullptr, 10);
    state->refused = status == 407;
    if (connecting)
      OV_LOGS(L"proxy %s CONNECT answered %ld", address.c_str(), status);
    else if (status == 407)
      OV_LOGS(L"proxy %s answered 407", address.c_str());
    connecting = false;
  } else if (StartsWithNoCase(line, "Proxy-Authenticate:")) {
    std::string_view scheme = line.substr(std::strlen("Proxy-Authenticate:"));
    while (!scheme.empty() && scheme.front() == ' ') scheme.remove_prefix(1);
    scheme = scheme.substr(0, scheme.find(' '));
    OV_LOGS(L"proxy %s asks for %s", address.c_str(), Utils::Utf8ToWide(scheme).c_str());
  }
  return 0;
}

CURLcode ApplyRoute(CURL* handle, const Route& route, const std::string& credentials) {
  // No system proxy: libcurl's own environment variables stay in force.
  if (route.source == Source::None || route.source == Source::Environment) return CURLE_OK;
  // An empty proxy is direct, also past an http_proxy variable: the
  // system's answer decides.
  if (route.proxy.empty()) return curl_easy_setopt(handle, CURLOPT_PROXY, "");
  return FirstFailure({
      curl_easy_setopt(handle, CURLOPT_PROXY, route.proxy.c_str()),
      // SSPI with the logged-on user's own credentials (":"); never Basic,
      // which would send a password in the clear.
      curl_easy_setopt(handle, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NEGOTIATE | CURLAUTH_NTLM)),
      curl_easy_setopt(handle, CURLOPT_PROXYUSERPWD, credentials.c_str()),
      curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &WatchProxy),
      curl_easy_setopt(handle, CURLOPT_DEBUGDATA, route.state),
      curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L),
  });
}

std::vector<std::wstring> SplitList(const std::wstring& list) {
  std::vector<std::wstring> items;
  size_t at = 0;
  while (at < list.size()) {
    const size_t end = list.find_first_of(L"; ,\t\r\n", at);
    const std::wstring item = list.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    if (!item.empty()) items.push_back(item);
    if (end == std::wstring::npos) break;
    at = end + 1;
  }
  return items;
}

bool Glob(const wchar_t* pattern, const wchar_t* text) {
  if (*pattern == 0) return *text == 0;
  if (*pattern == L'*') return Glob(pattern + 1, text) || (*text != 0 && Glob(pattern, text + 1));
  return *text != 0 && *pattern == *text && Glob(pattern + 1, text + 1);
}

}  // namespace

std::string ManualProxyForScheme(const std::wstring& setting, const std::string& scheme) {
  std::wstring general, forScheme, socks;
  const std::wstring wantedKey = Utils::Utf8ToWide(scheme);
  for (const std::wstring& entry : SplitList(setting)) {
    const size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos) {
      if (general.empty()) general = entry;
      continue;
    }
    const std::wstring key = Lower(entry.substr(0, equals));
    if (key == wantedKey) forScheme = entry.substr(equals + 1);
    if (key == L"socks") socks = entry.substr(equals + 1);
  }
  const std::wstring chosen = !forScheme.empty() ? forScheme : general;
  if (chosen.empty()) return socks.empty() ? std::string() : "socks4://" + Utils::WideToUtf8(socks);
  if (chosen.find(L"://") != std::wstring::npos) return Utils::WideToUtf8(chosen);
  return "http://" + Utils::WideToUtf8(chosen);
}

bool BypassesProxy(const std::wstring& bypassList, const std::string& scheme, const std::string& host, long port) {
  const std::wstring name = Lower(Utils::Utf8ToWide(host));
  const std::wstring nameAndPort = name + L":" + Utils::DecimalText(port);
  for (std::wstring entry : SplitList(Lower(bypassList))) {
    if (entry == L"<local>") {
      if (name.find_first_of(L".:") == std::wstring::npos) return true;
      continue;
    }
    if (entry.front() == L'<') continue;  // "<-loopback>" and the like
    if (const size_t sep = entry.find(L"://"); sep != std::wstring::npos) {
      if (entry.substr(0, sep) != Utils::Utf8ToWide(scheme)) continue;
      entry.erase(0, sep + 3);
    }
    const size_t colon = entry.rfind(L':');
    const bool withPort = colon != std::wstring::npos && entry.front() != L'[' &&
                          entry.find_first_not_of(L"0123456789", colon + 1) == std::wstring::npos;
    if (Glob(entry.c_str(), withPort ? nameAndPort.c_str() : name.c_str())) return true;
  }
  return false;
}

CURLcode ApplyNetworkPolicy(CURL* handle, const char* url) {
  std::string caFile, credentials;
  {
    Policy& policy = ThePolicy();
    std::lock_guard<std::mutex> lock(policy.mutex);
    caFile = policy.caFile;
    credentials = policy.credentials;
  }
  Route route;
  const bool routed = RouteFor(url, route);
  if (routed && route.state && route.state->refused) {
    OV_LOGS(L"proxy %s refused our credentials before: request not sent",
            Utils::Utf8ToWide(route.state->address).c_str());
    return CURLE_LOGIN_DENIED;
  }
  return FirstFailure({
      // Firewalled networks often cannot reach a revocation server; a
      // certificate known to be revoked still fails.
      curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT)),
      caFile.empty() ? CURLE_OK : curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.c_str()),
      routed ? ApplyRoute(handle, route, credentials) : CURLE_OK,
  });
}

bool ProxyRefusedAuthentication(const std::string& url) {
  Route route;
  return RouteFor(url.c_str(), route) && route.state && route.state->refused;
}

void ResetNetworkPolicyForTesting() {
  Policy& policy = ThePolicy();
  std::lock_guard<std::mutex> lock(policy.mutex);
  policy.settingsRead = false;
  policy.routes.clear();
  policy.autoDetectFailed = false;
  policy.pacFailed = false;
  for (ProxyState& state : policy.proxies) state.refused = false;
}

std::string SetProxyCredentialsForTesting(std::string userAndPassword) {
  Policy& policy = ThePolicy();
  std::lock_guard<std::mutex> lock(policy.mutex);
  return std::exchange(policy.credentials, std::move(userAndPassword));
}

std::string SetCaFileForTesting(std::string path) {
  Policy& policy = ThePolicy();
  std::lock_guard<std::mutex> lock(policy.mutex);
  return std::exchange(policy.caFile, std::move(path));
}

}  // namespace download
