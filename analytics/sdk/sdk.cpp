#define _CRT_RAND_S  // rand_s
#include "analytics/sdk/sdk.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>

namespace analytics_core {

namespace {

Sdk* g_instance = nullptr;  // created by Init, deleted by Shutdown

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '$' || c == '_'; }
bool IsNameByte(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

std::string LastDigits(int64_t value, size_t count) {
  const std::string s = std::to_string(value);
  return s.size() > count ? s.substr(s.size() - count) : s;
}

PropertiesNode OneProperty(const std::string& key, const PropertyValue& value) {
  PropertiesNode node;
  node.SetValue(key, value);
  return node;
}

PropertiesNode OneString(const std::string& key, const std::string& value) {
  PropertiesNode node;
  node.SetString(key, value);  // the string checks apply
  return node;
}

}  // namespace

bool CheckId(const std::string& id, const char* label) {
  if (id.empty()) {
    WriteStderr({"The ", label, " is empty.\n"});
    return false;
  }
  if (id.size() > 255) {
    WriteStderr({"The ", label, " is too long, max length is 255.\n"});
    return false;
  }
  return true;
}

bool CheckName(const std::string& name, const char* label) {
  if (name.empty() || name.size() > 100) {
    WriteStderr({"The ", label, " is empty or too long, max length is 100"});
    return false;
  }
  bool ok = IsNameStart(name[0]);
  for (size_t i = 1; ok && i < name.size(); ++i) ok = IsNameByte(name[i]);
  if (!ok) WriteStderr({"The ", label, " need to be a valid variable name."});
  return ok;
}

bool CheckProperties(const PropertiesNode& properties) {
  for (const auto& [key, value] : properties.entries()) {
    if (!CheckName(key, "Property Key")) return false;
    if (key == "$time" && value.kind() != PropertyValue::kDateTime) {
      WriteStderr({"The property '$time' should be DateTime type."});
      return false;
    }
    if (key == "$project" && value.kind() != PropertyValue::kString) {
      WriteStderr({"The property '$project' should be String type."});
      return false;
    }
  }
  return true;
}

int64_t NowMilliseconds() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t t = static_cast<int64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
  return (t - 116444736000000000LL) / 10000;
}

// rand() keeps its state per thread and starts every new thread at the same
// seed, so ids built on worker threads would repeat in every run; rand_s
// draws from the system's generator on any thread.
unsigned RandomDraw() {
  unsigned value = 0;
  if (rand_s(&value) != 0) value = static_cast<unsigned>(std::rand());
  return value;
}

int64_t MakeTrackId(int64_t nowMs) {
  const std::string r1 = LastDigits(RandomDraw() % 99 + 100, 2);
  const std::string r2 = LastDigits(RandomDraw() % 999 + 1000, 3);
  return std::stoll(r1 + r2 + LastDigits(nowMs, 4));
}

Sdk::Sdk(const std::string& distinctId, bool isLoginId, const std::string& serverUrl, const std::string& stagingPath,
         PostFunction post)
    : distinctId_(distinctId), isLoginId_(isLoginId), queue_(serverUrl, stagingPath, std::move(post)) {}

bool Sdk::Init(const std::string& stagingPath, const std::string& serverUrl, const std::string& distinctId,
               bool isLoginId, PostFunction post) {
  if (!CheckId(distinctId, "Distinct ID")) return false;
  if (!g_instance) {
    g_instance = new Sdk(distinctId, isLoginId, serverUrl, stagingPath, std::move(post));
    ResetSuperProperties();
    std::srand(static_cast<unsigned>(std::time(nullptr)));
  }
  return true;
}

bool Sdk::Exists() { return g_instance != nullptr; }

bool Sdk::AddRecord(const std::string& type, const std::string& eventName, const PropertiesNode& properties,
                    const std::string& distinctId, const std::string& originalId) {
  if (!CheckProperties(properties)) return false;
  if (type == "track" && !CheckName(eventName, "Event Name")) return false;
  if (type == "track_signup" && !CheckId(originalId, "Original ID")) return false;

  PropertiesNode merged;
  if (type.find("track") != std::string::npos) merged.Merge(superProperties_);
  merged.Merge(properties);

  int64_t time = 0;
  if (const PropertyValue* t = merged.Find("$time")) {
    time = t->integer() * 1000 + t->milliseconds();
    merged.Remove("$time");
  } else {
    time = NowMilliseconds();
  }
  std::string project;
  if (const PropertyValue* p = merged.Find("$project")) {
    project = p->text();
    merged.Remove("$project");
  }
  if (isLoginId_) merged.SetBoolean("$is_login_id", true);

  PropertiesNode lib;
  lib.SetString("$lib", "cpp");
  lib.SetString("$lib_version", "0.9");
  lib.SetString("$lib_method", "code");

  PropertiesNode record;
  record.SetString("type", type);
  record.SetValue("time", PropertyValue(time));
  record.SetValue("distinct_id", PropertyValue(distinctId));
  record.SetValue("properties", PropertyValue(merged));
  record.SetValue("lib", PropertyValue(lib));
  record.SetValue("_track_id", PropertyValue(MakeTrackId(NowMilliseconds())));
  if (!project.empty()) record.SetValue("project", PropertyValue(project));
  if (type == "track" || type == "track_signup") record.SetValue("event", PropertyValue(eventName));
  if (type == "track_signup") record.SetValue("original_id", PropertyValue(originalId));
  queue_.Add(record);
  return true;
}

void Sdk::Track(const std::string& eventName, const PropertiesNode& properties) {
  if (g_instance) g_instance->AddRecord("track", eventName, properties, g_instance->distinctId_, "");
}

void Sdk::TrackSignup(const std::string& loginId) {
  if (!g_instance) return;
  g_instance->AddRecord("track_signup", "$SignUp", PropertiesNode(), loginId, g_instance->distinctId_);
  g_instance->distinctId_ = loginId;
  g_instance->isLoginId_ = true;
}

void Sdk::ProfileSet(const PropertiesNode& properties) {
  if (g_instance) g_instance->AddRecord("profile_set", "", properties, g_instance->distinctId_, "");
}
void Sdk::ProfileSet(const std::string& key, const std::string& value) { ProfileSet(OneString(key, value)); }
void Sdk::ProfileSet(const std::string& key, int32_t value) { ProfileSet(OneProperty(key, PropertyValue(value))); }
void Sdk::ProfileSet(const std::string& key, double value) { ProfileSet(OneProperty(key, PropertyValue(value))); }

void Sdk::ProfileSetOnce(const PropertiesNode& properties) {
  if (g_instance) g_instance->AddRecord("profile_set_once", "", properties, g_instance->distinctId_, "");
}
void Sdk::ProfileSetOnce(const std::string& key, const std::string& value) { ProfileSetOnce(OneString(key, value)); }
void Sdk::ProfileSetOnce(const std::string& key, int32_t value) {
  ProfileSetOnce(OneProperty(key, PropertyValue(value)));
}
void Sdk::ProfileSetOnce(const std::string& key, double value) {
  ProfileSetOnce(OneProperty(key, PropertyValue(value)));
}

void Sdk::ProfileIncrement(const PropertiesNode& properties) {
  if (g_instance) g_instance->AddRecord("profile_increment", "", properties, g_instance->distinctId_, "");
}
void Sdk::ProfileIncrement(const std::string& key, int32_t value) {
  ProfileIncrement(OneProperty(key, PropertyValue(value)));
}

void Sdk::ProfileAppend(const std::string& key, const std::string& value) {
  if (g_instance)
    g_instance->AddRecord("profile_append", "", OneProperty(key, PropertyValue(std::vector<std::string>{value})),
                          g_instance->distinctId_, "");
}

void Sdk::MergeSuperProperties(const PropertiesNode& properties) {
  if (g_instance) g_instance->superProperties_.Merge(properties);
}

void Sdk::ResetSuperProperties() {
  if (!g_instance) return;
  g_instance->superProperties_ = PropertiesNode();
  g_instance->superProperties_.SetString("$lib", "cpp");
  g_instance->superProperties_.SetString("$lib_version", "0.9");
}

bool Sdk::Flush() { return g_instance && g_instance->queue_.Flush(); }

void Sdk::SaveUnsent() {
  if (g_instance) g_instance->queue_.SaveUnsent();
}

void Sdk::Shutdown() {
  if (!g_instance) return;
  g_instance->queue_.Shutdown();
  delete g_instance;
  g_instance = nullptr;
}

std::vector<std::string> Sdk::QueuedRecords() {
  return g_instance ? g_instance->queue_.Snapshot() : std::vector<std::string>();
}

std::string Sdk::DistinctId() { return g_instance ? g_instance->distinctId_ : std::string(); }

}  // namespace analytics_core
