// Every field the user can edit, taken from the catalogue, changed as a person changes it (mouse
// clicks, keys, the wheel, a list's pop-up) on the real window, uploaded to the simulated
// controller, and read back from it: the controller holds exactly the changes made and nothing
// else.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <map>
#include <set>

#include "model/params.h"
#include "exchange/transfer.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "support/uiapp.h"
#include "support/uiinput.h"
#include "ui/formview.h"
#include "ui/mainwindow.h"
#include "ui/widgets.h"

using namespace dovu;
using dovu::test::waitFor;

namespace {

// A field's value as the controller keeps it.
struct Value {
  QString text;
  bool checked = false;
  int index = -1;
  bool operator==(const Value&) const = default;
};

Value valueOf(const Form& f, Form::Id id) {
  const FieldState& s = f.state(id);
  switch (Form::def(id).kind) {
    case FieldKind::Check: return {{}, s.checked, -1};
    case FieldKind::Choice: return {{}, false, s.index};
    default: return {s.text, false, -1};
  }
}

// The fields the controller holds (the operator list is derived from the SMS centre).
std::vector<Form::Id> controllerFields() {
  std::vector<Form::Id> ids;
  for (Form::Id id = 0; id < static_cast<Form::Id>(Form::catalogue().size()); ++id)
    if (Form::def(id).sync != SyncColour::None) ids.push_back(id);
  return ids;
}

// How one row of the table changes its field.
enum class How { Type, Click, PopUp, Keys, TypeName, StepButton };

struct Row {
  Form::Id id;
  How how;
};

// One row per field the user can edit, three for a list (pop-up, Up/Down, typing its name).
std::vector<Row> tableFromCatalogue() {
  std::vector<Row> rows;
  for (Form::Id id = 0; id < static_cast<Form::Id>(Form::catalogue().size()); ++id) {
    const FieldDef& d = Form::def(id);
    if (d.sync == SyncColour::None && std::string_view(d.name) != "Combo_operator") continue;
    switch (d.kind) {
      case FieldKind::Text:
      case FieldKind::NoSpaceText:
      case FieldKind::Digits:
      case FieldKind::PhoneDigits: rows.push_back({id, How::Type}); break;
      case FieldKind::Check:
        rows.push_back({id, How::Click});
        // A box that enables another field twice, so that it is checked at one of the uploads
        // and the field it enables can be edited too.
        for (const char* enabling : {"BoxCA", "BoxPotw", "BoxAutoTest"})
          if (std::string_view(d.name) == enabling) rows.push_back({id, How::Click});
        break;
      case FieldKind::Choice:
        for (How h : {How::PopUp, How::Keys, How::TypeName}) rows.push_back({id, h});
        break;
      case FieldKind::Spin: rows.push_back({id, How::StepButton}); break;
      default: break;
    }
  }
  return rows;
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    test::uiApp("ui_catalogue_test");
    sim_ = std::make_unique<test::SimProcess>();
    ASSERT_TRUE(sim_->started());
    main_ = std::make_unique<ui::MainWindow>(
        std::make_unique<test::FixedPorts>(std::vector<PortEntry>{{sim_->port(), QStringLiteral("dovu-sim"), PortKind::Simulator}}),
        &notes_);
    main_->createDialogs();
    main_->show();
    main_->resize(main_->preferredSize());
    main_->activateWindow();
    ASSERT_TRUE(waitFor([this] { return main_->isActiveWindow(); }, 5000));
    QTest::mouseClick(widget<QPushButton>("Button_polacz"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] { return main_->form().text("Edit_logon") == "ZALOGOWANY"; }, 5000));
    // The toolbar's download button comes with the first live-state answer.
    ASSERT_TRUE(waitFor([this] { return widget("Icon_get")->isEnabled(); }, 5000));
    ASSERT_TRUE(transfer([this] { QTest::mouseClick(widget<QToolButton>("Icon_get"), Qt::LeftButton); }));
  }
  void TearDown() override {
    main_.reset();
    sim_.reset();
  }

  template <class T = QWidget>
  T* widget(const char* name) {
    return main_->findChild<T*>(QString::fromLatin1(name));
  }
  QWidget* widget(Form::Id id) { return widget(Form::def(id).name); }

  // Runs a transfer started by `press` to its end.
  bool transfer(const std::function<void()>& press) {
    bool done = false, ok = false;
    auto c = QObject::connect(&main_->transfer(), &ConfigTransfer::finished, [&](bool r) {
      done = true;
      ok = r;
    });
    press();
    const bool ended = waitFor([&] { return done; }, 30000);
    QObject::disconnect(c);
    return ended && ok;
  }

  // What the controller holds, read from its parameters the way a download reads them and shown
  // in a form of its own.
  std::unique_ptr<Form> controller() {
    auto f = std::make_unique<Form>();
    Configuration c = configurationOf(*f);
    for (const auto& [code, bytes] : sim_->dump())
      if (const ParamDef* p = code % 2 == 0 ? paramByCode(static_cast<std::uint8_t>(code)) : nullptr) decodeParameter(c, *p, bytes);
    showConfiguration(*f, c);
    return f;
  }

  // Brings the tab page that holds w to the front with a click on its tab.
  void showPageOf(QWidget* w) {
    for (QWidget* p = w; p; p = p->parentWidget()) {
      auto* stack = qobject_cast<QStackedWidget*>(p->parentWidget());
      auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
      if (!tabs || tabs->currentWidget() == p) continue;
      QTabBar* bar = tabs->tabBar();
      QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(tabs->indexOf(p)).center());
    }
  }

  // A text the field does not hold yet that its key filter, limit and exit check let through.
  static QString newText(Form::Id id, const QString& old, int n) {
    const FieldDef& d = Form::def(id);
    const std::string_view name = d.name;
    QString t;
    if (d.kind == FieldKind::Digits) {
      if (d.maxLength == 4) t = old == "4321" ? "1234" : "4321";
      else if (name.starts_with("EditT") || name == "EditWopu") t = QString::number(100 + n % 150);
      else t = QString::number(10 + n % 89);  // 1 .. 99
      if (t == old) t = QString::number(11 + n % 88);
    } else if (d.kind == FieldKind::PhoneDigits) {
      t = QStringLiteral("+486%1").arg(n, 8, 10, QLatin1Char('0'));
    } else {
      t = QStringLiteral("Zółć%1").arg(n);  // Windows-1250 letters beyond ASCII
    }
    return d.maxLength > 0 ? t.right(d.maxLength) : t;
  }

  // Makes the row's change with real input; returns the fields it changes in the window.
  void change(const Row& r, int n) {
    const FieldDef& d = Form::def(r.id);
    QWidget* w = widget(r.id);
    ASSERT_TRUE(w) << d.name;
    // Without a window manager nobody gives the window its activation back after the progress
    // dialog or a pop-up.
    if (!main_->isActiveWindow()) {
      main_->activateWindow();
      ASSERT_TRUE(waitFor([this] { return main_->isActiveWindow(); }, 3000));
    }
    showPageOf(w);
    const QString name = QString::fromUtf8(d.name);
    switch (r.how) {
      case How::Type: {
        auto* e = static_cast<QLineEdit*>(w);
        QTest::mouseClick(e, Qt::LeftButton, Qt::NoModifier, QPoint(4, e->height() / 2));
        ASSERT_TRUE(e->hasFocus()) << d.name;
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        test::typeText(e, newText(r.id, e->text(), n));
        QTest::keyClick(e, Qt::Key_Tab);
        break;
      }
      case How::Click: {
        auto* c = static_cast<QCheckBox*>(w);
        QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, QPoint(c->height() / 2, c->height() / 2));
        break;
      }
      case How::PopUp: {
        auto* c = static_cast<QComboBox*>(w);
        ASSERT_TRUE(test::pickInPopup(c, (c->currentIndex() + 2) % c->count())) << d.name;
        break;
      }
      case How::Keys: {
        auto* c = static_cast<QComboBox*>(w);
        c->setFocus(Qt::TabFocusReason);
        QTest::keyClick(c, c->currentIndex() + 1 < c->count() ? Qt::Key_Down : Qt::Key_Up);
        break;
      }
      case How::TypeName: {
        auto* c = static_cast<QComboBox*>(w);
        c->setFocus(Qt::TabFocusReason);
        QTest::keyClick(c, Qt::Key_A, Qt::ControlModifier);
        test::typeText(c, c->itemText((c->currentIndex() + 3) % c->count()));
        QTest::keyClick(c, Qt::Key_Tab);
        break;
      }
      case How::StepButton: {
        auto* pair = widget<ui::SpinPair>(spinButtonOf(*sensorByField(d.name)));
        // Up unless the value sits at its upper limit.
        const QString before = main_->form().text(d.name);
        QTest::mouseClick(pair->upButton(), Qt::LeftButton);
        if (main_->form().text(d.name) == before) QTest::mouseClick(pair->downButton(), Qt::LeftButton);
        break;
      }
    }
    Q_UNUSED(name);
  }

  test::RecordingNotifier notes_;
  std::unique_ptr<test::SimProcess> sim_;
  std::unique_ptr<ui::MainWindow> main_;
};

TEST_F(Catalogue, EveryEditableFieldReachesTheControllerThroughRealInput) {
  const std::vector<Row> table = tableFromCatalogue();
  const std::vector<Form::Id> held = controllerFields();
  Form& form = main_->form();
  std::map<FieldKind, std::set<Form::Id>> covered;

  // Rows whose field cannot be edited yet (its option box is clear) wait for a later upload.
  std::vector<Row> pending = table;
  int n = 0;
  for (int upload = 0; !pending.empty(); ++upload) {
    if (upload >= 20) {
      for (const Row& r : pending) ADD_FAILURE() << Form::def(r.id).name << " never became editable";
      return;
    }
    std::map<Form::Id, Value> before;
    for (Form::Id id : held) before[id] = valueOf(form, id);
    // Each upload carries changes to distinct fields, so that every one is seen on its own.
    std::set<Form::Id> inBatch;
    std::vector<Row> later;
    for (const Row& r : pending) {
      QWidget* w = widget(r.id);
      const bool disabledForGood = !Form::def(r.id).defaultEnabled && !w->isEnabled() &&
                                   Form::def(r.id).kind == FieldKind::Check && std::string_view(Form::def(r.id).name) != "BoxOut1sygn";
      if (disabledForGood) continue;  // the voice cells of the sensor rows: no user can click them
      if (inBatch.count(r.id) || !w->isEnabled() || inBatch.size() >= 60) {
        later.push_back(r);
        continue;
      }
      inBatch.insert(r.id);
      SCOPED_TRACE(Form::def(r.id).name);
      change(r, n++);
      covered[Form::def(r.id).kind].insert(r.id);
      if (HasFatalFailure()) return;
    }
    pending = std::move(later);

    // The window shows exactly the batch's changes (the operator also its SMS centre).
    std::set<Form::Id> changed;
    for (Form::Id id : held)
      if (valueOf(form, id) != before[id]) changed.insert(id);
    std::set<Form::Id> expected;
    for (Form::Id id : inBatch)
      if (std::string_view(Form::def(id).name) == "Combo_operator") expected.insert(Form::idOf("Edit_operator"));
      else expected.insert(id);
    // Clearing the mini CA mode clears its siren output as well.
    const Form::Id ca = Form::idOf("BoxCA"), siren = Form::idOf("BoxOut1sygn");
    if (inBatch.count(ca) && !form.checked("BoxCA") && before[siren].checked) expected.insert(siren);
    for (Form::Id id : expected) EXPECT_TRUE(changed.count(id)) << Form::def(id).name << " did not change";
    for (Form::Id id : changed) EXPECT_TRUE(expected.count(id)) << Form::def(id).name << " changed as well";

    ASSERT_TRUE(transfer([this] { QTest::mouseClick(widget<QToolButton>("Icon_put"), Qt::LeftButton); }));
    const std::unique_ptr<Form> read = controller();
    const Form& device = *read;
    for (Form::Id id : held) {
      EXPECT_TRUE(valueOf(device, id) == valueOf(form, id))
          << Form::def(id).name << ": controller " << valueOf(device, id).text.toStdString() << "/"
          << valueOf(device, id).checked << "/" << valueOf(device, id).index << ", window "
          << valueOf(form, id).text.toStdString() << "/" << valueOf(form, id).checked << "/" << valueOf(form, id).index;
      EXPECT_NE(form.colour(Form::def(id).name), kRed) << Form::def(id).name << " stays red after the upload";
    }
  }
  EXPECT_TRUE(notes_.events.empty()) << notes_.texts().join(u'/').toStdString();

  // Every editable field was changed: texts, digits, numbers, lists, check boxes, matrix cells
  // and thresholds.
  std::size_t fields = 0;
  for (const auto& [kind, ids] : covered) fields += ids.size();
  EXPECT_EQ(fields, 271u - 32u + 1u);  // less the 32 voice cells no user can click, plus the operator
  EXPECT_EQ(covered[FieldKind::Choice].size(), 5u);
  EXPECT_EQ(covered[FieldKind::Spin].size(), 13u);
  EXPECT_EQ(covered[FieldKind::Check].size(), 196u - 32u);
}

}  // namespace
