// Owning types for libcurl handles (see platform/handles.h): a transfer
// that fails half-way, or a part node that is dropped, releases its easy
// handle and header list with it.
#pragma once

#include <curl/curl.h>

#include "platform/handles.h"

namespace download {

using UniqueCurl = Utils::Owned<Utils::SilentReleaseTraits<CURL, &curl_easy_cleanup>>;              // curl_easy_init
using UniqueCurlList = Utils::Owned<Utils::SilentReleaseTraits<curl_slist, &curl_slist_free_all>>;  // curl_slist_append

// Appends to an owned list. curl_slist_append returns null on failure and
// leaves the list as it was, which must then stay owned.
inline void AppendHeader(UniqueCurlList& list, const char* header) {
  if (curl_slist* longer = curl_slist_append(list.get(), header)) {
    list.release();
    list.reset(longer);
  }
}

}  // namespace download
