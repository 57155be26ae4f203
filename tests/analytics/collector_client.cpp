#include "tests/analytics/collector_client.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

#include "download/curl_handles.h"

namespace {

size_t Append(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

std::string Fetch(const std::string& url, const std::string* postBody) {
  std::string reply;
  const download::UniqueCurl owned(curl_easy_init());
  CURL* const curl = owned.get();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  if (postBody) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
  }
  curl_easy_perform(curl);
  return reply;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

CollectorClient::CollectorClient() : port_(Env("OV_COLLECTOR_PORT")), control_(Env("OV_COLLECTOR_CONTROL_PORT")) {}

void CollectorClient::Post(const std::string& path, const std::string& body) {
  Fetch("http://127.0.0.1:" + control_ + path, &body);
}

rapidjson::Document CollectorClient::Get(const std::string& path) {
  return test_support::ParseJson(Fetch("http://127.0.0.1:" + control_ + path, nullptr));
}

rapidjson::Document CollectorClient::Records() {
  rapidjson::Document all(rapidjson::kArrayType);
  const rapidjson::Document batches = Batches();
  if (!batches.IsArray()) return all;
  for (const auto& batch : batches.GetArray()) {
    const auto records = batch.FindMember("records");
    if (records == batch.MemberEnd() || !records->value.IsArray()) continue;
    for (const auto& record : records->value.GetArray())
      all.PushBack(rapidjson::Value(record, all.GetAllocator()), all.GetAllocator());
  }
  return all;
}
