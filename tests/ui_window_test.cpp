// The main window without a controller: fields found by name, defaults and colours at start, the
// step buttons, key filters for typed and pasted text, exit checks, change markers, the option
// boxes, the operator choice, the port list, the dialogs, and undo and redo.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QScrollBar>
#include <QScrollArea>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>

#include "ui/formview.h"
#include "ui/form.h"
#include "support/formsnapshot.h"
#include "support/formfiles.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "support/uiinput.h"
#include "support/uiapp.h"
#include "storage/backupstore.h"
#include "storage/configfile.h"
#include "ui/application.h"
#include "ui/configfileui.h"
#include "ui/dialogs.h"
#include "ui/jpeg.h"
#include "ui/mainwindow.h"
#include "ui/widgets.h"

using namespace dovu;
using dovu::test::waitFor;

namespace uitest {
// Receives the web address the About dialog asks the desktop to open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& u) { opened = u; }

 public:
  QUrl opened;
};
}  // namespace uitest

namespace uitest {
// Records the windows shown while it is installed.
class ShownWindows : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show && o->isWidgetType() && static_cast<QWidget*>(o)->isWindow())
      names << o->objectName();
    return false;
  }
  QStringList names;
};
}  // namespace uitest

namespace {

QColor rgb(Colour c) { return QColor::fromRgb(static_cast<QRgb>(c)); }

void type(QWidget* w, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(w, &press);
  }
}

void key(QWidget* w, int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, k, mods);
  QApplication::sendEvent(w, &press);
}

// The share of a widget's drawn pixels that are close to colour c.
double drawnShare(QWidget* w, const QColor& c) {
  const QImage image = w->grab().toImage();
  qsizetype near = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor p = image.pixelColor(x, y);
      if (std::abs(p.red() - c.red()) + std::abs(p.green() - c.green()) + std::abs(p.blue() - c.blue()) < 60) ++near;
    }
  return image.isNull() ? 0.0 : static_cast<double>(near) / static_cast<double>(image.width() * image.height());
}

// Ctrl+Z / Ctrl+Shift+Z where the focus is, as the keyboard sends them.
void pressUndo() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier); }
void pressRedo() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); }

// Runs `inside` once the modal dialog opened by `open` is up, then closes it.
QString runModal(const std::function<void()>& open, const std::function<void(QDialog*)>& inside) {
  QString seen;
  QTimer::singleShot(0, [&] {
    waitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d) return;
    seen = d->objectName();
    inside(d);
    if (d->isVisible()) d->reject();
  });
  open();
  return seen;
}

class Window : public ::testing::Test {
 protected:
  void SetUp() override { start({{QStringLiteral("/dev/ttyS3"), QStringLiteral("ttyS3 (serial)")}}); }

  void start(std::vector<PortEntry> ports) {
    test::uiApp("ui_window_test");
    main_.reset();
    main_ = std::make_unique<ui::MainWindow>(std::make_unique<test::FixedPorts>(std::move(ports)), &notes_);
    main_->createDialogs();
    main_->show();
    main_->activateWindow();
    ASSERT_TRUE(waitFor([this] { return main_->isActiveWindow(); }, 5000));
  }

  template <class T = QWidget>
  T* find(const char* name) {
    auto* w = main_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(w) << name;
    return w;
  }
  QColor base(const char* name) { return find(name)->palette().color(QPalette::Base); }
  // The colour a widget fills its background with.
  QColor face(const char* name) {
    QWidget* w = find(name);
    return w->palette().color(w->backgroundRole());
  }
  QString text(const char* name) { return find<QLineEdit>(name)->text(); }
  Form& form() { return main_->form(); }
  // Moves the focus into a field as the Tab key would.
  void enter(const char* name) {
    QWidget* w = find(name);
    w->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(w->hasFocus()) << name;
  }
  void leave() { find("JakiStan")->setFocus(Qt::TabFocusReason); }

  test::RecordingNotifier notes_;
  std::unique_ptr<ui::MainWindow> main_;
};

TEST_F(Window, EveryEntryHasANamedWidgetWithAnAccessibleName) {
  EXPECT_EQ(main_->objectName(), "TMain");
  EXPECT_EQ(main_->windowTitle(), "DOVU Konfigurator v 1.42");
  for (const FieldDef& d : Form::catalogue()) {
    QObject* o = main_->findChild<QObject*>(QString::fromUtf8(d.name));
    ASSERT_TRUE(o) << d.name;
    if (auto* w = qobject_cast<QWidget*>(o); w && d.kind != FieldKind::Container) {
      EXPECT_FALSE(w->accessibleName().isEmpty()) << d.name;
    }
  }
  const QRegularExpression cell(QStringLiteral("^Box(IN[1-5]|T[123]|W|AC|DC)[TS][1-8]$"));
  EXPECT_EQ(main_->findChildren<QCheckBox*>(cell).size(), 176);
  for (const char* n : {"PanelKomunikacji", "Label_haslo", "ComCombo", "GroupBox1", "GroupBox2", "GroupBox3",
                        "GroupBox4", "GroupBox5", "GroupBox6", "GroupBox7", "GroupBox9", "TabSMSVoice",
                        "TabSheet1", "TabSheet2", "PageControl1", "TabSheet3", "TabSheet6"})
    EXPECT_TRUE(main_->findChild<QWidget*>(QString::fromLatin1(n))) << n;
}

// On a window system every window shown costs round trips: the fields, made before their place
// in the window, must not be shown as windows of their own on the way (that made the start on X
// several times slower than a bare window's).
TEST_F(Window, StartingShowsNoWindowButTheMainOne) {
  main_.reset();
  uitest::ShownWindows shown;
  qApp->installEventFilter(&shown);
  start({{QStringLiteral("/dev/ttyS3"), QStringLiteral("ttyS3 (serial)")}});
  qApp->removeEventFilter(&shown);
  EXPECT_EQ(shown.names, QStringList{"TMain"});
}

// A 1366 x 768 laptop screen (less a title bar and a panel) shows the whole window without a
// scroll bar, the "Stan" panel drawn inside it, also while the port list is empty and says so.
TEST_F(Window, TheWholeWindowFitsALaptopScreen) {
  for (bool ports : {true, false}) {
    SCOPED_TRACE(ports ? "with ports" : "without ports");
    if (!ports) start({});
    const QSize size = main_->preferredSize();
    EXPECT_LE(size.width(), 1366);
    EXPECT_LE(size.height(), 768 - 70);
    main_->resize(size);
    auto* scroll = find<QScrollArea>("FormScroll");
    ASSERT_TRUE(waitFor([&] { return scroll->viewport()->size() == scroll->widget()->size(); }, 3000))
        << "a scroll bar takes room";
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    // Drawn: the grey readouts of the "Stan" panel's last row are inside the window's picture.
    const QImage shot = main_->grab().toImage();
    QWidget* state = find("GroupBox6");
    EXPECT_TRUE(QRect(QPoint(0, 0), shot.size()).contains(QRect(state->mapTo(main_.get(), QPoint(0, 0)), state->size())));
    for (const char* readout : {"Temp1", "Uac"}) {
      QWidget* r = find(readout);
      const QPoint centre = r->mapTo(main_.get(), r->rect().center());
      ASSERT_TRUE(shot.rect().contains(centre)) << readout;
      EXPECT_EQ(shot.pixelColor(centre), rgb(kGrey)) << readout;
    }
  }
}

// Tab runs through every field once (the notification matrix is one stop), without a stop that
// shows nothing; on a 1024 x 768 screen the window scrolls to whatever has the focus.  In the
// matrix the arrow keys move between the enabled cells and Space toggles one.
TEST_F(Window, KeyboardReachesEveryFieldOnASmallScreen) {
  main_->resize(1008, 700);
  auto* scroll = find<QScrollArea>("FormScroll");
  QWidget* first = find("SpeedButton2");
  first->setFocus(Qt::TabFocusReason);
  QStringList chain;
  for (int i = 0; i < 200; ++i) {
    QWidget* f = QApplication::focusWidget();
    ASSERT_TRUE(f && f->isVisible() && !f->objectName().isEmpty()) << chain.join(u' ').toStdString();
    chain << f->objectName();
    if (f->window() == main_.get() && !scroll->widget()->isAncestorOf(f)) {
      // Above the form (the connection panel): always whole in the window.
      EXPECT_TRUE(main_->rect().contains(QRect(f->mapTo(main_.get(), QPoint(0, 0)), f->size()))) << f->objectName().toStdString();
    } else if (f->window() == main_.get()) {
      const QRect at(f->mapTo(scroll->viewport(), QPoint(0, 0)), f->size());
      // Whole, or (a wide text field) its start where the cursor stands, as the scroll area shows it.
      const QRect shown = scroll->viewport()->rect().intersected(at);
      EXPECT_TRUE(shown.height() == at.height() && shown.left() == at.left() && shown.width() >= std::min(at.width(), 100))
          << f->objectName().toStdString();
    }
    QTest::keyClick(f, Qt::Key_Tab);
    if (QApplication::focusWidget() == first) break;
  }
  EXPECT_EQ(QApplication::focusWidget(), first) << "the chain comes round";
  const QRegularExpression cell(QStringLiteral("^Box(IN[1-5]|T[123]|W|AC|DC)[TS][1-8]$"));
  EXPECT_EQ(chain.filter(cell), QStringList{"BoxIN1T1"});
  EXPECT_FALSE(chain.contains("FormScroll"));
  for (const FieldDef& d : Form::catalogue()) {
    auto* w = main_->findChild<QWidget*>(QString::fromUtf8(d.name));
    const bool editable = d.kind == FieldKind::Text || d.kind == FieldKind::NoSpaceText || d.kind == FieldKind::Digits ||
                          d.kind == FieldKind::PhoneDigits || d.kind == FieldKind::Choice || d.kind == FieldKind::Spin ||
                          d.kind == FieldKind::Check;
    if (!editable || !w->isVisible() || !w->isEnabled() || cell.match(QString::fromUtf8(d.name)).hasMatch()) continue;
    EXPECT_TRUE(chain.contains(QString::fromUtf8(d.name))) << d.name;
  }

  auto* start = find<QCheckBox>("BoxIN1T1");
  start->setFocus(Qt::TabFocusReason);
  QTest::keyClick(start, Qt::Key_Left);  // the edge stops
  EXPECT_TRUE(start->hasFocus());
  QTest::keyClick(start, Qt::Key_Right);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "BoxIN2T2");
  EXPECT_TRUE(form().checked("BoxIN2T2"));
  EXPECT_EQ(form().colour("BoxIN2T2"), kRed);
  // The cell last used is the matrix's Tab stop; Shift+Tab from the next field comes back to it.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "BoxIN2T2");
  // On the voice page Down from IN5 passes the disabled rows T1 .. Wil. to EX.
  find<QTabWidget>("TabSMSVoice")->setCurrentIndex(1);
  auto* in5 = find<QCheckBox>("BoxIN5S3");
  in5->setFocus(Qt::TabFocusReason);
  QTest::keyClick(in5, Qt::Key_Down);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "BoxACS3");
}

TEST_F(Window, StartsWithDefaultsBaseColoursAndDisconnectedControls) {
  EXPECT_EQ(text("Edit_T1Min"), "+2");
  EXPECT_EQ(text("Edit_T1Max"), "+8");
  EXPECT_EQ(text("Edit_WMax"), "80");
  EXPECT_EQ(text("Edit_ACnap"), "15,0V");
  EXPECT_EQ(text("Edit_DCnap"), "10,5V");
  EXPECT_EQ(text("Edit_T3Korekta"), "+0,0");
  EXPECT_EQ(text("Edit_haslo"), "8617");
  EXPECT_EQ(text("Edit_operator"), "+48501200777");
  EXPECT_EQ(text("IleTest"), "24");
  EXPECT_EQ(text("Out1Czas"), "5");
  EXPECT_EQ(text("JakiStan"), "?");
  EXPECT_EQ(text("Edit_status"), "ROZŁĄCZONY");
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  auto* out = find<QComboBox>("ComboOut1");
  EXPECT_EQ(out->currentIndex(), -1);
  EXPECT_EQ(out->currentText(), "Brak");
  EXPECT_EQ(out->count(), 9);
  EXPECT_EQ(find<QComboBox>("Combo_operator")->currentText(), "ORANGE");

  EXPECT_EQ(base("Edit_IN1A"), rgb(kOrange));
  EXPECT_EQ(base("Edit_IN3N"), rgb(kGreen));
  EXPECT_EQ(base("Edit_T2n"), rgb(kSkyBlue));
  EXPECT_EQ(base("Edit_Out4Wyl"), rgb(kGreen));
  EXPECT_EQ(base("Edit_Tel8"), rgb(kYellow));
  EXPECT_EQ(base("Combo_operator"), rgb(kYellow));
  EXPECT_EQ(base("Edit_status"), rgb(kRed));
  const QColor window = QApplication::palette().color(QPalette::Base);
  EXPECT_EQ(base("Edit_T1Min"), window);
  EXPECT_EQ(base("Edit_DCnap"), window);

  // Disconnected: nothing that needs the controller can be used.
  for (const char* n : {"Button_rozlacz", "ButtonFirmware", "Button_zmiana_hasla", "ButtonRestart",
                        "ButtonResetlimit", "Icon_get", "Icon_put", "EditPotw", "EditAutotest", "BoxOut1sygn"})
    EXPECT_FALSE(find(n)->isEnabled()) << n;
  EXPECT_FALSE(find<QAction>("Pobierz1")->isEnabled());
  EXPECT_FALSE(find<QAction>("Zapisz1")->isEnabled());
  EXPECT_TRUE(find<QAction>("Odczyt1")->isEnabled());
  EXPECT_TRUE(find("SpeedButton2")->isEnabled());
  EXPECT_FALSE(find("BoxT3S4")->isEnabled());
  EXPECT_TRUE(find("BoxACS4")->isEnabled());
  // Live view off: lamps in the button face, readouts grey, status line hidden.
  EXPECT_EQ(face("PanelIN1"), QApplication::palette().color(QPalette::Button));
  EXPECT_EQ(base("Temp1"), rgb(kGrey));
  EXPECT_TRUE(find("StatusBar")->isHidden());
  EXPECT_FALSE(main_->progressDialog()->isVisible());
  EXPECT_FALSE(main_->portDialog()->isVisible());
}

TEST_F(Window, PortListAtStartAndThroughTheDialog) {
  start({});
  EXPECT_EQ(main_->comCombo()->count(), 0);
  EXPECT_FALSE(find("Button_polacz")->isEnabled());
  EXPECT_FALSE(find("LabelBrakPortow")->isHidden()) << "the empty list explains itself";

  start({{"/dev/ttyS3", "COM3 device"}, {"/dev/ttyS1", "COM1 device"}});
  auto* combo = main_->comCombo();
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), "/dev/ttyS3 — COM3 device");
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(main_->port().port(), "/dev/ttyS3");
  EXPECT_TRUE(find("Button_polacz")->isEnabled());
  EXPECT_TRUE(find("LabelBrakPortow")->isHidden());

  ASSERT_TRUE(test::pickInPopup(combo, 1));
  EXPECT_EQ(main_->port().port(), "/dev/ttyS1");

  auto* com = find<QPushButton>("ButtonCom");
  com->click();
  com->click();
  ui::PortListDialog* dialog = main_->portDialog();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->windowTitle(), "Porty COM");
  EXPECT_EQ(dialog->findChild<QPlainTextEdit*>("PortyCom")->toPlainText(), "/dev/ttyS3\n/dev/ttyS1");
  EXPECT_EQ(dialog->findChild<QPlainTextEdit*>("DevCom")->toPlainText(), "COM3 device\nCOM1 device");
  // The user's choice stays selected through refreshes.
  EXPECT_EQ(main_->port().port(), "/dev/ttyS1");
  EXPECT_EQ(combo->currentIndex(), 1);
  EXPECT_EQ(main_->findChildren<ui::PortListDialog*>().size(), 1);
}

TEST_F(Window, StepButtonsKeepTheirLimitsAndCorrectionSteps) {
  auto press = [this](const char* spin, bool up) {
    auto* pair = find<ui::SpinPair>(spin);
    (up ? pair->upButton() : pair->downButton())->click();
  };
  press("SpinButton2", false);  // T1Min
  EXPECT_EQ(text("Edit_T1Min"), "+1");
  EXPECT_EQ(base("Edit_T1Min"), rgb(kRed));

  // At a limit the text stays and so does the colour.
  const struct {
    const char* spin;
    SensorByte byte;
    std::uint8_t at;
    bool up;
    const char* shows;
  } limits[] = {
      {"SpinButton2", SensorByte::T1Min, 0, false, "-128"}, {"SpinButton1", SensorByte::T1Max, 255, true, "+127"},
      {"SpinButton7", SensorByte::ACnap, 2, false, "0,2V"}, {"SpinButton8", SensorByte::DCnap, 170, true, "17,0V"},
      {"SpinButton13", SensorByte::WMin, 0, false, "0"},    {"SpinButton14", SensorByte::WMax, 100, true, "100"},
  };
  for (const auto& l : limits) {
    const SensorInfo& info = sensorTable()[static_cast<std::size_t>(l.byte)];
    form().setSensor(l.byte, l.at);
    form().showSensor(l.byte);
    form().markHeld(displayFieldOf(info));
    press(l.spin, l.up);
    EXPECT_EQ(text(displayFieldOf(info)), l.shows) << l.spin;
    EXPECT_EQ(form().sensors()[l.byte], l.at) << l.spin;
    EXPECT_EQ(form().colour(displayFieldOf(info)), kWindowColour) << l.spin;
  }

  // Corrections step through zero in quarter degrees and always mark their field.
  form().setSensor(SensorByte::T1Korekta, 1);
  form().showSensor(SensorByte::T1Korekta);
  press("SpinButton3", false);
  EXPECT_EQ(text("Edit_T1Korekta"), "+0,0");
  press("SpinButton3", false);
  EXPECT_EQ(text("Edit_T1Korekta"), "-0,25");
  press("SpinButton3", true);
  EXPECT_EQ(text("Edit_T1Korekta"), "+0,0");
  form().setSensor(SensorByte::T3Korekta, 127);
  form().showSensor(SensorByte::T3Korekta);
  form().setColour("Edit_T3Korekta", kWindowColour);
  press("SpinButton9", true);
  EXPECT_EQ(text("Edit_T3Korekta"), "+31,75");
  EXPECT_EQ(form().colour("Edit_T3Korekta"), kRed);
  form().setSensor(SensorByte::T2Korekta, 254);
  form().showSensor(SensorByte::T2Korekta);
  press("SpinButton6", false);
  EXPECT_EQ(text("Edit_T2Korekta"), "-31,50");
}

TEST_F(Window, TypedAndPastedTextGoThroughTheSameFilters) {
  auto* limit = find<QLineEdit>("Edit_LimitSMS");
  limit->clear();
  type(limit, "12a");
  EXPECT_EQ(limit->text(), "12");
  EXPECT_EQ(form().text("Edit_LimitSMS"), "12");
  EXPECT_EQ(base("Edit_LimitSMS"), rgb(kRed));

  auto* word = find<QLineEdit>("Edit_Out1zal");
  type(word, " a!.b");
  EXPECT_EQ(word->text(), "a!.b");

  auto* tel = find<QLineEdit>("Edit_Tel1");
  type(tel, "+48 601-2x");
  EXPECT_EQ(tel->text(), "+486012");

  // Pasting: the same filters and the length limit.
  QApplication::clipboard()->setText(QStringLiteral("9a8 7-65"));
  auto* pin = find<QLineEdit>("Edit_pin");
  pin->selectAll();
  key(pin, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(pin->text(), "9876");
  EXPECT_EQ(form().text("Edit_pin"), "9876");

  // Only characters Windows-1250 holds; the limit counts them.
  QApplication::clipboard()->setText(QStringLiteral("Zażółć ★ gęślą jaźń \U0001F600 i wiele więcej tekstu"));
  auto* message = find<QLineEdit>("Edit_IN1A");
  message->paste();
  EXPECT_EQ(message->text(), "Zażółć  gęślą jaźń  i wiele wi");
  EXPECT_EQ(form().text("Edit_IN1A"), message->text());

  // The password box filters like the others but never turns red.
  auto* password = find<QLineEdit>("Edit_haslo");
  const QColor before = base("Edit_haslo");
  password->selectAll();
  type(password, "1x2");
  EXPECT_EQ(password->text(), "12");
  EXPECT_EQ(base("Edit_haslo"), before);

  // A program change is shown as it is and marks the field.
  form().setColour("Edit_Tel2", kYellow);
  form().setText("Edit_Tel2", QStringLiteral("+48 600 100 200 300"));
  EXPECT_EQ(text("Edit_Tel2"), "+48 600 100 200 300");
  EXPECT_EQ(base("Edit_Tel2"), rgb(kRed));
}

TEST_F(Window, ARefusedKeyOrPasteChangesNothing) {
  // Tab selects the whole PIN; a letter is swallowed and the selection stays for the next key.
  enter("Edit_pin");
  auto* pin = find<QLineEdit>("Edit_pin");
  ASSERT_EQ(pin->selectedText(), "8617");
  type(pin, "a");
  EXPECT_EQ(pin->text(), "8617");
  EXPECT_EQ(pin->selectedText(), "8617");
  EXPECT_EQ(form().text("Edit_pin"), "8617");
  EXPECT_EQ(base("Edit_pin"), rgb(kYellow));
  // A paste without one usable character replaces nothing either; one with some replaces the
  // selection by them.
  QApplication::clipboard()->setText(QStringLiteral("abc"));
  key(pin, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(pin->text(), "8617");
  EXPECT_EQ(pin->selectedText(), "8617");
  QApplication::clipboard()->setText(QStringLiteral("x4"));
  key(pin, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(pin->text(), "4");
  pin->selectAll();
  type(pin, "5");
  EXPECT_EQ(pin->text(), "5");
  EXPECT_EQ(base("Edit_pin"), rgb(kRed));
  type(pin, "1234");  // full after three more: the fourth key does nothing
  EXPECT_EQ(pin->text(), "5123");
  leave();
  EXPECT_EQ(text("Edit_pin"), "5123");
}

TEST_F(Window, EditingKeepsATextThatCameFromTheControllerOrAFile) {
  // Over the limit and with spaces the key filter would not take: only what the user does counts.
  form().setText("Edit_Tel1", QStringLiteral("+48 600 100 200"));
  enter("Edit_Tel1");
  auto* tel = find<QLineEdit>("Edit_Tel1");
  key(tel, Qt::Key_End);
  key(tel, Qt::Key_Backspace);
  EXPECT_EQ(tel->text(), "+48 600 100 20");
  type(tel, "1");  // 14 characters left, the limit is 13
  EXPECT_EQ(tel->text(), "+48 600 100 20");
  key(tel, Qt::Key_Backspace);
  key(tel, Qt::Key_Backspace);
  type(tel, "9 9");
  EXPECT_EQ(tel->text(), "+48 600 100 9");
  EXPECT_EQ(form().text("Edit_Tel1"), "+48 600 100 9");
  key(tel, Qt::Key_Home);
  key(tel, Qt::Key_Delete);
  EXPECT_EQ(tel->text(), "48 600 100 9");
  EXPECT_EQ(tel->cursorPosition(), 0);

  form().setText("Edit_Out1zal", QStringLiteral("a b"));
  enter("Edit_Out1zal");
  auto* word = find<QLineEdit>("Edit_Out1zal");
  key(word, Qt::Key_End);
  type(word, " cd");
  EXPECT_EQ(word->text(), "a bc");
  key(word, Qt::Key_Left);
  key(word, Qt::Key_Backspace);
  EXPECT_EQ(word->text(), "a c");
  EXPECT_EQ(form().text("Edit_Out1zal"), "a c");
  leave();
}

TEST_F(Window, TypingIntoAListNeitherSelectsNorMarks) {
  auto* out = find<QComboBox>("ComboOut1");
  out->lineEdit()->setFocus(Qt::TabFocusReason);
  out->lineEdit()->selectAll();
  type(out->lineEdit(), "T1 MI");
  key(out->lineEdit(), Qt::Key_Left);
  key(out->lineEdit(), Qt::Key_Left);
  type(out->lineEdit(), "x");  // the cursor stays where the user put it
  EXPECT_EQ(out->currentText(), "T1 xMI");
  EXPECT_EQ(out->lineEdit()->cursorPosition(), 4);
  EXPECT_EQ(out->currentIndex(), -1);
  EXPECT_EQ(form().index("ComboOut1"), -1);
  EXPECT_EQ(form().text("ComboOut1"), "T1 xMI");
  EXPECT_NE(form().colour("ComboOut1"), kRed);
  // Leaving: a text that names no item gives way to what will be sent (here no selection), and
  // passing through the list without typing picks nothing.
  leave();
  EXPECT_EQ(form().index("ComboOut1"), -1);
  EXPECT_EQ(out->currentText(), "Brak");
  EXPECT_NE(form().colour("ComboOut1"), kRed);
  enter("ComboOut1");
  leave();
  EXPECT_EQ(form().index("ComboOut1"), -1);
  EXPECT_NE(form().colour("ComboOut1"), kRed);
  ASSERT_TRUE(test::pickInPopup(out, 2));
  EXPECT_EQ(form().index("ComboOut1"), 2);
  EXPECT_EQ(out->currentText(), "T1 MAX");
  EXPECT_EQ(form().colour("ComboOut1"), kRed);
  enter("ComboOut1");
  type(out->lineEdit(), "zz");
  leave();
  EXPECT_EQ(out->currentText(), "T1 MAX");
  EXPECT_EQ(form().text("ComboOut1"), "T1 MAX");
  EXPECT_EQ(form().index("ComboOut1"), 2);

  // The operator list keeps its entry while typed over; the number and the colours stay.
  auto* op = find<QComboBox>("Combo_operator");
  op->lineEdit()->setFocus(Qt::TabFocusReason);
  op->lineEdit()->selectAll();
  type(op->lineEdit(), "PLAY");
  EXPECT_EQ(form().index("Combo_operator"), 0);
  EXPECT_EQ(op->currentIndex(), 0);
  EXPECT_EQ(op->currentText(), "PLAY");
  EXPECT_EQ(text("Edit_operator"), "+48501200777");
  EXPECT_EQ(base("Combo_operator"), rgb(kYellow));
  // Confirming a typed item's exact name (leaving the list, or Enter) picks that item and brings
  // its number.
  leave();
  EXPECT_EQ(form().index("Combo_operator"), 3);
  EXPECT_EQ(text("Edit_operator"), "+48790998250");
}

TEST_F(Window, TheFlagLampIsNotUnderTheInputsHint) {
  const QString hint = QStringLiteral("Stan wejść, kolor czerwony zwarte do masy");
  auto hintOver = [](QWidget* w) {
    for (; w; w = w->parentWidget())
      if (!w->toolTip().isEmpty()) return w->toolTip();
    return QString();
  };
  EXPECT_EQ(hintOver(find("PanelIN1")), hint);
  EXPECT_EQ(hintOver(find("PanelIN5")), hint);
  EXPECT_NE(hintOver(find("PanelFab")), hint);
  // It still sits in the row of the input lamps, with their size.
  QWidget* fab = find("PanelFab");
  QWidget* in5 = find("PanelIN5");
  const QPoint fabAt = fab->mapTo(main_.get(), QPoint(0, 0));
  const QPoint in5At = in5->mapTo(main_.get(), QPoint(0, 0));
  EXPECT_EQ(fabAt.y(), in5At.y());
  EXPECT_GT(fabAt.x(), in5At.x());
  EXPECT_LE(std::abs(fab->width() - in5->width()), 2) << fab->width() << " " << in5->width();
}

TEST_F(Window, LeavingAFieldRepairsIt) {
  const struct {
    const char* field;
    const char* typed;
    const char* after;
  } cases[] = {
      {"Edit_pin", "12", "8617"},   {"Edit_pin", "4321", "4321"}, {"Edit_LimitVoice", "", "0"},
      {"Out4Czas", "0", "1"},       {"Out4Czas", "", "1"},        {"EditT1opu", "300", "254"},
      {"EditT1opu", "254", "254"},  {"EditWopu", "", "0"},        {"IleTest", "00", "1"},
      {"Edit_haslo", "12", "8617"},
  };
  for (const auto& c : cases) {
    enter(c.field);
    auto* e = find<QLineEdit>(c.field);
    e->selectAll();
    key(e, Qt::Key_Backspace);
    type(e, QString::fromLatin1(c.typed));
    leave();
    EXPECT_EQ(e->text(), c.after) << c.field << " " << c.typed;
  }
  EXPECT_EQ(text("Out3Czas"), "5");
  EXPECT_EQ(base("Out4Czas"), rgb(kRed));
  EXPECT_NE(base("Edit_haslo"), rgb(kRed));
}

TEST_F(Window, CheckBoxesMarkEnableAndSwapColours) {
  auto* cell = find<QCheckBox>("BoxIN4T3");
  cell->click();
  EXPECT_TRUE(form().checked("BoxIN4T3"));
  EXPECT_EQ(face("BoxIN4T3"), rgb(kRed));
  find<QCheckBox>("T2send")->click();
  EXPECT_EQ(form().colour("T2send"), kRed);

  // The focus alone changes nothing, so it marks nothing; Space does.
  enter("BoxWyslijStan");
  EXPECT_NE(face("BoxWyslijStan"), rgb(kRed));
  QTest::keyClick(find("BoxWyslijStan"), Qt::Key_Space);
  EXPECT_TRUE(form().checked("BoxWyslijStan"));
  EXPECT_EQ(face("BoxWyslijStan"), rgb(kRed));

  find<QCheckBox>("BoxPotw")->click();
  EXPECT_TRUE(find("EditPotw")->isEnabled());
  find<QCheckBox>("BoxAutoTest")->click();
  EXPECT_TRUE(find("EditAutotest")->isEnabled());

  auto* ca = find<QCheckBox>("BoxCA");
  auto* siren = find<QCheckBox>("BoxOut1sygn");
  form().setText("Edit_IN3A", QStringLiteral("zmiana"));  // red, and it stays red through the swap
  ca->click();
  EXPECT_TRUE(siren->isEnabled());
  EXPECT_EQ(base("Edit_IN2A"), rgb(kGreen));
  EXPECT_EQ(base("Edit_IN3A"), rgb(kRed));
  EXPECT_EQ(base("Edit_IN5N"), rgb(kOrange));
  EXPECT_EQ(base("Edit_IN1A"), rgb(kOrange));
  siren->click();
  EXPECT_TRUE(siren->isChecked());
  ca->click();
  EXPECT_FALSE(siren->isEnabled());
  EXPECT_FALSE(siren->isChecked());
  EXPECT_EQ(base("Edit_IN2A"), rgb(kOrange));
  EXPECT_EQ(base("Edit_IN2N"), rgb(kGreen));
}

TEST_F(Window, ListsTakePicksByPopUpKeysAndWheelBeforeAndAfterADownload) {
  auto* out = find<QComboBox>("ComboOut1");
  auto shows = [&](int index) {
    EXPECT_EQ(out->currentText(), out->itemText(index));
    EXPECT_EQ(form().index("ComboOut1"), index);
    EXPECT_EQ(form().colour("ComboOut1"), kRed);
  };
  // Without a selection the list shows "Brak": Down goes on to the next item, Up stays put.
  enter("ComboOut1");
  QTest::keyClick(out, Qt::Key_Up);
  EXPECT_EQ(out->currentText(), "Brak");
  EXPECT_EQ(form().index("ComboOut1"), -1);
  EXPECT_NE(form().colour("ComboOut1"), kRed);
  QTest::keyClick(out, Qt::Key_Down);
  shows(1);
  for (bool downloaded : {false, true}) {
    SCOPED_TRACE(downloaded ? "after a download" : "before a download");
    if (downloaded) {  // as the controller's answer sets it
      form().setIndex("ComboOut1", 3);
      form().markHeld("ComboOut1");
    }
    ASSERT_TRUE(test::pickInPopup(out, 5));
    shows(5);
    enter("ComboOut1");
    QTest::keyClick(out, Qt::Key_Down);
    shows(6);
    QTest::keyClick(out, Qt::Key_Up);
    QTest::keyClick(out, Qt::Key_Up);
    shows(4);
    test::wheel(out, -1);
    shows(5);
    test::wheel(out, 1);
    shows(4);
    leave();
    shows(4);
  }

  // The operator: each pick shows the operator and brings its number; "inny" empties it.
  auto* op = find<QComboBox>("Combo_operator");
  form().setColour("Edit_operator", kYellow);
  ASSERT_TRUE(test::pickInPopup(op, 3));
  EXPECT_EQ(op->currentText(), "PLAY");
  EXPECT_EQ(text("Edit_operator"), "+48790998250");
  EXPECT_EQ(base("Edit_operator"), rgb(kRed));
  EXPECT_EQ(base("Combo_operator"), rgb(kYellow));
  ASSERT_TRUE(test::pickInPopup(op, 4));
  EXPECT_EQ(op->currentText(), "inny");
  EXPECT_EQ(text("Edit_operator"), "");
  ASSERT_TRUE(test::pickInPopup(op, 3));  // from "inny" too
  EXPECT_EQ(text("Edit_operator"), "+48790998250");
  // A number from the controller or a file selects its operator; a pick then replaces it.
  form().setSmsCentre(QStringLiteral("+48123"));
  EXPECT_EQ(op->currentText(), "inny");
  ASSERT_TRUE(test::pickInPopup(op, 2));
  EXPECT_EQ(op->currentText(), "PLUS");
  EXPECT_EQ(text("Edit_operator"), "+48601000310");
  enter("Combo_operator");
  QTest::keyClick(op, Qt::Key_Up);
  EXPECT_EQ(op->currentText(), "T-MOBILE");
  EXPECT_EQ(text("Edit_operator"), "+48602951111");
  leave();
}

TEST_F(Window, EditedAndSynchronisedStatesAreDrawn) {
  // What the user sees, not the palette: red covers a good part of the widget when edited and
  // is gone once synchronised, on Fusion and on the other built-in style.
  const QColor red = rgb(kRed);
  const QColor window = QApplication::palette().color(QPalette::Base);
  for (const char* styleName : {"Fusion", "Windows"}) {
    std::unique_ptr<QStyle> style(QStyleFactory::create(QString::fromLatin1(styleName)));
    ASSERT_TRUE(style) << styleName;
    const struct {
      const char* field;
      std::function<void()> edit;
      QColor synchronised;
    } cases[] = {
        {"BoxIN1T1", [this] { find<QCheckBox>("BoxIN1T1")->click(); }, window},
        {"BoxACS5", [this] { form().setChecked("BoxACS5", !form().checked("BoxACS5")); }, window},
        {"BoxCA", [this] { find<QCheckBox>("BoxCA")->click(); }, window},  // and its caption
        {"Edit_Tel1", [this] { type(find("Edit_Tel1"), "5"); }, rgb(kYellow)},
        {"ComboOut1", [this] { ASSERT_TRUE(test::pickInPopup(find<QComboBox>("ComboOut1"), form().index("ComboOut1") == 3 ? 2 : 3)); }, window},
    };
    for (const auto& c : cases) {
      QWidget* w = find(c.field);
      w->setStyle(style.get());
      c.edit();
      ASSERT_EQ(form().colour(c.field), kRed) << c.field;
      EXPECT_GT(drawnShare(w, red), 0.25) << styleName << " " << c.field;
      form().markHeld(c.field);
      EXPECT_LT(drawnShare(w, red), 0.02) << styleName << " " << c.field;
      EXPECT_GT(drawnShare(w, c.synchronised), 0.25) << styleName << " " << c.field;
      w->setStyle(nullptr);
    }
  }
}

TEST_F(Window, TextsSetThroughAccessibilityAreFilteredStoredAndMarked) {
  auto* tel = find<QLineEdit>("Edit_Tel7");
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(tel);
  ASSERT_TRUE(a);
  a->setText(QAccessible::Value, QStringLiteral("+48 600 700 800"));
  EXPECT_EQ(tel->text(), "+48600700800");
  EXPECT_EQ(form().text("Edit_Tel7"), "+48600700800");
  EXPECT_EQ(form().colour("Edit_Tel7"), kRed);
  ASSERT_TRUE(a->editableTextInterface());
  a->editableTextInterface()->insertText(0, QStringLiteral("x91"));  // room for one character
  EXPECT_EQ(form().text("Edit_Tel7"), "9+48600700800");
  EXPECT_EQ(tel->text(), form().text("Edit_Tel7"));
  a->editableTextInterface()->deleteText(0, 1);
  EXPECT_EQ(form().text("Edit_Tel7"), "+48600700800");

  // A list: typed text that names no item does not stay on screen once the list is left.
  auto* out = find<QComboBox>("ComboOut3");
  ASSERT_TRUE(test::pickInPopup(out, 4));
  enter("ComboOut3");
  QAccessible::queryAccessibleInterface(out->lineEdit())->setText(QAccessible::Value, QStringLiteral("T9"));
  EXPECT_EQ(form().text("ComboOut3"), "T9");
  leave();
  EXPECT_EQ(out->currentText(), "T2 MAX");
  EXPECT_EQ(form().index("ComboOut3"), 4);
}

TEST_F(Window, FocusInAFieldFromAFileChangesNothingOnSave) {
  // Values the key filter and exit checks would not let the user type, as a file may hold them.
  form().setText("EditT1opu", QStringLiteral("255"));
  form().setText("Edit_pin", QStringLiteral("12"));
  form().setText("Out2Czas", QStringLiteral("0"));
  QTemporaryDir dir;
  for (const char* f : {"EditT1opu", "Edit_pin", "Out2Czas"}) {
    enter(f);
    const QString path = dir.filePath(QString::fromLatin1(f));
    ASSERT_TRUE(ui::saveConfigFileToPath(form(), notes_, path)) << f;
    Form back;
    ASSERT_TRUE(loadConfigFile(back, path, notes_.collect()));
    EXPECT_EQ(back.text("EditT1opu"), "255");
    EXPECT_EQ(back.text("Edit_pin"), "12");
    EXPECT_EQ(back.text("Out2Czas"), "0");
  }
  leave();
  EXPECT_EQ(text("EditT1opu"), "255");
  EXPECT_EQ(text("Out2Czas"), "0");
}

TEST_F(Window, ThresholdsStepByKeysAndWheelAndLongTextsShowWhole) {
  // A threshold is reached by Tab and stepped by Up, Down and the wheel, within its limits.
  auto* max = find<QLineEdit>("Edit_T1Max");
  EXPECT_TRUE(max->focusPolicy() & Qt::TabFocus);
  enter("Edit_T1Max");
  key(max, Qt::Key_Up);
  EXPECT_EQ(max->text(), "+9");
  EXPECT_EQ(form().colour("Edit_T1Max"), kRed);
  key(max, Qt::Key_Down);
  key(max, Qt::Key_Down);
  EXPECT_EQ(max->text(), "+7");
  auto wheel = [](QWidget* w, int dy) {
    QWheelEvent e(QPointF(4, 4), w->mapToGlobal(QPointF(4, 4)), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
  };
  wheel(max, 120);
  EXPECT_EQ(max->text(), "+8");
  wheel(max, -60);
  wheel(max, -60);  // two half notches make one step
  EXPECT_EQ(max->text(), "+7");
  form().setSensor(SensorByte::T1Max, 255);
  form().showSensor(SensorByte::T1Max);
  key(max, Qt::Key_Up);
  EXPECT_EQ(max->text(), "+127");
  form().setSensor(SensorByte::T1Korekta, 1);
  form().showSensor(SensorByte::T1Korekta);
  enter("Edit_T1Korekta");
  key(find("Edit_T1Korekta"), Qt::Key_Down);
  EXPECT_EQ(text("Edit_T1Korekta"), "+0,0");  // the correction's own steps
  leave();
  wheel(max, 120);  // without the focus the wheel scrolls the window
  EXPECT_EQ(max->text(), "+127");

  // A text longer than its field shows whole in the tool tip.
  const QString message = QStringLiteral("Otwarcie drzwi wejściowych 12345");
  form().setText("Edit_IN1A", message);
  QWidget* in1 = find("Edit_IN1A");
  QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), in1->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(in1, &help);
  EXPECT_TRUE(QToolTip::text().contains(message)) << QToolTip::text().toStdString();
  QToolTip::hideText();
}

TEST_F(Window, ClosingWithRedFieldsAsksFirstAndQtSpeaksPolish) {
  QStringList asked;
  main_->confirm = [&](const QString& t) {
    asked << t;
    return false;
  };
  form().setText("Edit_Tel3", QStringLiteral("+48111"));
  main_->close();
  EXPECT_EQ(asked, QStringList{QString::fromUtf8(ui::kDiscardEditsText)});
  EXPECT_TRUE(main_->isVisible());
  // Nothing red: nothing to ask, the window closes (the "Nie" ready here is never given).
  form().markHeld("Edit_Tel3");
  main_->close();
  EXPECT_FALSE(main_->isVisible());
  EXPECT_EQ(asked.size(), 1);

  if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_pl.qm")))
    GTEST_SKIP() << "Qt's Polish translations are not installed";
  EXPECT_TRUE(ui::Application::instance()->polishInstalled());
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Anuluj");
  EXPECT_NE(QCoreApplication::translate("QLineEdit", "&Paste"), "&Paste");
}

TEST_F(Window, AboutDialogIsFreshEachTimeAndShowsOurPicture) {
  QPointer<QDialog> first;
  uitest::UrlRecorder opener;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &opener, "open");
  const QString name = runModal([this] { main_->aboutClick(); }, [&](QDialog* d) {
    first = d;
    EXPECT_EQ(d->windowTitle(), "O programie");
    EXPECT_EQ(d->findChild<QLabel*>("Label2")->text(), "DOVU Konfigurator v1.42");
    EXPECT_EQ(d->findChild<QLabel*>("LabelLicencja")->text(), "Licencja: MIT");
    auto* image = d->findChild<QLabel*>("Image1");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(130, 90));
    EXPECT_FALSE(image->pixmap().isNull());
    auto* link = d->findChild<QLabel*>("Label1");
    // A click on the address itself (the label's text starts at its left edge).
    const QPoint onText(link->contentsRect().left() + link->fontMetrics().horizontalAdvance(QStringLiteral("https")),
                        link->height() / 2);
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, onText);
  });
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(name, "FInfo");
  EXPECT_TRUE(first.isNull());  // destroyed on closing
  EXPECT_EQ(opener.opened, QUrl(QString::fromLatin1(ui::AboutDialog::webAddress())));
  EXPECT_EQ(runModal([this] { main_->aboutClick(); }, [](QDialog*) {}), "FInfo");
  EXPECT_TRUE(main_->findChildren<ui::AboutDialog*>().isEmpty());

  QFile logo(QStringLiteral(":/dovu/logo.jpg"));
  ASSERT_TRUE(logo.open(QIODevice::ReadOnly));
  const QByteArray jpeg = logo.readAll();
  EXPECT_EQ(ui::decodeJpeg(jpeg).size(), QSize(130, 90));
  EXPECT_TRUE(ui::decodeJpeg(jpeg.left(40)).isNull());
  EXPECT_TRUE(ui::decodeJpeg(QByteArray("not a picture")).isNull());
}

TEST_F(Window, ProgressDialogFollowsTheFormAndCannotBeClosed) {
  ui::ProgressDialog* p = main_->progressDialog();
  form().setVisible("FormProgres", true);
  form().setVisible("Panel_bar", true);
  form().setText("Label_Bar", QStringLiteral("Pobieram konfigurację sterownika"));
  form().setValue("Bar", 40);
  EXPECT_TRUE(p->isVisible());
  EXPECT_EQ(p->findChild<QLabel*>("Label_Bar")->text(), "Pobieram konfigurację sterownika");
  EXPECT_EQ(p->findChild<QProgressBar*>("Bar")->value(), 40);
  EXPECT_FALSE(p->isModal());
  EXPECT_EQ(p->windowTitle(), "Przesyłanie konfiguracji");
  p->close();
  key(p, Qt::Key_Escape);
  EXPECT_TRUE(p->isVisible());
  form().setVisible("Panel_bar", false);
  form().setVisible("FormProgres", false);
  EXPECT_FALSE(p->isVisible());
}

TEST_F(Window, PasswordDialogTakesExactlyFourDigits) {
  main_->session().liveOn();
  bool liveInside = true;
  const QString name = runModal([this] { main_->changePasswordClick(); }, [&](QDialog* d) {
    liveInside = main_->session().liveDisplay();
    EXPECT_EQ(d->windowTitle(), "Zmiana hasła");
    auto* edit = d->findChild<QLineEdit*>("Edit_haslo_nowe");
    auto* save = d->findChild<QPushButton*>("Button1");
    ASSERT_TRUE(edit && save);
    EXPECT_EQ(edit->text(), "8617");
    EXPECT_TRUE(save->isEnabled());
    edit->selectAll();
    type(edit, "12a345");
    EXPECT_EQ(edit->text(), "1234");
    edit->selectAll();
    type(edit, "99");
    EXPECT_FALSE(save->isEnabled());
    save->click();  // nothing is sent
    EXPECT_TRUE(d->isVisible());
    d->findChild<QPushButton*>("Button2")->click();
  });
  EXPECT_EQ(name, "Fhaslo_nowe");
  EXPECT_FALSE(liveInside);
  EXPECT_TRUE(main_->session().liveDisplay());
  EXPECT_TRUE(notes_.events.empty());
}

TEST_F(Window, APortThatCannotBeOpenedSaysWhy) {
  // An exception that reaches the event loop ends its event without a word.
  QTimer::singleShot(0, [] { throw std::runtime_error("dropped"); });
  waitFor([] { return false; }, 100);
  EXPECT_TRUE(notes_.events.empty());

  // A port that cannot be opened says why, and the window stays disconnected.
  start({{"/nonexistent/ttyUSB9", "gone"}});
  find<QPushButton>("Button_polacz")->click();
  // The box comes once the press has returned to the event loop.
  ASSERT_TRUE(waitFor([&] { return notes_.count(Cause::PortUnavailable) == 1; }, 2000));
  EXPECT_FALSE(notes_.events.back().detail.isEmpty());
  EXPECT_EQ(text("Edit_status"), "ROZŁĄCZONY");
  EXPECT_FALSE(main_->port().isOpen());
}

}  // namespace

#include "ui_window_test.moc"

// Undo and redo by the keys a user presses: an edit and a file load are put back with their
// colours, and a change the program made since leaves nothing to undo.
TEST_F(Window, AnEditIsUndoneAndRedoneWithItsColourInTheFieldAndElsewhere) {
  auto* tel = find<QLineEdit>("Edit_Tel1");
  const QString was = tel->text();
  tel->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(tel, "123");
  ASSERT_EQ(tel->text(), was + "123");
  ASSERT_GT(drawnShare(tel, rgb(kRed)), 0.25);

  pressUndo();  // the typing of one field is one step
  EXPECT_EQ(tel->text(), was);
  EXPECT_EQ(form().text("Edit_Tel1"), was);
  EXPECT_LT(drawnShare(tel, rgb(kRed)), 0.02);
  pressRedo();
  EXPECT_EQ(tel->text(), was + "123");
  EXPECT_GT(drawnShare(tel, rgb(kRed)), 0.25);

  // A click on a check box, undone while the focus stays on it.
  auto* box = find<QCheckBox>("BoxIN1T1");
  const bool on = box->isChecked();
  const Colour colour = form().colour("BoxIN1T1");
  box->setFocus(Qt::TabFocusReason);
  QTest::keyClick(box, Qt::Key_Space);
  ASSERT_NE(box->isChecked(), on);
  pressUndo();
  EXPECT_EQ(box->isChecked(), on);
  EXPECT_EQ(form().colour("BoxIN1T1"), colour);
  EXPECT_NE(colour, kRed);
  // The menu entries follow what can be done.
  EXPECT_TRUE(find<QAction>("Cofnij")->isEnabled());
  EXPECT_TRUE(find<QAction>("Ponow")->isEnabled());
  EXPECT_EQ(find<QMenu>("Edycja")->title(), QStringLiteral("&Edycja"));
  EXPECT_EQ(find<QAction>("Ponow")->text(), QStringLiteral("&Ponów"));
}

TEST_F(Window, AFileLoadIsUndoneWholeAndAProgramChangeEndsTheHistory) {
  QTemporaryDir dir;
  const QString path = dir.filePath("other.dvc");
  {
    Form other;
    other.setText("Edit_Tel2", QStringLiteral("+48500100200"));
    other.setText("Edit_IN1A", QStringLiteral("Napad"));
    other.setChecked("BoxCA", true);
    other.setIndex("ComboOut3", 6);
    other.setSensor(SensorByte::T1Max, 200);
    ASSERT_TRUE(ui::saveConfigFileToPath(other, notes_, path));
  }
  main_->loadFile = [&] { ui::loadConfigFileFromPath(form(), notes_, path); };
  auto* tel = find<QLineEdit>("Edit_Tel1");
  tel->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(tel, "7");
  const test::FormSnapshot beforeLoad(form());

  QTest::keyClick(tel, Qt::Key_O, Qt::ControlModifier);  // Ctrl+O loads
  ASSERT_EQ(form().text("Edit_Tel2"), QStringLiteral("+48500100200"));
  const test::FormSnapshot afterLoad(form());
  ASSERT_FALSE(beforeLoad.diff(form()).empty());

  pressUndo();  // every value and colour as before the load, the typed 7 still there and red
  EXPECT_EQ(beforeLoad.diff(form()), std::vector<std::string>{});
  EXPECT_EQ(tel->text(), form().text("Edit_Tel1"));
  EXPECT_LT(drawnShare(find("Edit_IN1A"), rgb(kRed)), 0.02);
  pressRedo();
  EXPECT_EQ(afterLoad.diff(form()), std::vector<std::string>{});
  EXPECT_GT(drawnShare(find("Edit_IN1A"), rgb(kRed)), 0.25);

  // The controller took the values (an upload turns them back to their own colours): an undo
  // now would put back a value the controller does not hold, so there is none.
  form().markHeld("Edit_IN1A");
  const test::FormSnapshot synced(form());
  pressUndo();
  EXPECT_EQ(synced.diff(form()), std::vector<std::string>{});
  EXPECT_FALSE(find<QAction>("Cofnij")->isEnabled());
}

TEST_F(Window, TheBackupsDialogListsShowsAndLoadsABackup) {
  QTemporaryDir home;
  const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
  {
    BackupStore store;  // where the window looks: the data folder of dovu-konfig
    ASSERT_TRUE(store.folder().startsWith(home.path() + "/dovu-konfig/")) << store.folder().toStdString();
    Form older, newer;
    newer.setText("Edit_Tel1", QStringLiteral("+48999"));
    newer.setText("Edit_IN1A", QStringLiteral("Napad"));
    QString error;
    ASSERT_TRUE(store.add(configurationOf(older), BackupReason::Manual, "/dev/ttyS3", &error, QDateTime::currentDateTime().addDays(-1)));
    ASSERT_TRUE(store.add(configurationOf(newer), BackupReason::BeforeUpload, "/dev/ttyS3", &error)) << error.toStdString();
  }
  find<QAction>("KopieZapasoweMenu")->trigger();
  QDialog* d = nullptr;
  ASSERT_TRUE(waitFor([&] { return (d = main_->findChild<QDialog*>("KopieZapasowe")) && d->isVisible(); }, 5000));
  auto* table = d->findChild<QTableWidget*>("ListaKopii");
  ASSERT_TRUE(table);
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("przed zapisem konfiguracji"));
  EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("Napad | +48999"));
  EXPECT_EQ(table->item(1, 1)->text(), QStringLiteral("ręczna"));
  auto* load = d->findChild<QPushButton*>("WczytajKopie");
  EXPECT_TRUE(table->item(0, 0)->isSelected());  // the first is chosen: the keys act at once

  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 2)).center());
  QTest::mouseClick(d->findChild<QPushButton*>("PokazPola"), Qt::LeftButton);
  const QString shown = d->findChild<QPlainTextEdit*>("PolaKopii")->toPlainText();
  EXPECT_TRUE(shown.contains("Edit_Tel1") && shown.contains("\"+48999\"")) << shown.toStdString();

  const QString tel2 = form().text("Edit_Tel2");
  QTest::mouseClick(load, Qt::LeftButton);
  EXPECT_EQ(form().text("Edit_Tel1"), QStringLiteral("+48999"));
  EXPECT_GT(drawnShare(find("Edit_Tel1"), rgb(kRed)), 0.25);  // differs from what the window held
  EXPECT_EQ(form().text("Edit_Tel2"), tel2);
  EXPECT_NE(form().colour("Edit_Tel2"), kRed);                // the same: not marked
  QTest::mouseClick(d->findChild<QPushButton*>("ZamknijKopie"), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return main_->findChild<QDialog*>("KopieZapasowe") == nullptr; }, 5000));

  QTest::keyClick(find("Edit_Tel2"), Qt::Key_Z, Qt::ControlModifier);  // the load was one step
  EXPECT_NE(form().text("Edit_Tel1"), QStringLiteral("+48999"));
  EXPECT_NE(form().colour("Edit_Tel1"), kRed);
  if (oldHome.isNull()) qunsetenv("XDG_DATA_HOME");
  else qputenv("XDG_DATA_HOME", oldHome);
}

namespace {

// Tab leaves the tables of the backup and compare dialogs for their buttons, each button has a
// mnemonic, and a checked password row says why it is not sent.
TEST_F(Window, TheBackupAndCompareDialogsWorkFromTheKeyboard) {
  QTemporaryDir home;
  const QByteArray oldHome = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
  {
    Form kept;
    kept.setText("Edit_haslo", QStringLiteral("1234"));
    kept.setText("Edit_Tel1", QStringLiteral("+48999"));
    QString error;
    ASSERT_TRUE(BackupStore().add(configurationOf(kept), BackupReason::Manual, "/dev/ttyS3", &error)) << error.toStdString();
  }
  find<QAction>("KopieZapasoweMenu")->trigger();
  QDialog* d = nullptr;
  ASSERT_TRUE(waitFor([&] { return (d = main_->findChild<QDialog*>("KopieZapasowe")) && d->isVisible(); }, 5000));
  d->activateWindow();
  ASSERT_TRUE(waitFor([&] { return d->isActiveWindow(); }, 5000));
  auto* table = d->findChild<QTableWidget*>("ListaKopii");
  table->setFocus(Qt::TabFocusReason);
  QStringList reached;
  for (int i = 0; i < 8; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    reached << QApplication::focusWidget()->objectName();
  }
  for (const char* b : {"PokazPola", "WczytajKopie", "PorownajKopie"})
    EXPECT_TRUE(reached.contains(QString::fromLatin1(b))) << b << ": " << reached.join(' ').toStdString();
  for (const char* b : {"PokazPola", "WczytajKopie", "PorownajKopie", "ZamknijKopie"})
    EXPECT_TRUE(d->findChild<QPushButton*>(b)->text().contains('&')) << b;
  // Tab to a button and Space presses it: the chosen backup's fields, then its comparison.
  auto pressByTab = [&](const char* name) {
    for (int i = 0; i < 8 && QApplication::focusWidget()->objectName() != QLatin1String(name); ++i)
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget()->objectName(), QLatin1String(name));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  };
  pressByTab("PokazPola");
  EXPECT_TRUE(d->findChild<QPlainTextEdit*>("PolaKopii")->toPlainText().contains("+48999"));
  pressByTab("PorownajKopie");
  QDialog* c = nullptr;
  ASSERT_TRUE(waitFor([&] { return (c = main_->findChild<QDialog*>("Porownanie")) && c->isVisible(); }, 5000));
  c->activateWindow();
  ASSERT_TRUE(waitFor([&] { return c->isActiveWindow(); }, 5000));
  auto* diffs = c->findChild<QTableWidget*>("TabelaRoznic");
  int password = -1;
  for (int r = 0; r < diffs->rowCount(); ++r)
    if (diffs->item(r, 0)->text().contains("Edit_haslo")) password = r;
  ASSERT_GE(password, 0);
  diffs->setFocus(Qt::TabFocusReason);
  diffs->setCurrentCell(password, 0);
  QTest::keyClick(diffs->viewport(), Qt::Key_Space);
  ASSERT_EQ(diffs->item(password, 0)->checkState(), Qt::Checked);
  auto* send = c->findChild<QPushButton*>("WyslijZaznaczone");
  EXPECT_FALSE(send->isEnabled());
  EXPECT_TRUE(c->findChild<QLabel*>("PolaZParametrem")->text().contains(QStringLiteral("Zmiana hasła")));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_NE(QApplication::focusWidget(), diffs) << "Tab leaves the table";
  c->reject();
  d->reject();
  if (oldHome.isNull()) qunsetenv("XDG_DATA_HOME");
  else qputenv("XDG_DATA_HOME", oldHome);
}

// On a 1024 x 768 screen the connection panel stays in the picture, whole, wherever the form
// is scrolled to.
TEST_F(Window, TheConnectionStateStaysInViewOnASmallScreen) {
  main_->resize(1008, 560);
  auto* scroll = find<QScrollArea>("FormScroll");
  ASSERT_TRUE(waitFor([&] { return scroll->verticalScrollBar()->maximum() > 0; }, 3000));
  scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
  scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
  const QImage shot = main_->grab().toImage();
  for (const char* name : {"SpeedButton2", "Icon_put", "ComCombo", "Button_polacz", "Edit_status", "Edit_logon"}) {
    QWidget* w = find(name);
    const QRect at(w->mapTo(main_.get(), QPoint(0, 0)), w->size());
    EXPECT_TRUE(w->isVisible() && shot.rect().contains(at)) << name;
  }
  // The state fields are drawn in their red, not covered by the scrolled form.
  QWidget* status = find("Edit_status");
  EXPECT_GT(drawnShare(status, rgb(kRed)), 0.25);

  // On a 1024-pixel screen the form scrolls only downwards: every group whole across; on a wide
  // one its three columns stand side by side again.
  auto groupsAcross = [&] {
    int cut = 0;
    for (const char* name : {"GroupBox1", "GroupBox2", "GroupBox3", "GroupBox4", "GroupBox5", "GroupBox6", "GroupBox9"}) {
      QWidget* g = find(name);
      const QRect at(g->mapTo(scroll->viewport(), QPoint(0, 0)), g->size());
      cut += at.left() < 0 || at.right() >= scroll->viewport()->width();
    }
    return cut;
  };
  main_->resize(1008, 700);
  ASSERT_TRUE(waitFor([&] { return scroll->horizontalScrollBar()->maximum() == 0; }, 3000))
      << scroll->horizontalScrollBar()->maximum() << " pixels to scroll across";
  EXPECT_EQ(groupsAcross(), 0);
  main_->resize(main_->preferredSize() + QSize(40, 40));
  const auto beside = [&] {
    return find("GroupBox6")->mapTo(main_.get(), QPoint(0, 0)).x() > find("GroupBox2")->mapTo(main_.get(), QPoint(0, 0)).x() + 50;
  };
  EXPECT_TRUE(waitFor([&] { return beside() && scroll->horizontalScrollBar()->maximum() == 0 && groupsAcross() == 0; }, 3000))
      << "the state group stands right of the outputs: " << beside() << ", " << groupsAcross() << " groups cut";
}

}  // namespace
