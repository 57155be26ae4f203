// In-process fuzzing of the parsers of outside data, guided by coverage:
// the parser sources are compiled with -fsanitize-coverage=trace-pc, every
// edge a run reaches lands in a map, and an input that reaches a new one
// joins the corpus that later mutations start from.
//
//   ov_fuzz <target|all> <inputs per target> [rng seed] [folder for findings]
//
// Per input: no crash (the unhandled-exception filter saves the input and
// ends with 4), no hang (a watchdog saves it and ends with 3 after
// kInputBound), the target's own invariants (saved, exit 5), and memory:
// what the input allocated through operator new is freed again and never
// exceeds kPeakBound (saved, exit 6). One line per target:
// "<target> inputs=<n> corpus=<n> edges=<n> slowest-ms=<n> peak-kb=<n>".
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/fuzz/fuzz_targets.h"

namespace {

constexpr DWORD kInputBound = 2000;                  // ms
constexpr size_t kPeakBound = 256u * 1024u * 1024u;  // bytes live at once
constexpr size_t kMaxInput = 64 * 1024;

// Coverage: one byte per edge bucket.
constexpr size_t kEdges = 1 << 16;
unsigned char g_edges[kEdges];
uintptr_t g_previous = 0;

// Memory through operator new/delete (a size header in front of each block).
std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};

std::atomic<DWORD> g_inputStart{0};  // 0: no input running
const fuzz::Target* g_target = nullptr;
const std::string* g_input = nullptr;
std::string g_findings = ".";

void Save(const char* kind) {
  const std::string path = g_findings + "\\" + kind + "-" + (g_target ? g_target->name : "none") + ".bin";
  if (FILE* f = fopen(path.c_str(), "wb")) {
    if (g_input) fwrite(g_input->data(), 1, g_input->size(), f);
    fclose(f);
  }
  fprintf(stderr, "%s in %s: input saved as %s\n", kind, g_target ? g_target->name : "?", path.c_str());
  fflush(stderr);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* e) {
  fprintf(stderr, "exception %08lx\n", e->ExceptionRecord->ExceptionCode);
  Save("crash");
  ExitProcess(4);
}

std::string Mutate(const std::string& base, const std::vector<std::string>& corpus, const fuzz::Target& target,
                   std::mt19937& rng) {
  std::string s = base;
  const int edits = 1 + static_cast<int>(rng() % 6);
  for (int e = 0; e < edits; ++e) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 8) {
      case 0:  // a byte
        if (!s.empty()) s[at % s.size()] = static_cast<char>(rng());
        break;
      case 1:  // a bit
        if (!s.empty()) s[at % s.size()] ^= static_cast<char>(1 << (rng() % 8));
        break;
      case 2:  // a token of the format
        if (!target.tokens.empty()) s.insert(at, target.tokens[rng() % target.tokens.size()]);
        break;
      case 3:  // a cut
        if (!s.empty()) s.erase(at % s.size(), 1 + rng() % 16);
        break;
      case 4: {  // a repeat
        if (s.empty()) break;
        const size_t from = rng() % s.size();
        const std::string part = s.substr(from, 1 + rng() % 32);
        s.insert(at, part);
        break;
      }
      case 5: {  // a splice with another corpus entry
        const std::string& other = corpus[rng() % corpus.size()];
        if (other.empty()) break;
        const size_t from = rng() % other.size();
        s = s.substr(0, at) + other.substr(from, rng() % 64);
        break;
      }
      case 6:  // an interesting byte
        s.insert(at, 1, "\0\n\r\"\\{}[]<>=&%\xff\x80\xef"[rng() % 16]);
        break;
      default:  // a number out of range
        s.insert(at, (rng() % 2) ? "99999999999999999999" : "-2147483649");
        break;
    }
  }
  if (s.size() > kMaxInput) s.resize(kMaxInput);
  return s;
}

// Runs one input; true when it reached an edge no input reached before.
bool RunOne(const fuzz::Target& target, const std::string& input, unsigned char* seen, bool rerun = false) {
  static unsigned char run[kEdges];
  memset(g_edges, 0, sizeof(g_edges));
  g_previous = 0;
  g_input = &input;
  const size_t liveBefore = g_live.load();
  g_peak = liveBefore;
  g_inputStart = GetTickCount() | 1;
  std::string broken;
  target.run(input, &broken);
  g_inputStart = 0;
  if (!broken.empty()) {
    fprintf(stderr, "invariant: %s\n", broken.c_str());
    Save("invariant");
    ExitProcess(5);
  }
  // What a first run leaves may be a function's static made on first use:
  // the same input again must then leave nothing.
  if (g_live.load() != liveBefore && !rerun) {
    return RunOne(target, input, seen, true);
  }
  if (g_live.load() != liveBefore || g_peak.load() - liveBefore > kPeakBound) {
    fprintf(stderr, "memory: %zu bytes not freed, peak %zu\n", g_live.load() - liveBefore, g_peak.load() - liveBefore);
    Save("memory");
    ExitProcess(6);
  }
  memcpy(run, g_edges, sizeof(run));
  bool fresh = false;
  for (size_t i = 0; i < kEdges; ++i)
    if (run[i] && !seen[i]) seen[i] = 1, fresh = true;
  return fresh;
}

}  // namespace

// The edge callback the compiler puts in every instrumented basic block.
extern "C" void __sanitizer_cov_trace_pc() {
  const uintptr_t pc = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  g_edges[(pc ^ g_previous) % kEdges] = 1;
  g_previous = pc >> 1;
}

void* operator new(size_t size) {
  auto* block = static_cast<size_t*>(malloc(size + 2 * sizeof(size_t)));
  if (!block) throw std::bad_alloc();
  block[0] = size;
  const size_t live = g_live += size;
  size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return block + 2;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  auto* block = static_cast<size_t*>(p) - 2;
  g_live -= block[0];
  free(block);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void* operator new[](size_t size) { return operator new(size); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: ov_fuzz <target|all> <inputs per target> [seed] [findings folder]\n");
    return 64;
  }
  const std::string which = argv[1];
  const long long inputs = atoll(argv[2]);
  const unsigned seed = argc > 3 ? static_cast<unsigned>(strtoul(argv[3], nullptr, 10)) : 1;
  if (argc > 4) g_findings = argv[4];
  SetUnhandledExceptionFilter(OnCrash);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  std::thread([] {
    for (;;) {
      Sleep(200);
      const DWORD start = g_inputStart.load();
      if (start && static_cast<LONG>(GetTickCount() - start) > static_cast<LONG>(kInputBound)) {
        Save("hang");
        ExitProcess(3);
      }
    }
  }).detach();

  int ran = 0;
  for (const fuzz::Target& target : fuzz::Targets()) {
    if (which != "all" && which != target.name) continue;
    ++ran;
    g_target = &target;
    std::mt19937 rng(seed);
    std::vector<std::string> corpus = target.seeds;
    if (corpus.empty()) corpus.emplace_back();
    static unsigned char seen[kEdges];
    memset(seen, 0, sizeof(seen));
    DWORD slowest = 0;
    size_t peak = 0;
    for (const std::string& s : target.seeds) RunOne(target, s, seen);
    for (long long i = 0; i < inputs; ++i) {
      const std::string input = Mutate(corpus[rng() % corpus.size()], corpus, target, rng);
      const DWORD t0 = GetTickCount();
      const size_t before = g_live.load();
      if (RunOne(target, input, seen) && corpus.size() < 4096) corpus.push_back(input);
      slowest = std::max<DWORD>(slowest, GetTickCount() - t0);
      peak = std::max(peak, g_peak.load() - before);
    }
    size_t edges = 0;
    for (unsigned char e : seen) edges += e;
    printf("%s inputs=%lld corpus=%zu edges=%zu slowest-ms=%lu peak-kb=%zu\n", target.name, inputs, corpus.size(),
           edges, slowest, peak / 1024);
    fflush(stdout);
  }
  if (!ran) {
    fprintf(stderr, "no target %s\n", which.c_str());
    return 64;
  }
  return 0;
}
