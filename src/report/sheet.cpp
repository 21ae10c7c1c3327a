#include "report/sheet.h"

#include <QBuffer>
#include <QFont>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <array>

#include "model/captions.h"
#include "model/configuration.h"
#include "model/sensors.h"

namespace dovu::report {

namespace {

using namespace captions;

// A configuration's values by their fields' stable names.
struct Values {
  const Configuration& c;
  ConfigValue value(const QString& name) const { return configValue(c, field(name)); }
  static const ConfigField& field(const QString& name) { return *configFieldNamed(name); }
  QString text(const QString& name) const {
    const ConfigValue v = value(name);
    if (const auto* t = std::get_if<QString>(&v)) return *t;
    const int n = std::get<int>(v);
    return n < 0 ? QString() : QString::number(n);  // a number field that holds none
  }
  bool checked(const QString& name) const { return std::get<bool>(value(name)); }
  int index(const QString& name) const { return std::get<int>(value(name)); }
};

QString esc(const QString& s) { return s.toHtmlEscaped(); }
QString cap(const QString& name) { return Values::field(name).caption; }
QString yesNo(bool on) { return on ? QStringLiteral("tak") : QStringLiteral("nie"); }
QString utf8(const char* s) { return QString::fromUtf8(s); }

// A text field as printed: escaped, a dash when empty.
QString textOf(const Values& form, const QString& name) {
  const QString t = form.text(name);
  return t.isEmpty() ? QStringLiteral("–") : esc(t);
}

// The selected item of a list in words ("brak wyboru" when none).
QString choiceOf(const Values& form, const QString& name) {
  const int i = form.index(name);
  return i >= 0 && i < static_cast<int>(std::size(kDrivenByItems)) ? esc(utf8(kDrivenByItems[i]))
                                                                  : QStringLiteral("brak wyboru");
}

// A threshold byte in its unit, as the window shows it.
QString sensorOf(const Values& form, const QString& name) {
  const SensorInfo* s = nullptr;
  for (const SensorInfo& info : sensorTable())
    if (name == QLatin1String(info.name)) s = &info;
  const QString v = sensorText(s->encoding, form.c.thresholds[s->byte]);
  switch (s->encoding) {
    case SensorEncoding::Degrees:
    case SensorEncoding::Correction: return esc(v) + QStringLiteral(" °C");
    case SensorEncoding::Percent: return esc(v) + QStringLiteral(" %");
    case SensorEncoding::Volts: return esc(v);
  }
  return esc(v);
}

QString secret(const Values& form, const QString& name, bool show) {
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
  QString h = heading(utf8(kInputsGroup)) + QString::fromLatin1(kTable);
  h += row({QStringLiteral("Wejście"), utf8(kActiveColumn), utf8(kInactiveColumn), QStringLiteral("Próg napięcia")}, true);
  for (std::size_t i = 0; i < std::size(kInputLabels); ++i) {
    const QString in = QStringLiteral("inputs[%1].").arg(i);
    h += row({utf8(kInputLabels[i]), textOf(form, in + "alarmText"), textOf(form, in + "normalText"), QStringLiteral("–")});
  }
  // The supplies: DC, then EX.
  for (std::size_t i = 0; i < std::size(kSupplyLabels); ++i) {
    const QString supply = QLatin1String(i == 0 ? "dc." : "ex.");
    h += row({utf8(kSupplyLabels[i]), textOf(form, supply + "alarmText"), textOf(form, supply + "normalText"),
              sensorOf(form, supply + "threshold")});
  }
  return h + QStringLiteral("</table>");
}

QString outputs(const Values& form) {
  QString h = heading(utf8(kOutputsGroup)) + QString::fromLatin1(kTable);
  h += row({QStringLiteral("Wyjście"), QStringLiteral("Słowo załączenia"), QStringLiteral("Słowo wyłączenia"),
            QStringLiteral("Styk"), QStringLiteral("Tryb"), QStringLiteral("Czas [s]"),
            QStringLiteral("Temperatura sterująca")},
           true);
  for (std::size_t i = 0; i < std::size(kOutputLabels); ++i) {
    const QString out = QStringLiteral("outputs[%1].").arg(i);
    const bool mono = form.checked(out + "monostable");
    h += row({utf8(kOutputLabels[i]), textOf(form, out + "onWord"), textOf(form, out + "offWord"),
              form.checked(out + "normallyClosed") ? QStringLiteral("NC") : QStringLiteral("NO"),
              mono ? QStringLiteral("monostabilny") : QStringLiteral("bistabilny"),
              mono ? textOf(form, out + "time") : QStringLiteral("–"), choiceOf(form, out + "drivenBy")});
  }
  const QString confirm = QStringLiteral("confirmation.enabled"), text = QStringLiteral("confirmation.text");
  h += QStringLiteral("</table><p>%1: %2").arg(esc(cap(confirm)), yesNo(form.checked(confirm)));
  if (form.checked(confirm)) h += QStringLiteral(", %1: %2").arg(esc(cap(text)), textOf(form, text));
  return h + QStringLiteral("</p>");
}

// One notification grid: an event a row, a telephone a column, X where that telephone is told.
QString matrixGrid(const Values& form, std::size_t page) {
  const Configuration::Matrix& m = form.c.matrix;
  const auto& told = page == 0 ? m.sms : m.voice;
  QString h = QStringLiteral("<b>%1</b>").arg(esc(utf8(kMatrixPages[page]))) + QString::fromLatin1(kTable) +
              QStringLiteral("<tr><th>Zdarzenie</th>");
  for (int tel = 1; tel <= 8; ++tel) h += QStringLiteral("<th>%1</th>").arg(tel);
  h += QStringLiteral("</tr>");
  for (std::size_t r = 0; r < told.size(); ++r) {
    h += QStringLiteral("<tr><td>%1</td>").arg(esc(utf8(kMatrixRowLabels[r])));
    for (std::size_t tel = 0; tel < 8; ++tel)
      h += QStringLiteral("<td align=\"center\">%1</td>").arg(told[r][tel] ? QStringLiteral("X") : QString());
    h += QStringLiteral("</tr>");
  }
  return h + QStringLiteral("</table>");
}

// The telephones beside the SMS and voice grids whose columns they number.
QString phonesAndMatrices(const Values& form) {
  QString phones = QStringLiteral("<b>%1</b>").arg(esc(utf8(kPhonesGroup))) + QString::fromLatin1(kTable) +
                   row({QStringLiteral("Nr"), QStringLiteral("Numer")}, true);
  for (int tel = 1; tel <= 8; ++tel) phones += row({QString::number(tel), textOf(form, QStringLiteral("telephones[%1]").arg(tel - 1))});
  phones += QStringLiteral("</table>");
  QString h = heading(QStringLiteral("Telefony i powiadomienia")) +
              QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\"><tr><td width=\"30%\">") + phones;
  for (std::size_t p = 0; p < std::size(kMatrixPages); ++p) h += QStringLiteral("</td><td width=\"35%\">") + matrixGrid(form, p);
  return h + QStringLiteral("</td></tr></table><p>X: telefon otrzymuje powiadomienie o zdarzeniu.</p>");
}

QString sensors(const Values& form) {
  QString h = heading(utf8(kSensorsGroup)) + QString::fromLatin1(kTable);
  h += row({QStringLiteral("Czujnik"), utf8(kSensorMin), utf8(kSensorMax), utf8(kSensorCorrection),
            utf8(kSensorDelay) + QLatin1Char(' ') + utf8(kSensorDelayUnit), QStringLiteral("SMS: ") + utf8(kSensorHigh),
            QStringLiteral("SMS: ") + utf8(kSensorNormal), QStringLiteral("SMS: ") + utf8(kSensorLow)},
           true);
  constexpr const char* kNames[] = {"t1", "t2", "t3", "humidity"};
  static_assert(std::size(kNames) == std::size(captions::kSensorPages));
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    const QString s = QStringLiteral("sensors.%1.").arg(QLatin1String(kNames[i]));
    const bool corrected = configFieldNamed(s + "correction") != nullptr;  // humidity has no correction
    h += row({esc(utf8(captions::kSensorPages[i].caption)), sensorOf(form, s + "min"), sensorOf(form, s + "max"),
              corrected ? sensorOf(form, s + "correction") : QStringLiteral("–"), textOf(form, s + "delay"),
              textOf(form, s + "highText"), textOf(form, s + "normalText"), textOf(form, s + "lowText")});
  }
  return h + QStringLiteral("</table>");
}

QString options(const Values& form, bool showSecrets) {
  QString h = heading(utf8(kDeviceGroup)) + QString::fromLatin1(kTable);
  auto line = [&](const QString& a, const QString& b) { h += row({esc(a), b}); };
  line(QStringLiteral("Hasło dostępu"), secret(form, QStringLiteral("password"), showSecrets));
  line(QStringLiteral("PIN karty SIM"), secret(form, QStringLiteral("pin"), showSecrets));
  // The operator as the window picks it from the SMS centre number.
  line(utf8(kOperatorCaption), esc(utf8(kOperatorNames[operatorIndexOf(form.c.smsCentre)])));
  line(cap(QStringLiteral("smsCentre")), textOf(form, QStringLiteral("smsCentre")));
  line(QStringLiteral("Dobowy limit SMS"), textOf(form, QStringLiteral("limits.sms")));
  line(QStringLiteral("Dobowy limit połączeń głosowych"), textOf(form, QStringLiteral("limits.voice")));
  for (const char* box : {"sendStateAtStart", "miniCa", "out1Siren"})
    line(cap(QLatin1String(box)), yesNo(form.checked(QLatin1String(box))));
  const QString autoTestOn = QStringLiteral("autoTest.enabled");
  QString autoTest = yesNo(form.checked(autoTestOn));
  if (form.checked(autoTestOn))
    autoTest += QStringLiteral(", co %1 h: %2")
                    .arg(textOf(form, QStringLiteral("autoTest.hours")), textOf(form, QStringLiteral("autoTest.text")));
  line(cap(autoTestOn), autoTest);
  line(cap(QStringLiteral("statusQuery.text")), textOf(form, QStringLiteral("statusQuery.text")));
  // The readings the reply includes, in the order of the boxes.
  const Configuration::Reply& r = form.c.reply;
  const bool replies[] = {r.t1, r.t2, r.t3, r.humidity, r.dc, r.ex, r.io};
  static_assert(std::size(replies) == std::size(kReplyLabels));
  QStringList reply;
  for (std::size_t i = 0; i < std::size(replies); ++i)
    if (replies[i]) reply << utf8(kReplyLabels[i]);
  line(utf8(kReplyCaption), reply.isEmpty() ? QStringLiteral("–") : esc(reply.join(QStringLiteral(", "))));
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
