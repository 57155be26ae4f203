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

Json::Value CollectorClient::Get(const std::string& path) {
  const std::string text = Fetch("http://127.0.0.1:" + control_ + path, nullptr);
  Json::Value v;
  Json::CharReaderBuilder b;
  std::unique_ptr<Json::CharReader> r(b.newCharReader());
  std::string errors;
  r->parse(text.data(), text.data() + text.size(), &v, &errors);
  return v;
}

Json::Value CollectorClient::Records() {
  Json::Value all(Json::arrayValue);
  for (const auto& batch : Batches())
    for (const auto& record : batch["records"]) all.append(record);
  return all;
}
