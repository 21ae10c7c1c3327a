#pragma once
// Platform helpers of the port list (portlist_<os>.cpp).
#include <QString>

namespace dovu::detail {

// The process exists (possibly owned by another user).
bool processAlive(qint64 pid);
// Fallback folder for simulator advertisements when no runtime folder is set.
QString fallbackAdvertDir();
// The folder is a real folder (not a link), owned by this user and closed to everyone else:
// only then are the ports advertised in it trusted.
bool isPrivateDir(const QString& dir);
// Creates the folder with mode 0700 (its parents as needed) or accepts an existing private one.
bool makePrivateDir(const QString& dir, QString* error);

}  // namespace dovu::detail
