#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/scoped_hook.h"

namespace {

bool IsOpen(HANDLE h) {
  DWORD flags = 0;
  return h && GetHandleInformation(h, &flags);
}

bool IsInheritable(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) && (flags & HANDLE_FLAG_INHERIT);
}

void CreatePipes(Utils::ChildProcess& child) {
  child.CreateErrorPipe();
  child.CreateOutputPipe();
  child.CreateInputPipe();
}

// Reads until the pipe breaks; returns what arrived and the final error.
std::string ReadAll(HANDLE pipe, DWORD& lastError) {
  std::string out;
  char buffer[256];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof(buffer), &n, nullptr)) out.append(buffer, n);
  lastError = GetLastError();
  return out;
}

TEST(ChildProcess, MissingProgramThrowsAndReleaseClosesAllFiveHandles) {
  Utils::ChildProcess child;
  CreatePipes(child);
  // The child's errors go to the null device: there is no read end to fill.
  EXPECT_EQ(child.errorPipe().readEnd.get(), nullptr);
  const HANDLE handles[] = {child.errorPipe().writeEnd.get(), child.outputPipe().writeEnd.get(),
                            child.outputPipe().readEnd.get(), child.inputPipe().writeEnd.get(),
                            child.inputPipe().readEnd.get()};
  for (HANDLE h : handles) {
    EXPECT_TRUE(IsOpen(h));
    EXPECT_TRUE(IsInheritable(h) || h == child.outputPipe().readEnd.get() || h == child.inputPipe().writeEnd.get());
  }
  try {
    child.Start(L"C:\\windows\\no-such-program.exe /S");
    ADD_FAILURE() << "a missing program started";
  } catch (const Utils::Exception& e) {
    // The cause reaches whoever handles it: the failing call and its error.
    EXPECT_STREQ(e.what(), "CreateProcessW");
    EXPECT_EQ(e.error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  for (HANDLE h : handles) EXPECT_TRUE(IsOpen(h)) << "pipes stay open until the release";
  EXPECT_EQ(child.process(), nullptr);
  child.ReleaseHandles();
  for (HANDLE h : handles) EXPECT_FALSE(IsOpen(h));
  EXPECT_EQ(child.outputPipe().readEnd.get(), nullptr);
  child.ReleaseHandles();  // twice is harmless
}

TEST(ChildProcess, ParentKeepsOnlyItsOwnPrivateEnds) {
  Utils::ChildProcess child;
  CreatePipes(child);
  child.Start(L"cmd.exe /c echo hello from the child");
  EXPECT_EQ(child.outputPipe().writeEnd.get(), nullptr);
  EXPECT_EQ(child.errorPipe().writeEnd.get(), nullptr);
  EXPECT_EQ(child.inputPipe().readEnd.get(), nullptr);
  for (HANDLE h : {child.outputPipe().readEnd.get(), child.inputPipe().writeEnd.get()}) {
    EXPECT_TRUE(IsOpen(h));
    EXPECT_FALSE(IsInheritable(h));
  }
  EXPECT_TRUE(IsOpen(child.process()));
  EXPECT_TRUE(IsOpen(child.thread()));
  DWORD error = 0;
  const std::string out = ReadAll(child.outputReadEnd(), error);
  EXPECT_NE(out.find("hello from the child"), std::string::npos) << out;
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
  EXPECT_EQ(WaitForSingleObject(child.process(), 10000), WAIT_OBJECT_0);
}

// Asked to prefer System32's DLLs, a child runs as any other; where the
// policy is refused (Windows 7 and 8) it starts without it. A missing
// program fails either way.
TEST(ChildProcess, SystemDllPolicyIsDroppedOnlyWhereRefused) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "accepted");
    const Utils::ScopedHook refusal(&Utils::ChildProcess::SimulatePolicyRefusalForTesting, refused);
    Utils::ChildProcess child;
    CreatePipes(child);
    child.PreferSystemDlls();
    child.Start(L"cmd.exe /c echo hello under the policy");
    EXPECT_EQ(child.startedWithSystemDllPolicy(), !refused);
    DWORD error = 0;
    const std::string out = ReadAll(child.outputReadEnd(), error);
    EXPECT_NE(out.find("hello under the policy"), std::string::npos) << out;
    Utils::ChildProcess missing;
    CreatePipes(missing);
    missing.PreferSystemDlls();
    EXPECT_THROW(missing.Start(L"C:\\no\\such\\program.exe /S"), Utils::Exception);
  }
}

TEST(ChildProcess, SilentChildBreaksThePipeAtOnceAndKeepsItsExitCode) {
  Utils::ChildProcess child;
  CreatePipes(child);
  child.Start(L"cmd.exe /c exit 5");
  ASSERT_EQ(WaitForSingleObject(child.process(), 10000), WAIT_OBJECT_0);
  char byte;
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(child.outputReadEnd(), &byte, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(child.process(), &code));
  EXPECT_EQ(code, 5u);
}

TEST(ChildProcess, CommandLineOf1023CharactersStartsAndOf1024Throws) {
  const std::wstring prefix = L"cmd.exe /c exit 0 ";
  const std::wstring fits = prefix + std::wstring(1023 - prefix.size(), L'x');
  {
    Utils::ChildProcess child;
    CreatePipes(child);
    EXPECT_NO_THROW(child.Start(fits));
    EXPECT_EQ(WaitForSingleObject(child.process(), 10000), WAIT_OBJECT_0);
  }
  Utils::ChildProcess child;
  CreatePipes(child);
  EXPECT_THROW(child.Start(fits + L"x"), Utils::Exception);
  EXPECT_EQ(child.process(), nullptr);
}

TEST(Exception, CarriesAnAnsiMessage) {
  EXPECT_STREQ(Utils::Exception().what(), "");
  EXPECT_STREQ(Utils::Exception(L"pipe").what(), "pipe");
}

}  // namespace
