// The pure parts of the proxy route: which manual proxy a scheme takes, and
// which hosts a bypass list sends direct.
#include "download/network_policy.h"

#include <gtest/gtest.h>

namespace {

TEST(NetworkPolicy, ManualProxyForScheme) {
  struct Case {
    const wchar_t* setting;
    const char* scheme;
    const char* proxy;
  } cases[] = {
      {L"10.0.0.1:3128", "http", "http://10.0.0.1:3128"},
      {L"10.0.0.1:3128", "https", "http://10.0.0.1:3128"},
      {L"http=h1:80;https=h2:443", "https", "http://h2:443"},
      {L"http=h1:80;https=h2:443", "http", "http://h1:80"},
      {L"HTTPS=h2:443 ftp=h3:21", "https", "http://h2:443"},
      {L"ftp=h3:21;socks=s:1080", "https", "socks4://s:1080"},
      {L"ftp=h3:21", "http", ""},
      {L"http://h4:8080", "https", "http://h4:8080"},
      {L"", "http", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(download::ManualProxyForScheme(c.setting, c.scheme), c.proxy) << c.scheme << " in " << c.setting;
}

TEST(NetworkPolicy, BypassList) {
  struct Case {
    const wchar_t* list;
    const char* scheme;
    const char* host;
    long port;
    bool bypassed;
  } cases[] = {
      {L"<local>", "http", "intranet", 80, true},
      {L"<local>", "http", "localhost", 80, true},
      {L"<local>", "http", "127.0.0.1", 80, false},
      {L"<local>", "http", "www.example.com", 80, false},
      {L"*.example.com", "https", "dl.example.com", 443, true},
      {L"*.example.com", "https", "example.com", 443, false},
      {L"*.EXAMPLE.com", "https", "DL.example.COM", 443, true},
      {L"10.*;192.168.*", "http", "192.168.1.9", 80, true},
      {L"10.*,  172.16.*", "http", "172.16.0.1", 80, true},
      {L"dl.example.com:8080", "http", "dl.example.com", 8080, true},
      {L"dl.example.com:8080", "http", "dl.example.com", 80, false},
      {L"https://*.example.com", "http", "dl.example.com", 80, false},
      {L"https://*.example.com", "https", "dl.example.com", 443, true},
      {L"<-loopback>", "http", "127.0.0.1", 80, false},
      {L"", "http", "intranet", 80, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(download::BypassesProxy(c.list, c.scheme, c.host, c.port), c.bypassed)
        << c.host << ":" << c.port << " against " << c.list;
}

}  // namespace
