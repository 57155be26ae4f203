#include "analytics/sdk/record_queue.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "analytics/sdk/test_support.h"
#include "platform/scoped_hook.h"

namespace analytics_core {
namespace {

using testing::DecodeBody;
using testing::StderrCapture;

std::string R(int i) { return "{\"n\":" + std::to_string(i) + "}"; }

std::string TempFile(const char* name) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + name;
  DeleteFileA(path.c_str());
  return path;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// A scripted transport: answers the statuses in turn (200 when they run out)
// and keeps every decoded batch.
struct FakeServer {
  std::vector<long> statuses;
  std::vector<std::string> batches;
  std::function<void()> duringPost;
  PostFunction Function() {
    return [this](const std::string&, const std::string& body, std::string& response) -> long {
      batches.push_back(DecodeBody(body));
      if (duringPost) duringPost();
      const long s = statuses.empty() ? 200 : statuses.front();
      if (!statuses.empty()) statuses.erase(statuses.begin());
      response = "answer " + std::to_string(s);
      return s;
    };
  }
};

TEST(RequestBody, EncodingsFollowTheirStandards) {
  const struct {
    const char* in;
    const char* out;
  } base64[] = {{"", ""},
                {"f", "Zg=="},
                {"fo", "Zm8="},
                {"foo", "Zm9v"},
                {"foob", "Zm9vYg=="},
                {"fooba", "Zm9vYmE="},
                {"foobar", "Zm9vYmFy"},
                {"\xFB\xFF", "+/8="}};
  for (const auto& c : base64) EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
  EXPECT_EQ(PercentEncode("Az09-._~+/= \xE4"), "Az09-._~%2B%2F%3D%20%E4");

  std::string body;
  ASSERT_TRUE(BuildRequestBody({R(1), R(2)}, body));
  const std::string middle = body.substr(10, body.size() - 17);
  EXPECT_EQ(middle.find_first_of("+/="), std::string::npos);
  EXPECT_EQ(DecodeBody(body), "[" + R(1) + "," + R(2) + "]");
}

TEST(RecordText, OnlyJsonObjectsTheServerCanReadPass) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"{}", true},
      {R"({"a":[1,-2.5e+3,0,0.5E-2,true,false,null,{"b":"\u00e9\n\"\\\/"}],"c":[]})", true},
      {"{ \"a\" : 1 }", true},
      {"{\"a\":\"\xC3\xA9\"}", true},
      {"{\"a\":1,}", false},
      {"{\"a\"}", false},
      {"{\"a\":01}", false},
      {"{\"a\":1.}", false},
      {"{\"a\":-}", false},
      {"{\"a\":\"\\x\"}", false},
      {"{\"a\":\"\\u12\"}", false},
      {"{'a':1}", false},
      {"{\"a\":1}}", false},
      {"{} {}", false},
      {"{\"a\":tru}", false},
      {"{\"a\":\"x\\\"}", false},
      {"{\"a\":[1 2]}", false},
      {"{\"a\":\"\x01\"}", false},
      {"{\"a\":\"\xff\"}", false},
      {"{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}", false},  // nesting beyond 64
      {"[1]", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidRecordText(c.text), c.valid) << c.text;
}

TEST(RecordQueue, KeepsTheNewest1024) {
  RecordQueue q("http://x", TempFile("ov_q_cap.txt"));
  for (int i = 1; i <= 1025; ++i) q.AddText(R(i));
  const auto kept = q.Snapshot();
  ASSERT_EQ(kept.size(), 1024u);
  EXPECT_EQ(kept.front(), R(2));
  EXPECT_EQ(kept.back(), R(1025));
}

TEST(RecordQueue, PostsBatchesOfThirtyInQueueOrder) {
  FakeServer server;
  RecordQueue q("http://x", TempFile("ov_q_batches.txt"), server.Function());
  std::string all65;
  for (int i = 1; i <= 65; ++i) q.AddText(R(i));
  EXPECT_TRUE(q.Flush());
  ASSERT_EQ(server.batches.size(), 3u);
  auto batchOf = [](int from, int to) {
    std::string s = "[";
    for (int i = from; i <= to; ++i) s += (i > from ? "," : "") + R(i);
    return s + "]";
  };
  EXPECT_EQ(server.batches[0], batchOf(1, 30));
  EXPECT_EQ(server.batches[1], batchOf(31, 60));
  EXPECT_EQ(server.batches[2], batchOf(61, 65));
  EXPECT_EQ(q.Size(), 0u);
  EXPECT_TRUE(LastSendSucceeded());
  EXPECT_TRUE(q.Flush());  // nothing queued: nothing posted
  EXPECT_EQ(server.batches.size(), 3u);
}

TEST(RecordQueue, FailedPostPutsBackWhatFitsAheadOfNewerRecords) {
  StderrCapture err;
  FakeServer server;
  server.statuses = {500};
  RecordQueue q("http://x", TempFile("ov_q_putback.txt"), server.Function());
  for (int i = 1; i <= 30; ++i) q.AddText(R(i));
  server.duringPost = [&] {  // Add is not held up by a post
    for (int i = 1001; i <= 2000; ++i) q.AddText(R(i));
  };
  EXPECT_FALSE(q.Flush());
  EXPECT_FALSE(LastSendSucceeded());
  EXPECT_EQ(err.Take(), "PelanAnalytics SDK send failed: answer 500\n");
  const auto kept = q.Snapshot();
  ASSERT_EQ(kept.size(), 1024u);
  EXPECT_EQ(kept[0], R(7));  // the last 24 of the batch
  EXPECT_EQ(kept[23], R(30));
  EXPECT_EQ(kept[24], R(1001));
  EXPECT_EQ(kept.back(), R(2000));

  server.duringPost = nullptr;
  EXPECT_TRUE(q.Flush());
  EXPECT_TRUE(LastSendSucceeded());
}

TEST(RecordQueue, BatchEndedByAnExceptionIsPutBack) {
  StderrCapture err;
  RecordQueue q("http://x", TempFile("ov_q_throw.txt"),
                [](const std::string&, const std::string&, std::string&) -> long {
                  throw std::runtime_error("Couldn't initialize curl handle");
                });
  for (int i = 1; i <= 3; ++i) q.AddText(R(i));
  EXPECT_FALSE(q.Flush());
  EXPECT_EQ(err.Take(), "Exception when flush failed: (Couldn't initialize curl handle) \n");
  EXPECT_EQ(q.Snapshot(), (std::vector<std::string>{R(1), R(2), R(3)}));
}

TEST(RecordQueue, BatchRefusedAfterAShutdownDuringItsPostIsStillSaved) {
  StderrCapture err;
  const std::string path = TempFile("ov_q_late_refusal.txt");
  FakeServer server;
  server.statuses = {500};
  RecordQueue q("http://x", path, server.Function());
  for (int i = 1; i <= 3; ++i) q.AddText(R(i));
  server.duringPost = [&] {  // the app closes while the batch is out
    q.AddText(R(4));
    q.Shutdown();
  };
  EXPECT_FALSE(q.Flush());
  EXPECT_EQ(Lines(path), (std::vector<std::string>{R(1), R(2), R(3), R(4)}));
}

TEST(RecordQueue, RecordsDeliveredAfterASaveLeaveTheStagingFile) {
  const std::string path = TempFile("ov_q_sent_after_save.txt");
  FakeServer server;
  RecordQueue q("http://x", path, server.Function());
  for (int i = 1; i <= 31; ++i) q.AddText(R(i));
  server.duringPost = [&] {  // an abnormal exit saves while the first batch is out
    q.SaveUnsent();
    server.duringPost = nullptr;
  };
  EXPECT_TRUE(q.Flush());
  EXPECT_EQ(server.batches.size(), 2u);
  EXPECT_TRUE(Lines(path).empty());  // the next run must not send them again
}

TEST(RecordQueue, StagingFileIsReadOnceAndKeepsOnlyReadableRecordsUntilDelivered) {
  const std::string path = TempFile("ov_q_staging.txt");
  std::ofstream(path) << "{\"a\":1}\n\nxyz\n{\"b\":2}\n{broken\n";
  FakeServer server;
  server.statuses = {500};
  RecordQueue q("http://x", path, server.Function());
  StderrCapture err;
  q.AddText(R(1));
  EXPECT_FALSE(q.Flush());
  EXPECT_EQ(server.batches[0], "[{\"a\":1},{\"b\":2}," + R(1) + "]");
  // Not delivered: still in the file, which lost only its unreadable lines.
  EXPECT_EQ(Lines(path), (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", R(1)}));
  q.Shutdown();
  EXPECT_EQ(Lines(path), (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", R(1)}));
  EXPECT_FALSE(q.Flush());  // shut down: nothing more is posted
  EXPECT_EQ(server.batches.size(), 1u);
}

TEST(RecordQueue, ShutdownBeforeAnyFlushKeepsTheEarlierRunsRecords) {
  const std::string path = TempFile("ov_q_keep.txt");
  std::ofstream(path) << R(1) << "\n" << R(2) << "\n";
  RecordQueue q("http://x", path);
  q.AddText(R(3));
  q.SaveUnsent();
  EXPECT_EQ(Lines(path), (std::vector<std::string>{R(1), R(2), R(3)}));
  q.Shutdown();
  EXPECT_EQ(Lines(path), (std::vector<std::string>{R(1), R(2), R(3)}));
}

TEST(RecordQueue, EnormousStagingFileLoadsOnlyTheNewestThatFit) {
  const std::string path = TempFile("ov_q_big.txt");
  {
    std::ofstream out(path);
    out << std::string(3 << 20, '{') << "}\n";  // one line far too long to be a record
    for (int i = 1; i <= 5000; ++i) out << R(i) << "\ngarbage\n";
  }
  FakeServer server;
  server.statuses = {500};
  RecordQueue q("http://x", path, server.Function());
  for (int i = 0; i < 1000; ++i) q.AddText(R(-i));
  StderrCapture err;
  EXPECT_FALSE(q.Flush());
  const auto kept = q.Snapshot();
  ASSERT_EQ(kept.size(), 1024u);
  EXPECT_EQ(kept[0], R(4977));
  EXPECT_EQ(kept[23], R(5000));
  EXPECT_EQ(kept[24], R(0));
}

std::string g_hookPath;
std::vector<std::vector<std::string>> g_seenDuringRewrite;
void RecordFileDuringRewrite(StagingWritePoint) { g_seenDuringRewrite.push_back(Lines(g_hookPath)); }

TEST(RecordQueue, StagingFileHoldsEveryUndeliveredRecordEvenWhileItIsRewritten) {
  const std::string path = TempFile("ov_q_durable.txt");
  std::ofstream(path) << R(1) << "\n";  // left by an earlier run
  FakeServer server;
  server.statuses = {500};
  RecordQueue q("http://x", path, server.Function());
  g_hookPath = path;
  g_seenDuringRewrite.clear();
  const Utils::ScopedHook hook(&SetStagingWriteHookForTesting, &RecordFileDuringRewrite);
  q.AddText(R(2));  // on disk as soon as it is queued: a process killed now keeps it
  EXPECT_EQ(Lines(path), (std::vector<std::string>{R(1), R(2)}));
  StderrCapture err;
  EXPECT_FALSE(q.Flush());  // refused: nothing leaves the file
  EXPECT_EQ(Lines(path), (std::vector<std::string>{R(1), R(2)}));
  EXPECT_TRUE(q.Flush());
  EXPECT_TRUE(Lines(path).empty());
  q.Shutdown();
  // Every rewrite left the old file whole until the rename replaced it.
  ASSERT_FALSE(g_seenDuringRewrite.empty());
  for (const auto& seen : g_seenDuringRewrite)
    EXPECT_TRUE(seen == (std::vector<std::string>{R(1)}) || seen == (std::vector<std::string>{R(1), R(2)}) ||
                seen.empty())
        << seen.size();
  EXPECT_EQ(g_seenDuringRewrite[0], (std::vector<std::string>{R(1)}));  // the first use did not empty it
}

TEST(RecordQueue, ARecordTheServerRefusesIsSetAsideOnceAndTheOthersGo) {
  const std::string path = TempFile("ov_q_refused.txt");
  DeleteFileA((path + ".refused").c_str());
  // A server that refuses (400) every batch holding record 2.
  std::vector<std::string> accepted;
  int posts = 0;
  RecordQueue q("http://x", path, [&](const std::string&, const std::string& body, std::string&) -> long {
    ++posts;
    const std::string batch = DecodeBody(body);
    if (batch.find(R(2)) != std::string::npos) return 400;
    accepted.push_back(batch);
    return 200;
  });
  for (int i = 1; i <= 3; ++i) q.AddText(R(i));
  StderrCapture err;
  EXPECT_TRUE(q.Flush());
  EXPECT_EQ(accepted, (std::vector<std::string>{"[" + R(1) + "]", "[" + R(3) + "]"}));
  EXPECT_EQ(posts, 4);  // the batch, then each record alone
  EXPECT_EQ(err.Take().find("Record refused by the server (status 400), set aside\n") != std::string::npos, true);
  EXPECT_EQ(Lines(path + ".refused"), (std::vector<std::string>{R(2)}));
  EXPECT_TRUE(Lines(path).empty());
  EXPECT_TRUE(q.Flush());  // never retried
  EXPECT_EQ(posts, 4);
}

TEST(RecordQueue, HostileStagingFilesLoadOnlyReadableRecordsWithinTheBudget) {
  const std::string line300k = "{\"k\":\"" + std::string(300 * 1024, 'a') + "\"}";
  const std::string line200k = "{\"k\":\"" + std::string(200 * 1024, 'b') + "\"}";
  std::string manyBig;
  for (int i = 0; i < 40; ++i) manyBig += line200k + "\n";  // 8 MiB of readable records
  const struct {
    const char* name;
    std::string content;
    size_t wantRecords;
  } cases[] = {
      {"torn line between braces", "{\"a\":\"x}\n" + R(1) + "\n", 1},
      {"control byte", "{\"a\":\"\x01\"}\n{\"a\":\"\t\"}\n" + R(1) + "\n", 1},
      {"invalid UTF-8", "{\"a\":\"\xff\"}\n{\"a\":\"\xed\xa0\x80\"}\n" + R(1) + "\n", 1},
      {"binary", std::string("\0{}\x01\x02\n\0\0", 8) + "\n" + R(1), 1},
      {"not an object", "[1]\n{}{}\n{\"a\":1,}\n" + R(1) + "\n", 1},
      {"a line over the cap", line300k + "\n" + R(1) + "\n", 1},
      {"8 MiB without a line break", "{" + std::string(8 << 20, 'x') + "}", 0},
      {"8 MiB of readable records", manyBig, (4 << 20) / line200k.size()},
  };
  for (const auto& c : cases) {
    const std::string path = TempFile("ov_q_hostile.txt");
    std::ofstream(path, std::ios::binary) << c.content;
    FakeServer server;
    server.statuses = {500};
    RecordQueue q("http://x", path, server.Function());
    StderrCapture err;
    q.Flush();
    const auto kept = q.Snapshot();
    EXPECT_EQ(kept.size(), c.wantRecords) << c.name;
    size_t bytes = 0;
    for (const auto& r : kept) {
      bytes += r.size();
      EXPECT_TRUE(IsValidRecordText(r)) << c.name;
    }
    EXPECT_LE(bytes, kMaxStagingBytes) << c.name;
    EXPECT_EQ(Lines(path).size(), c.wantRecords) << c.name;  // the file keeps only what was loaded
  }
}

}  // namespace
}  // namespace analytics_core
