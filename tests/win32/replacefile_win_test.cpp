// The last step of a save on Windows, on wine's file system.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "storage/replacefile_win.h"

using namespace dovu;
using namespace std::chrono_literals;

namespace {

class WindowsSave : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, tmp), 0u);
    dir = std::wstring(tmp) + L"dovu-save-" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    target = dir + L"\\konfiguracja żółw.dcf";
  }
  void TearDown() override {
    for (const std::wstring& f : {target, dir + L"\\a.tmp", dir + L"\\b.tmp", dir + L"\\c.tmp"}) {
      ::SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(f.c_str());
    }
    ::RemoveDirectoryW(dir.c_str());
  }

  std::wstring make(const wchar_t* name, const std::string& content) {
    const std::wstring path = dir + L"\\" + name;
    std::ofstream(std::filesystem::path(path), std::ios::binary) << content;
    return path;
  }
  static std::string content(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  std::wstring dir, target;
};

TEST_F(WindowsSave, NewFileIsMovedAndAnOldOneKeepsItsAttributes) {
  const std::wstring first = make(L"a.tmp", "first");
  ASSERT_EQ(replaceKeepingAttributes(target, first), 0u);
  EXPECT_EQ(content(target), "first");
  EXPECT_FALSE(exists(first));

  // The user has hidden the file; the save keeps it hidden.
  ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  const std::wstring second = make(L"b.tmp", "second");
  EXPECT_EQ(replaceKeepingAttributes(target, second), 0u);
  EXPECT_EQ(content(target), "second");
  EXPECT_FALSE(exists(second));
  EXPECT_TRUE(::GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_HIDDEN) << "the replaced file's attributes were lost";
}

TEST_F(WindowsSave, TargetHeldForAMomentIsRetriedAndOneHeldForLongFailsInBoundedTime) {
  make(L"konfiguracja żółw.dcf", "old");
  // Another program (an indexer) has the file open without sharing for 150 ms.
  HANDLE held = ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    ::Sleep(150);
    ::CloseHandle(held);
  });
  const std::wstring written = make(L"a.tmp", "new");
  auto t0 = std::chrono::steady_clock::now();
  const unsigned long err = replaceKeepingAttributes(target, written);
  const auto waited = std::chrono::steady_clock::now() - t0;
  release.join();
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(content(target), "new");
  EXPECT_GE(waited, 100ms);

  // Held for longer than the retries last: the reason comes back, nothing is lost.
  held = ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::wstring refused = make(L"b.tmp", "refused");
  t0 = std::chrono::steady_clock::now();
  const unsigned long why = replaceKeepingAttributes(target, refused);
  const auto tried = std::chrono::steady_clock::now() - t0;
  ::CloseHandle(held);
  EXPECT_TRUE(why == ERROR_SHARING_VIOLATION || why == ERROR_UNABLE_TO_REMOVE_REPLACED || why == ERROR_ACCESS_DENIED)
      << "error " << why;
  EXPECT_GE(tried, 600ms);
  EXPECT_LT(tried, 2s);
  EXPECT_EQ(content(target), "new");
  EXPECT_EQ(content(refused), "refused");
}

}  // namespace
