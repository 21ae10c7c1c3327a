#include "ui/form.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "model/cp1250.h"
#include "model/params.h"
#include "ui/formview.h"

namespace dovu {
namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool is(const FieldDef& d, const char* name) { return std::string_view(d.name) == name; }

// The span one edit changed: `after` keeps the first `prefix` and the last `suffix` characters of
// `before`, and what lies between them in `after` is what was inserted.  The cursor stands just
// after the inserted characters, so the suffix never reaches in front of it: a character typed
// beside an equal one counts as inserted where the user put it.  A text replaced as a whole (set
// through the accessibility interface, say) leaves the cursor at its end wherever the insertion
// was; then the split that keeps the most of `before` counts.
struct Span {
  qsizetype prefix = 0;
  qsizetype suffix = 0;
};

Span splitAt(const QString& before, const QString& after, qsizetype suffixCap) {
  const qsizetype shorter = std::min(before.size(), after.size());
  Span s;
  while (s.suffix < std::min(suffixCap, shorter) &&
         before[before.size() - 1 - s.suffix] == after[after.size() - 1 - s.suffix])
    ++s.suffix;
  while (s.prefix < shorter - s.suffix && before[s.prefix] == after[s.prefix]) ++s.prefix;
  return s;
}

Span changedSpan(const QString& before, const QString& after, qsizetype cursor) {
  const Span free = splitAt(before, after, after.size());
  if (cursor < 0 || cursor > after.size()) return free;
  const Span atCursor = splitAt(before, after, after.size() - cursor);
  return atCursor.prefix + atCursor.suffix >= free.prefix + free.suffix ? atCursor : free;
}

// Drops the characters Windows-1250 cannot hold from what an edit inserted; the rest of the text
// is left as it was.
QString keepEncodable(const QString& before, const QString& after) {
  const Span s = changedSpan(before, after, -1);
  const qsizetype inserted = after.size() - s.prefix - s.suffix;
  if (inserted <= 0) return after;
  QString out = after.left(s.prefix);
  for (QChar c : QStringView(after).mid(s.prefix, inserted))
    if (inCp1250(c)) out.append(c);
  out.append(QStringView(after).right(s.suffix));
  return out;
}

// IN2..IN5 swap their colour pair in mini CA mode; IN1 never does.
constexpr const char* kCaInputs[] = {"Edit_IN2A", "Edit_IN3A", "Edit_IN4A", "Edit_IN5A",
                                     "Edit_IN2N", "Edit_IN3N", "Edit_IN4N", "Edit_IN5N"};

}  // namespace

Form::Form() {
  const auto& defs = catalogue();
  state_.resize(defs.size());
  for (std::size_t i = 0; i < defs.size(); ++i) {
    const FieldDef& d = defs[i];
    FieldState& s = state_[i];
    s.text = QString::fromUtf8(d.defaultText);
    s.checked = d.defaultChecked;
    s.index = d.defaultIndex;
    s.enabled = d.defaultEnabled;
    s.visible = d.defaultVisible;
    s.colour = d.base;  // every field starts in its group colour
    s.textColour = d.defaultTextColour;
  }
  // The thresholds are drawn from their bytes, never from a default text, then shown as agreed.
  sensors_ = SensorSettings::defaults();
  showAllSensors();
  for (const SensorInfo& s : sensorTable()) setColour(must(displayFieldOf(s)), kWindowColour);
  // Until something is read, the defaults are the assumption the red is drawn against.
  for (Id id : configurationFieldIds()) setConfigValue(held_, *configFieldOf(id), currentValue(id));
}

const ConfigField* Form::configFieldOf(Id id) {
  static const std::vector<const ConfigField*> fields = [] {
    std::vector<const ConfigField*> t(catalogue().size(), nullptr);
    for (const ConfigField& f : configFields())
      if (const Id field = idOf(widgetNameOf(f)); field != kNoField) t[static_cast<std::size_t>(field)] = &f;
    return t;
  }();
  return id >= 0 && static_cast<std::size_t>(id) < fields.size() ? fields[static_cast<std::size_t>(id)] : nullptr;
}

bool Form::markable(Id id) {
  static const std::vector<bool> table = [] {
    std::vector<bool> t(catalogue().size(), false);
    for (Id f : configurationFieldIds()) t[static_cast<std::size_t>(f)] = catalogue()[static_cast<std::size_t>(f)].marker != Marker::None;
    return t;
  }();
  return id >= 0 && static_cast<std::size_t>(id) < table.size() && table[static_cast<std::size_t>(id)];
}

ConfigValue Form::currentValue(Id id) const {
  const FieldState& s = state(id);
  switch (configFieldOf(id)->type) {
    case ConfigFieldType::Text: return s.text;
    case ConfigFieldType::Number: return parseNumber(s.text);
    case ConfigFieldType::Choice: return s.index;
    case ConfigFieldType::Flag: return s.checked;
    case ConfigFieldType::Byte: return static_cast<int>(sensors_[sensorNamed(configFieldOf(id)->name)->byte]);
  }
  return {};
}

bool Form::differs(Id id) const {
  if (!markable(id)) return false;
  return differsForController(held_, *configFieldOf(id), currentValue(id));
}

void Form::refreshMark(Id id) {
  if (!markable(id)) return;
  if (differs(id)) setColour(id, kRed);
  else if (state(id).colour == kRed) setColour(id, syncColour(id));
}

void Form::markHeld(Id id) {
  if (!markable(id)) {
    // A field that never turns red (the voice rows T3 and W) still takes its agreed colour.
    if (def(id).sync != SyncColour::None) setColour(id, syncColour(id));
    return;
  }
  setConfigValue(held_, *configFieldOf(id), currentValue(id));
  setColour(id, syncColour(id));  // agreed: the field's own colour
}

void Form::markHeld(const std::vector<Id>& ids) {
  for (Id id : ids) markHeld(id);
}

void Form::markHeld(const std::vector<Id>& ids, const Configuration& held) {
  for (Id id : ids) {
    if (!markable(id)) {
      markHeld(id);
      continue;
    }
    const ConfigField& f = *configFieldOf(id);
    setConfigValue(held_, f, configValue(held, f));
    // The window may show another value by now (edited while the upload ran): that one is red.
    setColour(id, differs(id) ? kRed : syncColour(id));
  }
}

void Form::setControllerKnown(bool known) {
  if (controllerKnown_ == known) return;
  controllerKnown_ = known;
  emit knownChanged(known);
}

void Form::restoreHeld(const Held& h) {
  held_ = h.values;
  for (Id id : configurationFieldIds()) refreshMark(id);
  setControllerKnown(h.known);
}

Form::Id Form::must(std::string_view name) const {
  const Id id = idOf(name);
  if (id == kNoField) throw std::invalid_argument("unknown field: " + std::string(name));
  return id;
}

// ---- program changes -------------------------------------------------------------------------

void Form::setText(std::string_view name, const QString& text) { setText(must(name), text); }
void Form::setChecked(std::string_view name, bool on) { setChecked(must(name), on); }
void Form::setIndex(std::string_view name, int index) { setIndex(must(name), index); }
void Form::setValue(std::string_view name, int value) { setValue(must(name), value); }
void Form::setEnabled(std::string_view name, bool on) { setEnabled(must(name), on); }
void Form::setVisible(std::string_view name, bool on) { setVisible(must(name), on); }
void Form::setColour(std::string_view name, Colour c) { setColour(must(name), c); }
void Form::setTextColour(std::string_view name, Colour c) { setTextColour(must(name), c); }

template <class T>
bool Form::store(Id id, T FieldState::*member, const T& value) {
  T& slot = state_.at(static_cast<std::size_t>(id)).*member;
  if (slot == value) return false;
  slot = value;
  emit changed(id);
  return true;
}

void Form::setText(Id id, const QString& text) {
  state_.at(static_cast<std::size_t>(id)).edited = false;
  if (store(id, &FieldState::text, text)) refreshMark(id);
}

void Form::setChecked(Id id, bool on) {
  if (store(id, &FieldState::checked, on)) onCheckChanged(id);
}

void Form::setIndex(Id id, int index) {
  const FieldDef& d = def(id);
  FieldState& s = state_.at(static_cast<std::size_t>(id));
  // An index beyond the list leaves it without a selection.
  if (index < 0 || index >= d.itemCount) index = -1;
  s.edited = false;
  // Selecting the entry already selected still replaces text the user typed over it.
  const QString item = index >= 0 ? QString::fromUtf8(d.itemList[index]) : QString();
  if (s.index == index && (index < 0 || s.text == item)) return;
  s.index = index;
  s.text = item;
  emit changed(id);
  refreshMark(id);
}

void Form::setValue(Id id, int value) {
  const FieldDef& d = def(id);
  if (d.kind == FieldKind::Gauge) value = std::clamp(value, 0, d.maxValue);
  store(id, &FieldState::value, value);
}

void Form::setEnabled(Id id, bool on) { store(id, &FieldState::enabled, on); }
void Form::setVisible(Id id, bool on) { store(id, &FieldState::visible, on); }
void Form::setColour(Id id, Colour c) { store(id, &FieldState::colour, c); }
void Form::setTextColour(Id id, Colour c) { store(id, &FieldState::textColour, c); }

// ---- rules fired by changes --------------------------------------------------------------------

void Form::onCheckChanged(Id id) {
  const FieldDef& d = def(id);
  const bool on = state(id).checked;
  refreshMark(id);
  if (is(d, "BoxCA")) {
    // Swaps the colour pair of the inputs (a red mark stays: it still differs).
    for (const char* name : kCaInputs) {
      const Id input = must(name);
      if (state(input).colour != kRed) setColour(input, syncColour(input));
    }
    const Id sygn = must("BoxOut1sygn");
    setEnabled(sygn, on);
    if (!on) setChecked(sygn, false);
  } else if (is(d, "BoxPotw") || is(d, "BoxAutoTest")) {
    setEnabled(is(d, "BoxPotw") ? "EditPotw" : "EditAutotest", on);
  }
}

Form::Values Form::values(const std::vector<Id>& ids) const {
  Values v{{}, sensors_, configurationReceived_};
  for (Id id : ids) v.fields.emplace_back(id, state(id));
  return v;
}

void Form::restore(const Values& v) {
  for (const auto& [id, st] : v.fields) {
    store(id, &FieldState::text, st.text);
    store(id, &FieldState::checked, st.checked);
    store(id, &FieldState::index, st.index);
    store(id, &FieldState::value, st.value);
    store(id, &FieldState::textColour, st.textColour);
    state_.at(static_cast<std::size_t>(id)).edited = st.edited;
  }
  sensors_ = v.sensors;
  configurationReceived_ = v.configurationReceived;
  // The red is drawn afresh; a field that agrees takes back the colour it had.
  for (const auto& [id, st] : v.fields) {
    if (markable(id) && differs(id)) store(id, &FieldState::colour, kRed);
    else if (markable(id) && st.colour == kRed) store(id, &FieldState::colour, syncColour(id));
    else store(id, &FieldState::colour, st.colour);
  }
  // A field that a check box enables follows the box put back.
  for (const auto& [box, field] : {std::pair{"BoxCA", "BoxOut1sygn"}, {"BoxPotw", "EditPotw"}, {"BoxAutoTest", "EditAutotest"}})
    setEnabled(field, checked(box));
}

void Form::setSmsCentre(const QString& number) {
  setText("Edit_operator", number);
  setIndex("Combo_operator", operatorIndexOf(number));
}

bool Form::hasUnsentEdits() const {
  for (Id id : configurationFieldIds())
    if (differs(id)) return true;
  return false;
}

Colour Form::syncColour(Id id) const {
  const bool ca = state("BoxCA").checked;
  switch (def(id).sync) {
    case SyncColour::None: return state(id).colour;
    case SyncColour::Base: return def(id).base;
    case SyncColour::Window: return kWindowColour;
    case SyncColour::InputN: return ca ? kOrange : kGreen;
    case SyncColour::InputA: return ca ? kGreen : kOrange;
  }
  return state(id).colour;
}


// ---- user actions ------------------------------------------------------------------------------

void Form::userEdited(Id id, const QString& text) {
  const FieldDef& d = def(id);
  if (!state(id).enabled) return;
  switch (d.kind) {
    case FieldKind::Text:
    case FieldKind::NoSpaceText:
    case FieldKind::Digits:
    case FieldKind::PhoneDigits: {
      const QString t = keepEncodable(state(id).text, text);
      if (t == state(id).text) break;
      setText(id, t);
      state_.at(static_cast<std::size_t>(id)).edited = true;
      break;
    }
    case FieldKind::Choice: {
      // Typed text is only shown: the selection, the value that counts, changes when the user
      // picks an item, so typing neither selects nor marks.
      FieldState& s = state_.at(static_cast<std::size_t>(id));
      const QString t = keepEncodable(s.text, text);
      if (s.text != t) {
        s.text = t;
        s.edited = true;
        emit changed(id);
      }
      break;
    }
    default:
      break;  // read-only
  }
}

void Form::userToggled(Id id, bool on) {
  if (def(id).kind != FieldKind::Check || !state(id).enabled) return;
  setChecked(id, on);
}

void Form::userPicked(Id id, int index) {
  const FieldDef& d = def(id);
  if (d.kind != FieldKind::Choice || !state(id).enabled) return;
  setIndex(id, index);
  // An operator picked by keys, the wheel or its typed name brings its number as the closing of
  // the drop-down does, so the list never shows one operator while the other number is sent.
  if (is(d, "Combo_operator")) operatorCloseUp();
}

void Form::userExit(Id id) {
  const FieldDef& d = def(id);
  FieldState& s = state_.at(static_cast<std::size_t>(id));
  // A value from the controller or a file is kept as it came, even where typing could not make it.
  if (!s.edited) return;
  const QString t = s.text;
  const std::string_view name = d.name;
  if (d.kind == FieldKind::Choice) {
    // What is shown must be what counts: the typed name of an item picks it, anything else
    // returns to the selected item (or to the text of no selection).
    s.edited = false;
    const int match = static_cast<int>(items(id).indexOf(t));
    if (match >= 0 && match != s.index) {
      userPicked(id, match);
    } else if (match < 0) {
      s.text = s.index >= 0 ? QString::fromUtf8(d.itemList[s.index]) : QString::fromUtf8(d.defaultText);
      if (s.text != t) emit changed(id);
    }
    return;
  }

  auto startsWith = [&](std::string_view p) { return name.substr(0, p.size()) == p; };

  if (name == "Edit_haslo" || name == "Edit_pin") {
    // A short password or PIN returns to the field's default.
    if (t.size() < 4) setText(id, QString::fromUtf8(d.defaultText));
  } else if (name == "Edit_LimitSMS" || name == "Edit_LimitVoice") {
    if (t.isEmpty()) setText(id, QStringLiteral("0"));
  } else if ((startsWith("Out") && name.ends_with("Czas")) || name == "IleTest") {
    // 1..99; a text that is no number at all is repaired like an empty one.
    if (parseNumber(t) <= 0) setText(id, QStringLiteral("1"));
  } else if ((startsWith("EditT") && name.ends_with("opu")) || name == "EditWopu") {
    const int v = parseNumber(t);
    if (t.isEmpty() || v < 0) setText(id, QStringLiteral("0"));
    else if (v > 254) setText(id, QStringLiteral("254"));
  }
}

void Form::operatorCloseUp() {
  const int i = index("Combo_operator");
  if (i < 0) return;  // typed text, nothing picked
  setText("Edit_operator", operatorNumber(i));
}

void Form::spinUp(std::string_view spinButton) { spin(spinButton, stepUp); }

void Form::spinDown(std::string_view spinButton) { spin(spinButton, stepDown); }

void Form::spin(std::string_view spinButton, std::uint8_t (*step)(SensorEncoding, std::uint8_t)) {
  const SensorInfo* s = sensorBySpin(std::string(spinButton).c_str());
  if (!s) throw std::invalid_argument("unknown step button: " + std::string(spinButton));
  sensors_[s->byte] = step(s->encoding, sensors_[s->byte]);
  showSensor(s->byte);
  refreshMark(must(displayFieldOf(*s)));
}

// ---- key filters -------------------------------------------------------------------------------

bool Form::acceptsChar(Id id, QChar c) const {
  // Enter and Backspace are editing keys every field lets through.
  if (c == u'\r' || c == u'\b') return true;
  switch (def(id).kind) {
    case FieldKind::Digits: return takesChar(TextChars::Digits, c);
    case FieldKind::PhoneDigits: return takesChar(TextChars::Phone, c);
    case FieldKind::NoSpaceText: return takesChar(TextChars::NoSpace, c);
    case FieldKind::Text:
    case FieldKind::Choice: return takesChar(TextChars::Any, c);
    default: return false;
  }
}

Form::Edit Form::filterEdit(Id id, const QString& before, const QString& after, int cursor) const {
  const Span s = changedSpan(before, after, cursor);
  const qsizetype insertedLength = after.size() - s.prefix - s.suffix;
  if (insertedLength <= 0) return {true, after, cursor};  // a deletion, or no change at all
  QString inserted;
  for (QChar c : QStringView(after).mid(s.prefix, insertedLength))
    if (c != u'\r' && c != u'\b' && acceptsChar(id, c)) inserted.append(c);  // keys, not text
  // Room is what the limit leaves beside the characters kept from before; a text that is already
  // at or over the limit takes nothing more, but loses nothing either.
  const int limit = def(id).maxLength;
  if (limit > 0) inserted.truncate(std::max<qsizetype>(0, limit - (s.prefix + s.suffix)));
  if (inserted.isEmpty()) return {};
  Edit e;
  e.accepted = true;
  e.text = after.left(s.prefix) + inserted + after.right(s.suffix);
  e.cursor = static_cast<int>(s.prefix + inserted.size());
  return e;
}

// ---- editing and sensors -----------------------------------------------------------------------

void Form::commitEditing() {
  if (editing_ != kNoField) userExit(editing_);
}

void Form::setSensor(SensorByte b, std::uint8_t v) { sensors_[b] = v; }

void Form::showSensor(SensorByte b) {
  const SensorInfo& s = sensorTable()[static_cast<std::size_t>(b)];
  setText(displayFieldOf(s), sensorText(s.encoding, sensors_[b]));
  refreshMark(must(displayFieldOf(s)));
}

void Form::showAllSensors() {
  using B = SensorByte;
  for (B b : {B::T1Min, B::T1Max, B::T2Min, B::T2Max, B::T3Min, B::T3Max, B::T1Korekta,
              B::T2Korekta, B::T3Korekta, B::ACnap, B::DCnap, B::WMin, B::WMax})
    showSensor(b);
}

int Form::number(std::string_view name) const { return parseNumber(text(name)); }

int Form::parseNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 9) return -1;
  int v = 0;
  for (QChar c : text) {
    if (!isDigit(c)) return -1;
    v = v * 10 + (c.unicode() - u'0');
  }
  return v;
}

}  // namespace dovu
