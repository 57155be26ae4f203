// The test harness itself: a host-side nginx reached from a Wine test with
// the statically linked libcurl, through the folder and port it announced.
#include <windows.h>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "download/curl_handles.h"

namespace {

size_t Append(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

TEST(Peers, NginxServesAFileWrittenIntoItsRoot) {
  const char* port = std::getenv("OV_NGINX_PORT");
  const char* root = std::getenv("OV_NGINX_ROOT_WIN");
  ASSERT_TRUE(port && root);
  std::ofstream(std::string(root) + "\\hello.txt", std::ios::binary) << "hello from the harness";

  ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK);
  const download::UniqueCurl owned(curl_easy_init());
  CURL* const curl = owned.get();
  std::string body;
  const std::string url = std::string("http://127.0.0.1:") + port + "/hello.txt";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_RANGE, "11-");
  ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  EXPECT_EQ(status, 206);
  EXPECT_EQ(body, "the harness");
  curl_global_cleanup();
}

}  // namespace
