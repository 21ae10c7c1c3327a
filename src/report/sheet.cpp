#include "report/sheet.h"

#include <QBuffer>
#include <QFont>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <array>

#include "model/configuration.h"
#include "model/form.h"
#include "model/layout.h"
#include "model/sensors.h"

namespace dovu::report {

namespace {

// A configuration's values by the name of the window's field that shows each: the sheet is laid
// out from the window's tables and captions.
struct Values {
  const Configuration& c;
  ConfigValue value(const char* name) const { return configValue(c, *configFieldNamed(QString::fromLatin1(name))); }
  QString text(const char* name) const {
    const ConfigValue v = value(name);
    if (const auto* t = std::get_if<QString>(&v)) return *t;
    const int n = std::get<int>(v);
    return n < 0 ? QString() : QString::number(n);  // a number field that holds none
  }
  bool checked(const char* name) const { return std::get<bool>(value(name)); }
  int index(const char* name) const { return std::get<int>(value(name)); }
  const SensorSettings& sensors() const { return c.thresholds; }
};

QString esc(const QString& s) { return s.toHtmlEscaped(); }
QString cap(const char* name) { return QString::fromUtf8(Form::def(Form::idOf(name)).caption); }
QString yesNo(bool on) { return on ? QStringLiteral("tak") : QStringLiteral("nie"); }

// A text field as printed: escaped, a dash when empty.
QString textOf(const Values& form, const char* name) {
  const QString t = form.text(name);
  return t.isEmpty() ? QStringLiteral("–") : esc(t);
}

// The selected item of a list in words ("brak wyboru" when none).
QString choiceOf(const Values& form, const char* name) {
  const QStringList items = Form::items(Form::idOf(name));
  const int i = form.index(name);
  return i >= 0 && i < items.size() ? esc(items.at(i)) : QStringLiteral("brak wyboru");
}

// A sensor byte in its unit, as the window shows it.
QString sensorOf(const Values& form, const char* field) {
  const SensorInfo* s = sensorByField(field);
  if (!s) return textOf(form, field);
  const QString v = sensorText(s->encoding, form.sensors()[s->byte]);
  switch (s->encoding) {
    case SensorEncoding::Degrees:
    case SensorEncoding::Correction: return esc(v) + QStringLiteral(" °C");
    case SensorEncoding::Percent: return esc(v) + QStringLiteral(" %");
    case SensorEncoding::Volts: return esc(v);
  }
  return esc(v);
}

QString secret(const Values& form, const char* name, bool show) {
  return show ? textOf(form, name) : QString::fromUtf8(kMasked);
}

QString row(std::initializer_list<QString> cells, bool head = false) {
  const QString tag = head ? QStringLiteral("th") : QStringLiteral("td");
  QString r = QStringLiteral("<tr>");
  for (const QString& c : cells) r += QStringLiteral("<%1>%2</%1>").arg(tag, c);
  return r + QStringLiteral("</tr>");
}

QString heading(const QString& title) { return QStringLiteral("<h3>%1</h3>").arg(esc(title)); }

constexpr const char* kTable = "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"2\" border=\"1\">";

QString inputs(const Values& form) {
  using namespace layout;
  QString h = heading(QString::fromUtf8(kInputsGroup.caption)) + QString::fromLatin1(kTable);
  h += row({QStringLiteral("Wejście"), QString::fromUtf8(kActiveColumn), QString::fromUtf8(kInactiveColumn),
            QStringLiteral("Próg napięcia")},
           true);
  for (const InputRow& r : kInputRows)
    h += row({QString::fromLatin1(r.label), textOf(form, r.active), textOf(form, r.inactive), QStringLiteral("–")});
  for (const InputRow& r : kSupplyRows)
    h += row({QString::fromLatin1(r.label), textOf(form, r.active), textOf(form, r.inactive), sensorOf(form, r.threshold)});
  return h + QStringLiteral("</table>");
}

QString outputs(const Values& form) {
  using namespace layout;
  QString h = heading(QString::fromUtf8(kOutputsGroup.caption)) + QString::fromLatin1(kTable);
  h += row({QStringLiteral("Wyjście"), QStringLiteral("Słowo załączenia"), QStringLiteral("Słowo wyłączenia"),
            QStringLiteral("Styk"), QStringLiteral("Tryb"), QStringLiteral("Czas [s]"),
            QStringLiteral("Temperatura sterująca")},
           true);
  for (const OutputGroup& o : kOutputGroups) {
    const bool mono = form.checked(o.mono);
    h += row({QString::fromLatin1(o.caption), textOf(form, o.on), textOf(form, o.off),
              form.checked(o.nc) ? QStringLiteral("NC") : QStringLiteral("NO"),
              mono ? QStringLiteral("monostabilny") : QStringLiteral("bistabilny"),
              mono ? textOf(form, o.time) : QStringLiteral("–"), choiceOf(form, o.limit)});
  }
  h += QStringLiteral("</table><p>%1: %2")
           .arg(esc(cap("BoxPotw")), yesNo(form.checked("BoxPotw")));
  if (form.checked("BoxPotw")) h += QStringLiteral(", %1: %2").arg(esc(cap("EditPotw")), textOf(form, "EditPotw"));
  return h + QStringLiteral("</p>");
}

// One notification grid: an event a row, a telephone a column, X where that telephone is told.
QString matrixGrid(const Values& form, const layout::MatrixPage& page) {
  using namespace layout;
  QString h = QStringLiteral("<b>%1</b>").arg(esc(QString::fromUtf8(page.caption))) + QString::fromLatin1(kTable) +
              QStringLiteral("<tr><th>Zdarzenie</th>");
  for (int tel = 1; tel <= kPhones; ++tel) h += QStringLiteral("<th>%1</th>").arg(tel);
  h += QStringLiteral("</tr>");
  for (std::size_t r = 0; r < kMatrixRows.size(); ++r) {
    h += QStringLiteral("<tr><td>%1</td>").arg(esc(QString::fromUtf8(kMatrixRowLabels[r])));
    for (int tel = 1; tel <= kPhones; ++tel) {
      const QByteArray cell = "Box" + QByteArray(kMatrixRows[r]) + page.letter + QByteArray::number(tel);
      h += QStringLiteral("<td align=\"center\">%1</td>").arg(form.checked(cell.constData()) ? QStringLiteral("X") : QString());
    }
    h += QStringLiteral("</tr>");
  }
  return h + QStringLiteral("</table>");
}

// The telephones beside the SMS and voice grids whose columns they number.
QString phonesAndMatrices(const Values& form) {
  using namespace layout;
  QString phones = QStringLiteral("<b>%1</b>").arg(esc(QString::fromUtf8(kPhonesGroup.caption))) +
                   QString::fromLatin1(kTable) + row({QStringLiteral("Nr"), QStringLiteral("Numer")}, true);
  for (int tel = 1; tel <= kPhones; ++tel) {
    const QByteArray phone = "Edit_Tel" + QByteArray::number(tel);
    phones += row({QString::number(tel), textOf(form, phone.constData())});
  }
  phones += QStringLiteral("</table>");
  QString h = heading(QStringLiteral("Telefony i powiadomienia")) +
              QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\"><tr><td width=\"30%\">") + phones;
  for (const MatrixPage& p : kMatrixPages) h += QStringLiteral("</td><td width=\"35%\">") + matrixGrid(form, p);
  return h + QStringLiteral("</td></tr></table><p>X: telefon otrzymuje powiadomienie o zdarzeniu.</p>");
}

QString sensors(const Values& form) {
  using namespace layout;
  QString h = heading(QString::fromUtf8(kSensorsGroup.caption)) + QString::fromLatin1(kTable);
  h += row({QStringLiteral("Czujnik"), QString::fromUtf8(kSensorMin), QString::fromUtf8(kSensorMax),
            QString::fromUtf8(kSensorCorrection),
            QString::fromUtf8(kSensorDelay) + QLatin1Char(' ') + QString::fromUtf8(kSensorDelayUnit),
            QStringLiteral("SMS: ") + QString::fromUtf8(kSensorHigh), QStringLiteral("SMS: ") + QString::fromUtf8(kSensorNormal),
            QStringLiteral("SMS: ") + QString::fromUtf8(kSensorLow)},
           true);
  for (const SensorPage& p : kSensorPages)
    h += row({esc(QString::fromUtf8(p.caption)), sensorOf(form, p.min), sensorOf(form, p.max),
              p.correction ? sensorOf(form, p.correction) : QStringLiteral("–"), textOf(form, p.delay),
              textOf(form, p.high), textOf(form, p.normal), textOf(form, p.low)});
  return h + QStringLiteral("</table>");
}

QString options(const Values& form, bool showSecrets) {
  using namespace layout;
  QString h = heading(QString::fromUtf8(kDeviceGroup.caption)) + QString::fromLatin1(kTable);
  auto line = [&](const QString& a, const QString& b) { h += row({esc(a), b}); };
  line(QStringLiteral("Hasło dostępu"), secret(form, "Edit_haslo", showSecrets));
  line(QStringLiteral("PIN karty SIM"), secret(form, "Edit_pin", showSecrets));
  // The operator as the window picks it from the SMS centre number.
  line(cap("Combo_operator"), esc(Form::items(Form::idOf("Combo_operator")).at(operatorIndexOf(form.c.smsCentre))));
  line(cap("Edit_operator"), textOf(form, "Edit_operator"));
  line(QStringLiteral("Dobowy limit SMS"), textOf(form, "Edit_LimitSMS"));
  line(QStringLiteral("Dobowy limit połączeń głosowych"), textOf(form, "Edit_LimitVoice"));
  for (const char* box : {"BoxWyslijStan", "BoxCA", "BoxOut1sygn"}) line(cap(box), yesNo(form.checked(box)));
  QString autoTest = yesNo(form.checked("BoxAutoTest"));
  if (form.checked("BoxAutoTest"))
    autoTest += QStringLiteral(", co %1 h: %2").arg(textOf(form, "IleTest"), textOf(form, "EditAutotest"));
  line(cap("BoxAutoTest"), autoTest);
  line(cap("JakiStan"), textOf(form, "JakiStan"));
  QStringList reply;
  for (const ReplyColumn& c : kReplyColumns)
    if (form.checked(c.box)) reply << QString::fromLatin1(c.label);
  line(QString::fromUtf8(kReplyCaption), reply.isEmpty() ? QStringLiteral("–") : esc(reply.join(QStringLiteral(", "))));
  return h + QStringLiteral("</table>");
}

}  // namespace

QString sheetHtml(const Configuration& c, const SheetOptions& o) {
  const Values form{c};
  QString h = QStringLiteral(
      "<html><head><meta charset=\"utf-8\"/><style>"
      "h2 { margin: 0 0 4px 0; } h3 { margin: 8px 0 2px 0; } th { background-color: #e6e6e6; } "
      "td, th { font-size: 7.5pt; } p { margin: 2px 0; }"
      "</style></head><body>");
  h += QStringLiteral("<h2>Karta konfiguracji sterownika DOVU</h2><p>");
  QStringList head;
  if (!o.site.isEmpty()) head << QStringLiteral("Obiekt / klient: <b>%1</b>").arg(esc(o.site));
  head << QStringLiteral("Data: %1").arg(QLocale(QLocale::Polish).toString(o.when, QStringLiteral("d MMMM yyyy, HH:mm")));
  head << QStringLiteral("DOVU Konfigurator %1").arg(esc(o.programVersion));
  const QString fw = o.firmware.isEmpty() ? c.firmware : o.firmware;
  if (!fw.isEmpty()) head << QStringLiteral("Oprogramowanie sterownika: %1").arg(esc(fw));
  h += head.join(QStringLiteral(" &nbsp;·&nbsp; ")) + QStringLiteral("</p>");
  h += inputs(form) + outputs(form) + phonesAndMatrices(form) + sensors(form) + options(form, o.showSecrets);
  return h + QStringLiteral("</body></html>");
}

std::unique_ptr<QTextDocument> sheetDocument(const Configuration& c, const SheetOptions& options) {
  auto doc = std::make_unique<QTextDocument>();
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSizeF(8);
  doc->setDefaultFont(font);
  doc->setDocumentMargin(0);
  doc->setHtml(sheetHtml(c, options));
  return doc;
}

QByteArray sheetPdf(const Configuration& c, const SheetOptions& options) {
  QByteArray out;
  QBuffer buffer(&out);
  if (!buffer.open(QIODevice::WriteOnly)) return {};
  {
    QPdfWriter writer(&buffer);
    writer.setTitle(QStringLiteral("Karta konfiguracji sterownika DOVU"));
    writer.setCreator(QStringLiteral("DOVU Konfigurator %1").arg(options.programVersion));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(12, 12, 12, 12),
                                     QPageLayout::Millimeter));
    writer.setResolution(300);
    const auto doc = sheetDocument(c, options);
    doc->print(&writer);
  }
  buffer.close();
  return out;
}

}  // namespace dovu::report
