// How every libcurl request of ours reaches the network: the proxy the user's
// Windows settings name for its URL, proxy authentication with the logged-on
// user's credentials, and certificate revocation that an unreachable
// revocation server cannot turn into a failure.
//
// The settings are read once per process (WinHttpGetIEProxyConfigForCurrentUser).
// A PAC script or auto-detection (WPAD) is asked through WinHttpGetProxyForUrl
// once per scheme, host and port, on the thread making the request, within
// kProxyQueryBoundMs; the answer is kept for the process. Without an answer
// the manual proxy and its bypass list apply, else the connection is direct.
// With no system proxy at all, libcurl's own environment variables
// (http_proxy, ...) keep working as before.
//
// Threads: any thread may call ApplyNetworkPolicy; the first call for a host
// may wait for the script, so the window's thread must not be the first to
// ask (its only request, the analytics post, asks after a sending thread).
#pragma once

#include <curl/curl.h>

#include <string>

namespace download {

// Longest wait for a PAC script or auto-detection, per query. Windows 7 puts
// no limit on WPAD of its own.
inline constexpr unsigned long kProxyQueryBoundMs = 10000;

// Applies the proxy route for `url` and the TLS policy to a handle about to
// make that request. Returns the first failing option's result, or
// CURLE_LOGIN_DENIED without setting anything when the proxy for this URL
// has already refused our credentials in this process: asking again would
// only count more failed logons against the user's account.
CURLcode ApplyNetworkPolicy(CURL* handle, const char* url);

// Whether the proxy for `url` ended the last request through it with a 407
// (authentication we could not answer). The orchestrator then hands the
// download to the system downloader, which authenticates by its own means.
bool ProxyRefusedAuthentication(const std::string& url);

// The proxy a manual setting ("host:port" or "http=host:port;https=...")
// names for a scheme, as libcurl takes it ("http://host:port",
// "socks4://host:port"); empty: none for this scheme.
std::string ManualProxyForScheme(const std::wstring& setting, const std::string& scheme);

// Whether a host (and port) matches a bypass list: entries separated by
// ";", "," or spaces, "*" as a wildcard, "<local>" for names without a dot,
// an optional scheme ("https://*.corp") and port ("host:8080").
bool BypassesProxy(const std::wstring& bypassList, const std::string& scheme, const std::string& host, long port);

// Tests: forgets the settings, the answers and the refusals, so the next
// request reads the registry again.
void ResetNetworkPolicyForTesting();
// Tests: explicit proxy credentials ("user:password") in place of the
// logged-on user's (":"), which Wine cannot give. Returns the previous ones.
std::string SetProxyCredentialsForTesting(std::string userAndPassword);
// Tests: a PEM file of trusted authorities for every request (Wine's
// Schannel checks nothing against its own store); empty: the system store.
// Returns the previous one.
std::string SetCaFileForTesting(std::string path);

}  // namespace download
