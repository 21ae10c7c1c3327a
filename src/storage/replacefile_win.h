#pragma once
// The last step of a save on Windows, without Qt: moving the finished temporary file over its
// target.  ReplaceFileW keeps the target's attributes, permissions and creation time, which a
// rename (MoveFileEx) drops; a target that another process holds for a moment (an indexer, a virus
// scanner, a backup) is tried again a few times.
#include <string>

namespace dovu {

// A held target is tried this many times in all, after pauses that double from the first: at most
// 50 + 100 + 200 + 400 ms of waiting.
inline constexpr int kReplaceAttempts = 5;
inline constexpr unsigned long kFirstReplaceRetryMs = 50;

// Moves written over target, or to target when there is none; 0, or the system's error of the last
// attempt with written still in place.
unsigned long replaceKeepingAttributes(const std::wstring& target, const std::wstring& written);

// Makes the bytes of a closed file durable; 0 or the system's error.
unsigned long syncToDisk(const std::wstring& path);

}  // namespace dovu
