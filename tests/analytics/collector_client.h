// Test side of the analytics collector (tools/collector): its data URL and
// its control port, reached with libcurl from the Wine test process.
#pragma once

#include <string>

#include "tests/support/json.h"

class CollectorClient {
 public:
  CollectorClient();  // reads OV_COLLECTOR_PORT and OV_COLLECTOR_CONTROL_PORT
  bool ok() const { return !port_.empty() && !control_.empty(); }
  std::string DataUrl() const { return "http://127.0.0.1:" + port_ + "/sa?project=pc"; }

  // Answers for the next posts in turn: "ok", "500", "hang", "garbage".
  void Script(const std::string& answers) { Post("/script", answers); }
  void Down() { Post("/down", ""); }
  void Up() { Post("/up", ""); }
  void Reset() { Post("/reset", ""); }
  rapidjson::Document Batches() { return Get("/batches"); }
  rapidjson::Document Requests() { return Get("/requests"); }
  // Every accepted record, in arrival order.
  rapidjson::Document Records();

 private:
  void Post(const std::string& path, const std::string& body);
  rapidjson::Document Get(const std::string& path);
  std::string port_, control_;
};
