#pragma once
// The per-system half of the file access in checkedfile.cpp: opening a file for reading without
// hanging on a FIFO or device.  saveFileAtomically() lives in the per-system files too.
#include <QFile>
#include <QString>

#include "base/cause.h"

namespace dovu::detail {

// Opens path for reading, refusing anything that is not a regular file (a FIFO, a device, a
// folder) without waiting for it.  false with the reason in *error and, as a cause, in *why.
bool openRegularFile(QFile& file, const QString& path, QString* error, Problem* why = nullptr);

}  // namespace dovu::detail
