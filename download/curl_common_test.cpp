#include "download/curl_common.h"

#include <gtest/gtest.h>

#include <string>

#include "download/curl_handles.h"

namespace {

// Several option results make one: the first refusal, as it happened. An OR
// would turn 43 and 48 into 59 (CURLE_SSL_CIPHER), which never happened.
TEST(CurlOptions, FirstRefusalIsTheResult) {
  EXPECT_EQ(download::FirstFailure({CURLE_OK, CURLE_BAD_FUNCTION_ARGUMENT, CURLE_UNKNOWN_OPTION}),
            CURLE_BAD_FUNCTION_ARGUMENT);
  EXPECT_EQ(download::FirstFailure({CURLE_UNKNOWN_OPTION, CURLE_BAD_FUNCTION_ARGUMENT}), CURLE_UNKNOWN_OPTION);
  EXPECT_EQ(download::FirstFailure({CURLE_OK, CURLE_OK}), CURLE_OK);

  // Through a real handle: libcurl refuses a negative stall time and a URL
  // beyond its input limit.
  const download::UniqueCurl handle(curl_easy_init());
  ASSERT_TRUE(handle);
  EXPECT_EQ(download::SetSafetyLimits(handle.get(), "http://127.0.0.1/", 5), CURLE_OK);
  EXPECT_EQ(download::SetSafetyLimits(handle.get(), "http://127.0.0.1/", -1), CURLE_BAD_FUNCTION_ARGUMENT);
  const std::string url(9000000, 'a');
  EXPECT_EQ(download::SetBodyRequestOptions(handle.get(), {url.c_str(), nullptr, nullptr, nullptr, nullptr, 5, 1000}),
            CURLE_BAD_FUNCTION_ARGUMENT);
}

}  // namespace
