#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "storage/replacefile_win.h"

namespace dovu {

namespace {

// Errors of a file that another process has open for a moment.  A lasting cause (no permission)
// fails the same way after the last attempt.
bool heldByAnother(DWORD err) {
  return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION || err == ERROR_ACCESS_DENIED ||
         err == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// The attributes a user sets on a file (ReplaceFileW carries them over; a rename after the target
// vanished, or wine, does not).
constexpr DWORD kUserAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

unsigned long replaceKeepingAttributes(const std::wstring& target, const std::wstring& written) {
  DWORD err = 0;
  DWORD pause = kFirstReplaceRetryMs;
  const DWORD oldAttributes = ::GetFileAttributesW(target.c_str());
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    const bool exists = ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    const BOOL done =
        exists ? ::ReplaceFileW(target.c_str(), written.c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)
               : ::MoveFileExW(written.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    if (done) {
      if (oldAttributes != INVALID_FILE_ATTRIBUTES && (oldAttributes & kUserAttributes)) {
        const DWORD now = ::GetFileAttributesW(target.c_str());
        const DWORD wanted = (now & ~kUserAttributes) | (oldAttributes & kUserAttributes);
        if (now != INVALID_FILE_ATTRIBUTES && now != wanted) ::SetFileAttributesW(target.c_str(), wanted);
      }
      return 0;
    }
    err = ::GetLastError();
    // The target went away or appeared in between; ERROR_UNABLE_TO_MOVE_REPLACEMENT: the old file
    // is gone and the written one is still there.  Tried again at once the other way.
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS ||
        err == ERROR_UNABLE_TO_MOVE_REPLACEMENT)
      continue;
    if (!heldByAnother(err)) break;
    if (attempt + 1 < kReplaceAttempts) {
      ::Sleep(pause);
      pause *= 2;
    }
  }
  return err;
}

unsigned long syncToDisk(const std::wstring& path) {
  const HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return ::GetLastError();
  const DWORD err = ::FlushFileBuffers(f) ? 0 : ::GetLastError();
  ::CloseHandle(f);
  return err;
}

}  // namespace dovu
