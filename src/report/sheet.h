#pragma once
// The configuration sheet: what a configuration holds, on one or two A4 pages in Polish, for the
// client who takes a controller over.  Built as HTML for a QTextDocument, which the window prints
// or previews and which becomes a PDF through QPdfWriter.  Needs Qt Gui (fonts), no widgets: the
// command-line tool runs it on the offscreen platform.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>

#include "model/configuration.h"

class QTextDocument;

namespace dovu::report {

struct SheetOptions {
  QString site;                 // client or site name; empty: no such line
  QString programVersion;       // "1.42"
  QString firmware;             // the controller's firmware version; empty: the configuration's own
  bool showSecrets = false;     // the access password and the SIM PIN in clear
  QDateTime when = QDateTime::currentDateTime();
};

// What a masked secret prints as.
inline constexpr const char* kMasked = "••••";

// The sheet as HTML (UTF-8 characters, escaped texts).
QString sheetHtml(const Configuration& c, const SheetOptions& options);

// The sheet laid out for A4 pages (the page size the document is laid out for).
std::unique_ptr<QTextDocument> sheetDocument(const Configuration& c, const SheetOptions& options);

// The sheet as a PDF file in memory; empty on failure.
QByteArray sheetPdf(const Configuration& c, const SheetOptions& options);


}  // namespace dovu::report
