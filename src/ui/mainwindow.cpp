#include "ui/mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QUndoStack>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <utility>

#include "dovu/version.h"
#include "link/portwatcher.h"
#include "ui/layout.h"
#include "model/params.h"
#include "storage/configfile.h"
#include "ui/application.h"
#include "ui/backupsdialog.h"
#include "ui/seriesdialog.h"
#include "ui/comparedialog.h"
#include "ui/configfileui.h"
#include "ui/chartview.h"
#include "ui/dialogs.h"
#include "ui/formview.h"
#include "ui/reportui.h"
#include "ui/widgets.h"
#include "ui/wording.h"

namespace dovu::ui {

namespace {

// ---- layout tables -------------------------------------------------------------------------------
// The field families (inputs, outputs, matrix, lamps, readouts, sensor pages, reply boxes) are laid
// out from model/layout.h, the tables the catalogue builds their entries from.

struct ToolButton {
  const char* name;
  QStyle::StandardPixmap icon;
};
const ToolButton kToolButtons[] = {
    {"SpeedButton2", QStyle::SP_DialogOpenButton},
    {"SpeedButton1", QStyle::SP_DialogSaveButton},
    {"Icon_get", QStyle::SP_ArrowDown},
    {"Icon_put", QStyle::SP_ArrowUp},
};

// The form's three columns side by side where the window is wide enough for them; otherwise the
// third goes under the second, so that on a 1024-pixel screen nothing is cut at the right and the
// form scrolls only downwards.  The decision follows the scroll area's own width, which does not
// change when its scroll bars come and go.
class ColumnFlow : public QObject {
 public:
  ColumnFlow(QScrollArea* scroll, QGridLayout* grid, std::array<QLayout*, 3> columns)
      : QObject(scroll), scroll_(scroll), grid_(grid), columns_(columns) {
    setObjectName(QStringLiteral("FormColumns"));
    scroll->installEventFilter(this);
    place(true);
  }

  // The form's size with its columns side by side.
  QSize wideSize() const {
    const QMargins m = grid_->contentsMargins() + scroll_->widget()->layout()->contentsMargins();
    QSize size(m.left() + m.right() + 2 * grid_->horizontalSpacing(), 0);
    for (QLayout* c : columns_) {
      size.rwidth() += c->sizeHint().width();
      size.setHeight(std::max(size.height(), c->sizeHint().height()));
    }
    return size + QSize(0, m.top() + m.bottom());
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == scroll_ && event->type() == QEvent::Resize) place(fits());
    return false;
  }

 private:
  bool fits() const {
    const QSize wide = wideSize();
    // Side by side, a form taller than the area scrolls down, and its scroll bar takes width.
    const int bar = scroll_->height() < wide.height() ? scroll_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
    return scroll_->width() >= wide.width() + bar;
  }
  void place(bool wide) {
    if (placed_ && wide == wide_) return;
    placed_ = true;
    wide_ = wide;
    for (QLayout* c : columns_) grid_->removeItem(c);
    grid_->addLayout(columns_[0], 0, 0, wide ? 1 : 2, 1);
    grid_->addLayout(columns_[1], 0, 1);
    grid_->addLayout(columns_[2], wide ? 0 : 1, wide ? 2 : 1);
    grid_->setRowStretch(1, wide ? 0 : 1);
  }

  QScrollArea* scroll_;
  QGridLayout* grid_;
  std::array<QLayout*, 3> columns_;
  bool placed_ = false;
  bool wide_ = true;
};

QLabel* caption(const QString& text, QWidget* buddy = nullptr) {
  auto* l = new QLabel(text);
  if (buddy) l->setBuddy(buddy);
  return l;
}

// The caption the catalogue gives a field.
QString captionOf(const char* name) { return QString::fromUtf8(Form::def(Form::idOf(name)).caption); }

QGroupBox* group(const char* name, const char* title) {
  auto* g = new QGroupBox(QString::fromUtf8(title));
  g->setObjectName(QString::fromLatin1(name));
  return g;
}

QGroupBox* group(const layout::Group& g) { return group(g.name, g.caption); }

template <class L>
L* tight(L* layout) {
  layout->setContentsMargins(6, 4, 6, 6);
  layout->setSpacing(4);
  return layout;
}

// Width of a field that holds n characters.
int charsWide(const QWidget* w, int n) {
  return w->fontMetrics().horizontalAdvance(QLatin1Char('0')) * n + 12;
}

// At least n characters wide, wider when the column has room; never asks for more.
QWidget* compact(QWidget* w, int n) {
  w->setMinimumWidth(charsWide(w, n));
  w->setSizePolicy(QSizePolicy::Ignored, w->sizePolicy().verticalPolicy());
  return w;
}

}  // namespace

// ---- creation ----------------------------------------------------------------------------------

MainWindow::MainWindow(std::unique_ptr<PortSource> ports, Notifier* notifier, QWidget* parent)
    : QMainWindow(parent),
      boxNotifier_(this),
      notifier_(notifier ? notifier : &boxNotifier_),
      link_(&port_),
      session_(link_),
      sessionView_(session_, form_),
      transfer_(link_, session_),
      backup_(link_, session_),
      compareRead_(link_, session_),
      binder_(form_),
      history_(form_),
      portSource_(ports ? std::move(ports) : systemPortSource()) {
  setObjectName(QStringLiteral("TMain"));
  setWindowTitle(QStringLiteral("DOVU Konfigurator v " DOVU_VERSION));
  dispatcher_.attach(link_);
  dispatcher_.addStatusListener([this](const StatusRecord& r) { session_.takeStatus(r); });
  sessionView_.watch(transfer_);
  sessionView_.watch(backup_.read());
  sessionView_.watch(compareRead_);
  binder_.setHistory(&history_);
  connect(&link_, &Link::notice, this, &MainWindow::showAfterStep);
  connect(&session_, &Session::notice, this, &MainWindow::showAfterStep);
  connect(&transfer_, &ConfigTransfer::notice, this, &MainWindow::showAfterStep);
  connect(&backup_, &BackupBeforeWrite::notice, this, &MainWindow::showAfterStep);
  connect(&compareRead_, &ControllerRead::notice, this, &MainWindow::showAfterStep);
  // Every field takes the controller's value through the form's setters (the click rules run).
  connect(&transfer_, &ConfigTransfer::downloaded, this,
          [this](const Configuration& read) { showControllerConfiguration(form_, read); });
  connect(&transfer_, &ConfigTransfer::parameterHeld, this, [this](std::size_t index) {
    // The controller now holds these fields as the window sent them; after all of them, it is known.
    markParameterHeld(form_, transfer_.uploaded(), paramTable()[index]);
    if (transfer_.acknowledged() == paramTable().size()) form_.setControllerKnown(true);
  });
  // After a complete download the window holds what the controller holds: the backup before the
  // next write is taken from it, without a read of its own.
  connect(&transfer_, &ConfigTransfer::finished, this, [this](bool ok) {
    if (ok && !transfer_.uploading()) backup_.remember(configurationOf(form_));
    // The program changed the configuration: an undo or redo would put back values beside those
    // just read or written.
    if (ok) history_.stack().clear();
    if (closing_) QTimer::singleShot(0, this, [this] { closeWhenIdle(); });
  });
  connect(&compareRead_, &ControllerRead::finished, this, [this](bool ok) {
    if (closing_) return closeWhenIdle();
    showControllerComparison(ok);
  });
  // A backup that failed leaves the choice to the user; the question's default is "Nie".  While
  // closing nothing more is written, so nothing is asked.
  backup_.writeWithout = [this](const Problem& why) {
    return !closing_ && confirm(QString::fromUtf8(kWriteWithoutBackupQuestion).arg(polishReason(why)));
  };
  loadFile = [this] { loadConfigFileInteractive(this, form_, *notifier_); };
  saveFile = [this] { saveConfigFileInteractive(this, form_, *notifier_); };
  confirm = [this](const QString& text) { return askYesNo(this, text); };

  buildMenu();
  addSheetActions(*this, form_, *notifier_, [this] { return session_.firmwareVersion(); });
  chart_ = addChartDock(*this, dispatcher_, *notifier_);
  auto* body = new QWidget;
  auto* outer = new QVBoxLayout(body);
  outer->setContentsMargins(4, 0, 4, 4);
  outer->setSpacing(4);
  auto* columns = new QGridLayout;
  columns->setSpacing(4);
  columns->setContentsMargins(0, 0, 0, 0);
  auto* left = new QVBoxLayout;
  auto* middle = new QVBoxLayout;
  auto* right = new QVBoxLayout;
  left->addWidget(buildInputs());
  left->addWidget(buildMatrix());
  left->addStretch(1);
  middle->addWidget(buildOutputs());
  middle->addWidget(buildSensors());
  middle->addStretch(1);
  right->addWidget(buildDeviceOptions());
  right->addWidget(buildPhones());
  right->addWidget(buildState());
  right->addStretch(1);
  for (QVBoxLayout* c : {left, middle, right}) c->setSpacing(4);
  outer->addLayout(columns, 1);

  // On a screen too small for the whole form the form scrolls instead of being cut off.
  auto* scroll = new QScrollArea;
  scroll->setObjectName(QStringLiteral("FormScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setFocusPolicy(Qt::NoFocus);  // a Tab stop that shows nothing
  scroll->setWidgetResizable(true);
  scroll->setWidget(body);
  new ColumnFlow(scroll, columns, {left, middle, right});
  // The connection panel (the tool buttons, the port, the state) stays in view above the form.
  auto* central = new QWidget;
  central->setObjectName(QStringLiteral("Okno"));
  auto* stack = new QVBoxLayout(central);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(4);
  auto* top = new QVBoxLayout;
  top->setContentsMargins(4, 4, 4, 0);
  top->setSpacing(2);
  top->addWidget(buildConnectionPanel());
  unknown_ = new QLabel(QString::fromUtf8(kControllerUnknownText));
  unknown_->setObjectName(QStringLiteral("LabelStanWiedzy"));
  unknown_->setAccessibleName(QStringLiteral("Stan wiedzy o sterowniku"));
  unknown_->setWordWrap(true);
  top->addWidget(unknown_);
  stack->addLayout(top);
  stack->addWidget(scroll, 1);
  setCentralWidget(central);
  // Shown only while logged in and nothing has been read: offline the window has no controller.
  auto showKnown = [this] { unknown_->setVisible(session_.loggedIn() && !form_.controllerKnown()); };
  connect(&form_, &Form::knownChanged, this, showKnown);
  connect(&session_, &Session::loggedInChanged, this, showKnown);
  // Whatever was known belongs to the controller of an earlier login, maybe another one.
  connect(&session_, &Session::loginFinished, this, [this](Session::ConnectResult r) {
    if (r == Session::ConnectResult::LoggedIn) form_.setControllerKnown(false);
  });
  showKnown();

  // Exceptions that reach the event loop are reported here.
  if (Application* app = Application::instance())
    app->setExceptionHandler([this](std::exception_ptr e) { handleException(e); });
  // No port listed yet.
  portList_.clear();
  // The controller's line: 4800 bit/s, 8N1, no flow control.
  port_.setBaudRate(kLineBitsPerSecond);
  port_.setDataBits(8);
  port_.setParity(Parity::None);
  port_.setStopBits(StopBits::One);
  port_.setFlowControl(FlowControl{});
  // The fields carry their group colours and the default thresholds from the form's creation;
  // the live view is off.
  session_.liveOff();
  // The connect button waits for a port.
  form_.setEnabled("Button_polacz", false);
  refreshPorts();
  // The list follows adapters and simulators as they come and go; an open port is left alone.
  // A change seen while a port is open is taken up once it closes.
  auto follow = [this] {
    if (port_.isOpen()) return;
    guarded([this] { refreshPorts(); });
    if (jakieCom_ && jakieCom_->isVisible()) jakieCom_->showPorts(portList_);
  };
  connect(new PortWatcher(this), &PortWatcher::portsChanged, this, follow);
  connect(&session_, &Session::portClosed, this, follow);

  // Sized once the port list (or the note that there is none) is in place.
  QSize size = preferredSize();
  if (const QScreen* screen = this->screen())
    size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
  resize(size);
  if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

MainWindow::~MainWindow() {
  if (Application* app = Application::instance()) app->setExceptionHandler({});
}

QSize MainWindow::preferredSize() const {
  const auto* scroll = findChild<const QScrollArea*>(QStringLiteral("FormScroll"));
  const auto* flow = dynamic_cast<const ColumnFlow*>(scroll->findChild<QObject*>(QStringLiteral("FormColumns")));
  const QSize form = flow ? flow->wideSize() : scroll->widget()->sizeHint();
  const QSize top = centralWidget()->layout()->itemAt(0)->sizeHint();
  const QSize whole(std::max(form.width(), top.width()), form.height() + top.height() + 4);
  return whole.expandedTo(QSize(969, 650 - menuBar()->sizeHint().height())) + QSize(0, menuBar()->sizeHint().height());
}

void MainWindow::createDialogs() {
  if (!progres_) progres_ = new ProgressDialog(binder_, this);
  if (!jakieCom_) {
    jakieCom_ = new PortListDialog(this);
    connect(jakieCom_, &PortListDialog::refreshRequested, this, [this] { press(Press::Link, [this] { buttonComClick(); }); });
  }
}

QWidget* MainWindow::field(const char* name) { return binder_.create(name); }

QWidget* MainWindow::check(const char* name, bool withCaption) {
  auto* box = static_cast<QCheckBox*>(binder_.create(name));
  if (withCaption) box->setText(QString::fromUtf8(Form::def(Form::idOf(name)).caption));
  return box;
}

// A threshold field with its step pair beside it.
QWidget* MainWindow::spinField(const char* name) {
  auto* holder = new QWidget;
  auto* row = new QHBoxLayout(holder);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(1);
  QWidget* edit = field(name);
  edit->setFixedWidth(charsWide(edit, 6));
  row->addWidget(edit);
  if (const SensorInfo* s = sensorByField(name)) row->addWidget(binder_.create(spinButtonOf(*s)));
  return holder;
}

void MainWindow::press(Press press, std::function<void()> handler) {
  auto run = [this, handler = std::move(handler)] { guarded(handler); };
  if (press == Press::Local) run();
  else link_.submit(run, press == Press::Link ? Link::Queued::Keep : Link::Queued::DropIfSessionChanged);
}

void MainWindow::onClick(const char* name, void (MainWindow::*handler)(), Press how) {
  QObject* v = binder_.view(name);
  auto run = [this, handler, how] { press(how, [this, handler] { (this->*handler)(); }); };
  if (auto* a = qobject_cast<QAction*>(v)) connect(a, &QAction::triggered, this, run);
  else if (auto* b = qobject_cast<QAbstractButton*>(v)) connect(b, &QAbstractButton::clicked, this, run);
}

void MainWindow::buildMenu() {
  menuBar()->setObjectName(QStringLiteral("MainMenu"));
  std::map<std::string, QMenu*> menus;
  for (const FieldDef& d : Form::catalogue()) {
    if (d.kind != FieldKind::MenuItem) continue;
    QMenu*& menu = menus[d.group];
    if (!menu) {
      // Alt and the first letter open a menu; within it the first letter picks an item.
      menu = menuBar()->addMenu(QLatin1Char('&') + QString::fromUtf8(d.group));
      menu->setObjectName(QString::fromUtf8(d.group));
    }
    QAction* a = menu->addAction(QLatin1Char('&') + QString::fromUtf8(d.caption));
    binder_.bind(a, d.name);
  }
  QAction* backups = menuBar()->actions().value(0)->menu()->addAction(QStringLiteral("&Kopie zapasowe…"));
  backups->setObjectName(QStringLiteral("KopieZapasoweMenu"));
  connect(backups, &QAction::triggered, this, [this] { guarded([this] { backupsClick(); }); });
  QAction* compareController =
      menuBar()->actions().value(0)->menu()->addAction(QStringLiteral("Porównaj ze &sterownikiem…"));
  compareController->setObjectName(QStringLiteral("PorownajZeSterownikiemMenu"));
  connect(compareController, &QAction::triggered, this, [this] { guarded([this] { compareControllerClick(); }); });
  QAction* compareFile = menuBar()->actions().value(0)->menu()->addAction(QStringLiteral("Porównaj z &plikiem…"));
  compareFile->setObjectName(QStringLiteral("PorownajZPlikiemMenu"));
  connect(compareFile, &QAction::triggered, this, [this] { guarded([this] { compareFileClick(); }); });
  QAction* series = menuBar()->actions().value(0)->menu()->addAction(QStringLiteral("S&eria sterowników…"));
  series->setObjectName(QStringLiteral("SeriaSterownikowMenu"));
  connect(series, &QAction::triggered, this, [this] { guarded([this] { seriesClick(); }); });
  menuBar()->insertMenu(menuBar()->actions().value(1), history_.createMenu(this));
  qobject_cast<QAction*>(binder_.view("Odczyt1"))->setShortcut(QKeySequence::Open);
  qobject_cast<QAction*>(binder_.view("Zapis1"))->setShortcut(QKeySequence::Save);
  onClick("Odczyt1", &MainWindow::loadFileClick);
  onClick("Zapis1", &MainWindow::saveFileClick);
  onClick("Pobierz1", &MainWindow::downloadClick);
  onClick("Zapisz1", &MainWindow::uploadClick);
  onClick("Oprogramie1", &MainWindow::aboutClick);
}

QWidget* MainWindow::buildConnectionPanel() {
  auto* panel = new QFrame;
  panel->setObjectName(QStringLiteral("PanelKomunikacji"));
  panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(6, 4, 6, 4);
  row->setSpacing(4);

  for (const ToolButton& t : kToolButtons) {
    auto* b = new QToolButton;
    b->setIcon(style()->standardIcon(t.icon));
    b->setIconSize(QSize(24, 24));
    b->setAutoRaise(true);
    binder_.bind(b, t.name);
    row->addWidget(b);
    if (std::strcmp(t.name, "SpeedButton1") == 0) row->addSpacing(10);
  }
  onClick("SpeedButton2", &MainWindow::loadFileClick);
  onClick("SpeedButton1", &MainWindow::saveFileClick);
  onClick("Icon_get", &MainWindow::downloadClick);
  onClick("Icon_put", &MainWindow::uploadClick);
  row->addSpacing(16);

  comCombo_ = new QComboBox;
  comCombo_->setObjectName(QStringLiteral("ComCombo"));
  comCombo_->setAccessibleName(QStringLiteral("Port COM"));
  comCombo_->setMinimumWidth(charsWide(comCombo_, 16));
  comCombo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(comCombo_, &QComboBox::activated, this, [this](int i) { press(Press::Link, [this, i] { comComboChange(i); }); });
  row->addWidget(comCombo_);
  QWidget* com = field("ButtonCom");
  com->setMaximumWidth(charsWide(com, 5));
  onClick("ButtonCom", &MainWindow::buttonComClick, Press::Link);
  row->addWidget(com);
  row->addSpacing(16);

  QWidget* password = field("Edit_haslo");
  password->setFixedWidth(charsWide(password, 5));
  auto* passwordLabel = caption(captionOf("Edit_haslo"), password);
  passwordLabel->setObjectName(QStringLiteral("Label_haslo"));
  row->addWidget(passwordLabel);
  row->addWidget(password);
  row->addWidget(field("Button_polacz"));
  row->addWidget(field("Button_rozlacz"));
  onClick("Button_polacz", &MainWindow::connectClick, Press::Exchange);
  onClick("Button_rozlacz", &MainWindow::disconnectClick, Press::Link);
  row->addSpacing(16);
  for (const char* state : {"Edit_status", "Edit_logon"}) {
    auto* e = static_cast<QLineEdit*>(field(state));
    QFont bold = e->font();
    bold.setBold(true);
    e->setFont(bold);
    e->setAlignment(Qt::AlignCenter);
    e->setFixedWidth(charsWide(e, 13));
    row->addWidget(e);
  }
  // Two lines at most, broken after the dash: wrapped freely it would make the panel, and so the
  // window, taller than a laptop screen allows.
  noPorts_ = new QLabel(QString::fromUtf8(kNoPortsText).replace(QStringLiteral("— "), QStringLiteral("—\n")));
  noPorts_->setObjectName(QStringLiteral("LabelBrakPortow"));
  noPorts_->setAccessibleName(QStringLiteral("Brak portów COM"));
  noPorts_->setVisible(false);
  row->addWidget(noPorts_, 1);
  row->addStretch(1);
  return panel;
}

QGroupBox* MainWindow::buildInputs() {
  QGroupBox* g = group(layout::kInputsGroup);
  auto* grid = tight(new QGridLayout(g));
  grid->addWidget(caption(QString::fromUtf8(layout::kActiveColumn)), 0, 1, Qt::AlignHCenter);
  grid->addWidget(caption(QString::fromUtf8(layout::kInactiveColumn)), 0, 2, Qt::AlignHCenter);
  int r = 1;
  auto addRow = [&](const layout::InputRow& row) {
    QWidget* a = compact(field(row.active), 15);
    QWidget* n = compact(field(row.inactive), 15);
    grid->addWidget(caption(QString::fromUtf8(row.label), a), r, 0);
    grid->addWidget(a, r, 1);
    grid->addWidget(n, r, 2);
    if (row.threshold) grid->addWidget(spinField(row.threshold), r, 3);
    ++r;
  };
  for (const layout::InputRow& row : layout::kInputRows) addRow(row);
  for (const layout::InputRow& row : layout::kSupplyRows) addRow(row);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(2, 1);
  return g;
}

QGroupBox* MainWindow::buildOutputs() {
  QGroupBox* g = group(layout::kOutputsGroup);
  auto* box = tight(new QVBoxLayout(g));
  for (const layout::OutputGroup& o : layout::kOutputGroups) {
    QGroupBox* sub = group((std::string("GroupBox") + o.caption).c_str(), o.caption);
    auto* grid = new QGridLayout(sub);
    grid->setContentsMargins(6, 2, 6, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(0);
    const char* names[] = {o.on, o.off, o.nc, o.mono, o.time, o.limit};
    for (int c = 0; c < 6; ++c) {
      QWidget* w = c == 2 || c == 3 ? check(names[c], false) : field(names[c]);
      if (c < 2) w->setFixedWidth(charsWide(w, 5));
      if (c == 4) w->setFixedWidth(charsWide(w, 3));
      if (c == 5) w->setMinimumWidth(charsWide(w, 9));
      auto* l = caption(QString::fromUtf8(layout::kOutputColumns[c]), w);
      QFont small = l->font();
      small.setPointSizeF(small.pointSizeF() * 0.9);
      l->setFont(small);
      grid->addWidget(l, 0, c, c == 2 || c == 3 ? Qt::AlignHCenter : Qt::AlignLeft);
      grid->addWidget(w, 1, c, c == 2 || c == 3 ? Qt::AlignHCenter : Qt::Alignment());
    }
    grid->setColumnStretch(5, 1);
    box->addWidget(sub);
  }
  auto* confirm = new QHBoxLayout;
  confirm->addWidget(check("BoxPotw", true));
  QWidget* text = field("EditPotw");
  confirm->addWidget(text, 1);
  box->addLayout(confirm);
  return g;
}

QGroupBox* MainWindow::buildDeviceOptions() {
  QGroupBox* g = group(layout::kDeviceGroup);
  auto* grid = tight(new QGridLayout(g));
  QWidget* op = field("Combo_operator");
  QWidget* centre = field("Edit_operator");
  QWidget* pin = field("Edit_pin");
  pin->setFixedWidth(charsWide(pin, 5));
  grid->addWidget(caption(captionOf("Combo_operator"), op), 0, 0);
  grid->addWidget(op, 0, 1, 1, 3);
  grid->addWidget(caption(captionOf("Edit_operator"), centre), 1, 0);
  grid->addWidget(centre, 1, 1, 1, 3);
  grid->addWidget(caption(captionOf("Edit_pin"), pin), 2, 0);
  grid->addWidget(pin, 2, 1);
  grid->addWidget(field("Button_zmiana_hasla"), 2, 2, 1, 2);
  connect(static_cast<ChoiceBox*>(op), &ChoiceBox::closedUp, this, [this] { guarded([this] { form_.operatorCloseUp(); }); });
  onClick("Button_zmiana_hasla", &MainWindow::changePasswordClick, Press::Exchange);

  // Used today, then the daily limit.
  auto* limits = new QHBoxLayout;
  for (const auto& [used, limit] : {std::pair{"LabelSMS", "Edit_LimitSMS"}, std::pair{"LabelVoice", "Edit_LimitVoice"}}) {
    QWidget* u = field(used);
    QWidget* e = field(limit);
    e->setFixedWidth(charsWide(e, 3));
    u->setMinimumWidth(charsWide(u, 4));
    static_cast<QLabel*>(u)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    limits->addWidget(caption(captionOf(limit), e));
    limits->addWidget(u);
    limits->addWidget(e);
  }
  limits->addStretch(1);
  grid->addLayout(limits, 3, 0, 1, 4);
  grid->addWidget(check("BoxWyslijStan", true), 4, 0, 1, 4);
  grid->addWidget(check("BoxCA", true), 5, 0, 1, 2);
  grid->addWidget(check("BoxOut1sygn", true), 5, 2, 1, 2);

  auto* version = static_cast<QLabel*>(field("TextWersja"));
  QFont underlined = version->font();
  underlined.setUnderline(true);
  version->setFont(underlined);
  grid->addWidget(caption(captionOf("TextWersja"), version), 6, 0);
  grid->addWidget(version, 6, 1, 1, 3);

  auto* buttons = new QHBoxLayout;
  for (const char* b : {"ButtonFirmware", "ButtonRestart", "ButtonResetlimit"}) buttons->addWidget(field(b));
  grid->addLayout(buttons, 7, 0, 1, 4);
  onClick("ButtonFirmware", &MainWindow::firmwareClick, Press::Exchange);
  onClick("ButtonRestart", &MainWindow::restartClick, Press::Exchange);
  onClick("ButtonResetlimit", &MainWindow::resetLimitClick, Press::Exchange);
  grid->setColumnStretch(3, 1);
  return g;
}

QGroupBox* MainWindow::buildPhones() {
  QGroupBox* g = group(layout::kPhonesGroup);
  auto* grid = tight(new QGridLayout(g));
  grid->setVerticalSpacing(0);
  // Two columns, 1-4 and 5-8, each number under its label.
  for (int n = 1; n <= kPhones; ++n) {
    const std::string name = "Edit_Tel" + std::to_string(n);
    QWidget* e = compact(field(name.c_str()), 13);
    const int row = ((n - 1) % 4) * 2;
    const int column = (n - 1) / 4;
    grid->addWidget(caption(captionOf(name.c_str()), e), row, column);
    grid->addWidget(e, row + 1, column);
  }
  return g;
}

QGroupBox* MainWindow::buildMatrix() {
  QGroupBox* g = group(layout::kMatrixGroup);
  auto* box = tight(new QVBoxLayout(g));
  auto* tabs = new QTabWidget;
  tabs->setObjectName(QStringLiteral("TabSMSVoice"));
  for (const layout::MatrixPage& p : layout::kMatrixPages) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(p.sheet));
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(0);
    for (int tel = 1; tel <= kPhones; ++tel)
      grid->addWidget(caption(QString::number(tel)), 0, tel, Qt::AlignHCenter);
    std::vector<std::vector<QCheckBox*>> cells(kMatrixRows.size());
    for (std::size_t r = 0; r < kMatrixRows.size(); ++r) {
      grid->addWidget(caption(QString::fromUtf8(layout::kMatrixRowLabels[r])), static_cast<int>(r) + 1, 0);
      for (int tel = 1; tel <= kPhones; ++tel) {
        const std::string name = std::string("Box") + kMatrixRows[r] + p.letter + std::to_string(tel);
        cells[r].push_back(static_cast<QCheckBox*>(check(name.c_str(), false)));
        grid->addWidget(cells[r].back(), static_cast<int>(r) + 1, tel, Qt::AlignHCenter);
      }
    }
    new CheckGrid(std::move(cells), page);
    grid->setColumnStretch(kPhones + 1, 1);
    tabs->addTab(page, QString::fromUtf8(p.caption));
  }
  box->addWidget(tabs);

  box->addWidget(check("BoxAutoTest", true));
  auto* test = new QHBoxLayout;
  QWidget* text = field("EditAutotest");
  QWidget* hours = field("IleTest");
  hours->setFixedWidth(charsWide(hours, 3));
  test->addWidget(text, 1);
  test->addWidget(hours);
  test->addWidget(caption(QStringLiteral("h"), hours));
  box->addLayout(test);
  return g;
}

QGroupBox* MainWindow::buildState() {
  QGroupBox* g = group(layout::kStateGroup);
  auto* box = tight(new QVBoxLayout(g));

  auto* lamps = new QGridLayout;
  lamps->setSpacing(2);
  // A panel of lamps side by side.
  auto panel = [this](const char* name, std::span<const layout::Lamp> row) {
    auto* frame = new QFrame;
    frame->setObjectName(QString::fromLatin1(name));
    auto* lampRow = new QHBoxLayout(frame);
    lampRow->setContentsMargins(0, 0, 0, 0);
    lampRow->setSpacing(2);
    for (const layout::Lamp& lamp : row) lampRow->addWidget(field(lamp.name));
    return frame;
  };
  QFrame* inputs = panel("PanelWejscia", layout::kInputLamps);
  inputs->setToolTip(QString::fromUtf8(layout::kInputLampHint));
  QFrame* outputs = panel("PanelWyjscia", layout::kOutputLamps);
  // The controller flag "F" is no input: it sits beside the inputs' panel, outside its hint.
  lamps->addWidget(inputs, 0, 0);
  lamps->addWidget(field("PanelFab"), 0, 1);
  lamps->addWidget(outputs, 1, 0, 1, 2);
  // Shared out so the flag lamp is as wide as each input lamp.
  lamps->setColumnStretch(0, static_cast<int>(std::size(layout::kInputLamps)));
  lamps->setColumnStretch(1, 1);
  box->addLayout(lamps);

  QGroupBox* modem = group(layout::kModemGroup);
  auto* modemGrid = tight(new QGridLayout(modem));
  QWidget* rssi = field("BarRSSI");
  rssi->setMaximumHeight(14);
  modemGrid->addWidget(caption(captionOf("BarRSSI"), rssi), 0, 0);
  modemGrid->addWidget(rssi, 0, 1);
  modemGrid->addWidget(field("LabelZd"), 0, 2);
  modemGrid->addWidget(field("StatusBar"), 1, 0, 1, 3);
  modemGrid->setColumnStretch(1, 1);
  box->addWidget(modem);

  auto* readouts = new QGridLayout;
  readouts->setHorizontalSpacing(2);
  readouts->setVerticalSpacing(0);
  int c = 0;
  for (const layout::Readout& r : layout::kReadouts) {
    QWidget* e = compact(field(r.field), 5);
    readouts->addWidget(caption(QString::fromUtf8(r.label), e), 0, c, Qt::AlignHCenter);
    readouts->addWidget(e, 1, c);
    ++c;
  }
  box->addLayout(readouts);
  return g;
}

QGroupBox* MainWindow::buildSensors() {
  QGroupBox* g = group(layout::kSensorsGroup);
  auto* box = tight(new QVBoxLayout(g));
  auto* pages = new QTabWidget;
  pages->setObjectName(QStringLiteral("PageControl1"));
  pages->setUsesScrollButtons(false);  // all four pages always in sight
  for (const layout::SensorPage& p : layout::kSensorPages) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(p.sheet));
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setSpacing(3);
    const struct {
      const char* label;
      const char* text;
      const char* spinLabel;
      const char* spin;
    } rows[] = {{layout::kSensorHigh, p.high, layout::kSensorMax, p.max},
                {layout::kSensorNormal, p.normal, layout::kSensorMin, p.min},
                {layout::kSensorLow, p.low, layout::kSensorCorrection, p.correction}};
    int r = 0;
    for (const auto& row : rows) {
      QWidget* e = field(row.text);
      grid->addWidget(caption(QString::fromUtf8(row.label), e), r, 0);
      grid->addWidget(e, r, 1);
      if (row.spin) {
        QWidget* s = spinField(row.spin);
        grid->addWidget(caption(QString::fromUtf8(row.spinLabel)), r, 2);
        grid->addWidget(s, r, 3);
      }
      ++r;
    }
    QWidget* delay = field(p.delay);
    delay->setFixedWidth(charsWide(delay, 4));
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(caption(QString::fromUtf8(layout::kSensorDelay), delay));
    delayRow->addWidget(delay);
    delayRow->addWidget(caption(QString::fromUtf8(layout::kSensorDelayUnit)));
    delayRow->addStretch(1);
    grid->addLayout(delayRow, r, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    pages->addTab(page, QString::fromUtf8(p.caption));
  }
  box->addWidget(pages);

  auto* enquiry = new QGridLayout;
  enquiry->setHorizontalSpacing(6);
  enquiry->setVerticalSpacing(0);
  QWidget* question = field("JakiStan");
  question->setFixedWidth(charsWide(question, 5));
  enquiry->addWidget(caption(captionOf("JakiStan"), question), 0, 0);
  enquiry->addWidget(question, 0, 1, 1, 3, Qt::AlignLeft);
  enquiry->addWidget(caption(QString::fromUtf8(layout::kReplyCaption)), 2, 0);
  int c = 1;
  for (const layout::ReplyColumn& col : layout::kReplyColumns) {
    QWidget* b = check(col.box, false);
    enquiry->addWidget(caption(QString::fromUtf8(col.label), b), 1, c, Qt::AlignHCenter);
    enquiry->addWidget(b, 2, c, Qt::AlignHCenter);
    ++c;
  }
  enquiry->setColumnStretch(c, 1);
  box->addLayout(enquiry);
  return g;
}

// ---- port selection ----------------------------------------------------------------------------

void MainWindow::refreshPorts() {
  // Button_polacz follows the selection; while logged in it stays as the session set it.
  if (!session_.loggedIn()) form_.setEnabled("Button_polacz", false);
  if (auto list = listComPorts(*portSource_)) {
    portList_ = std::move(*list);
    const QSignalBlocker block(comCombo_);
    comCombo_->clear();
    for (const PortEntry& p : portList_) {
      // What the port is, beside its name, so that the user finds the adapter just plugged in.
      comCombo_->addItem(QStringLiteral("%1 — %2").arg(p.port, portLabel(p)), p.port);
      comCombo_->setItemData(comCombo_->count() - 1, portLabel(p), Qt::ToolTipRole);
    }
  }
  noPorts_->setVisible(comCombo_->count() == 0);
  // An open port, or one the user chose, stays selected while it is listed.
  const bool stillListed = std::any_of(portList_.begin(), portList_.end(),
                                       [this](const PortEntry& p) { return p.port == port_.port(); });
  if (!stillListed) userPicked_ = false;
  const int index = preferredPortIndex(portList_, port_.port(), userPicked_, port_.isOpen());
  {
    const QSignalBlocker block(comCombo_);
    comCombo_->setCurrentIndex(index);
  }
  if (index < 0) return;
  session_.selectPort(comCombo_->itemData(index).toString());
  if (!session_.loggedIn()) form_.setEnabled("Button_polacz", true);
}

void MainWindow::comComboChange(int index) {
  if (index < 0) return;
  userPicked_ = true;
  if (!session_.loggedIn()) form_.setEnabled("Button_polacz", true);
  session_.selectPort(comCombo_->itemData(index).toString());
}

void MainWindow::buttonComClick() {
  createDialogs();
  jakieCom_->show();
  jakieCom_->raise();
  refreshPorts();
  jakieCom_->showPorts(portList_);
}

// ---- session -----------------------------------------------------------------------------------

void MainWindow::connectClick() {
  if (comCombo_->currentIndex() < 0 && !port_.isOpen()) return;
  session_.setPassword(form_.text("Edit_haslo"));
  session_.connectAndLogin();
}

void MainWindow::disconnectClick() { session_.logoutAndDisconnect(); }

// The dialogs open once the line is idle; while one is open its own presses run at once.
void MainWindow::changePasswordClick() {
  backup_.forget();  // the controller's password may change
  session_.liveOff();
  PasswordDialog dialog(session_, form_, this);
  link_.releaseWhile([&] { dialog.exec(); });
}

void MainWindow::firmwareClick() {
  if (transfer_.busy() || backup_.busy()) return;
  // What the controller holds goes to the backup history before the update may start.
  backup_.take(BackupReason::BeforeFirmware, port_.port(), [this](bool ok) {
    if (!ok) return;
    backup_.forget();
    session_.liveOff();
    std::unique_ptr<QDialog> dialog(createFirmwareDialog(session_, link_, *notifier_, this));
    link_.releaseWhile([&] { dialog->exec(); });
  });
}

void MainWindow::restartClick() {
  if (confirm(QString::fromUtf8(kRestartQuestionText))) session_.restartDevice();
}

void MainWindow::resetLimitClick() { session_.resetCounters(); }

// ---- configuration -----------------------------------------------------------------------------

// The transfer queues itself behind the exchange under way; while a transfer runs or waits to
// run, another one is not started.
void MainWindow::downloadClick() {
  if (transfer_.busy() || backup_.busy()) return;
  // A download replaces every field: unsent edits go only when the user says so.
  form_.commitEditing();
  if (form_.hasUnsentEdits() && !confirm(QString::fromUtf8(kDownloadOverEditsText))) return;
  createDialogs();
  transfer_.requestDownload();
}

void MainWindow::uploadClick() { uploadParams({}); }

void MainWindow::uploadParams(std::vector<std::size_t> only) {
  if (transfer_.busy() || backup_.busy()) return;
  if (!uploadAgreed()) return;
  createDialogs();
  // What the controller holds goes to the backup history first; a backup that fails sends nothing.
  backup_.take(BackupReason::BeforeUpload, port_.port(), [this, only = std::move(only)](bool ok) {
    // Closed during the backup's read: nothing is written, and the window goes.
    if (closing_) return closeWhenIdle();
    if (!ok) return;
    backup_.forget();
    // What goes out is what the window shows once the field being edited has been left.
    form_.commitEditing();
    transfer_.requestUpload(configurationOf(form_), only);
  });
}

bool MainWindow::uploadAgreed() {
  if (form_.configurationReceived()) return true;
  if (!confirm(QString::fromUtf8(kUploadDefaultsText))) return false;
  // The user chose the window's configuration for the controller: no need to ask again.
  form_.markConfigurationReceived();
  return true;
}

void MainWindow::loadFileClick() {
  // A file load is one step of the edit history: undo puts every value and colour back.
  if (loadFile) history_.record(QStringLiteral("Odczyt"), Form::kNoField, loadFile);
}

void MainWindow::saveFileClick() {
  if (saveFile) saveFile();
}

void MainWindow::backupsClick() {
  // Loading a backup is a file load: the fields that differ from what the window holds turn red,
  // and undo puts the window back.
  auto* d = new BackupsDialog(
      BackupStore(),
      [this](const QString& path) {
        history_.record(QStringLiteral("Kopia zapasowa"), Form::kNoField, [&] { loadConfigFileFromPath(form_, *notifier_, path); });
      },
      [this](const QString& path) { compareWithFile(path, QStringLiteral("W kopii")); }, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->open();
}

void MainWindow::seriesClick() {
  // The series opens ports of its own; the window's connection, and its port, stay as they are.
  form_.commitEditing();
  auto* d = new SeriesDialog(form_, port_.isOpen() ? port_.port() : QString(), this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->open();
}

void MainWindow::compareControllerClick() {
  if (!session_.loggedIn()) {
    notifier_->message(MessageKind::Warning, QStringLiteral("Porównanie ze sterownikiem wymaga zalogowania"), QString());
    return;
  }
  compareRead_.start();
}

void MainWindow::showControllerComparison(bool ok) {
  if (!ok) return;  // the read said why, or the window was logged out
  form_.commitEditing();
  QString why;
  const auto mine = configValuesOf(configurationOf(form_), &why);
  const auto theirs = mine ? configValuesOf(compareRead_.result(), &why) : std::nullopt;
  if (!theirs) {
    notifier_->message(MessageKind::Error, QStringLiteral("Nie można porównać konfiguracji"), why);
    return;
  }
  auto* d = new CompareDialog(QStringLiteral("Porównanie ze sterownikiem"), QStringLiteral("W sterowniku"), *mine, *theirs,
                              QStringLiteral("Wyślij zaznaczone: wartości z okna trafią do sterownika."),
                              [this](std::vector<std::size_t> params) { uploadParams(std::move(params)); }, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->open();
}

void MainWindow::compareFileClick() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Porównaj z plikiem"), QString(),
                                                    QString::fromUtf8(kConfigFileFilter));
  if (!path.isEmpty()) compareWithFile(path, QStringLiteral("W pliku"));
}

void MainWindow::compareWithFile(const QString& path, const QString& otherSide) {
  form_.commitEditing();
  Notices notices;
  const auto other = readConfigFile(path, &notices);
  if (!other) return notifier_->show(notices);
  QString why;
  const auto mine = configValuesOf(configurationOf(form_), &why);
  const auto theirs = mine ? configValuesOf(*other, &why) : std::nullopt;
  if (!theirs) {
    notifier_->message(MessageKind::Error, QStringLiteral("Nie można porównać konfiguracji"), why);
    return;
  }
  auto send = [this, source = *other](std::vector<std::size_t> params) {
    // The window's configuration, as a file keeps it, with the chosen parameters as the file has
    // them, shown as a loaded file is: the fields that change turn red, and undo puts them back.
    QString fault;
    const auto own = configValuesOf(configurationOf(form_), &fault);
    if (!own) return;
    Configuration merged = configurationFrom(*own);
    for (std::size_t p : params) decodeParameter(merged, paramTable()[p], encodeParameter(source, paramTable()[p]));
    history_.record(QStringLiteral("Porównanie"), Form::kNoField, [&] { showConfiguration(form_, merged); });
    uploadParams(std::move(params));
  };
  auto* d = new CompareDialog(QStringLiteral("Porównanie z plikiem %1").arg(QFileInfo(path).fileName()), otherSide,
                              *mine, *theirs,
                              QStringLiteral("Wyślij zaznaczone: zaznaczone pola z pliku trafią do okna i do sterownika."),
                              std::move(send), this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->open();
}

void MainWindow::aboutClick() {
  AboutDialog dialog(this);
  dialog.exec();
}

// ---- closing and errors ------------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* e) {
  if (closed_) {
    e->accept();
    return;
  }
  // The window goes only once nothing is left half done; shutDown() closes it again then.
  inCloseEvent_ = true;
  guarded([this] { requestClose(); });
  inCloseEvent_ = false;
  if (closed_) e->accept();
  else e->ignore();
}

bool MainWindow::exchangeUnderWay() const {
  return transfer_.busy() || backup_.busy() || compareRead_.busy();
}

void MainWindow::requestClose() {
  if (closing_) return;  // already waiting for the exchange or the logout
  if (exchangeUnderWay()) {
    const bool writing = transfer_.busy() && transfer_.uploading();
    if (!confirm(QString::fromUtf8(writing ? kCloseDuringUploadText : kCloseDuringReadText))) return;
    closing_ = true;
    form_.setText("Label_Bar", QString::fromUtf8(kClosingLaterText));
    return;  // the end of the exchange calls closeWhenIdle()
  }
  closing_ = true;
  closeWhenIdle();
}

void MainWindow::closeWhenIdle() {
  if (!closing_ || closed_ || exchangeUnderWay()) return;
  form_.commitEditing();
  if (form_.hasUnsentEdits() && !confirm(QString::fromUtf8(kDiscardEditsText))) {
    closing_ = false;
    return;
  }
  if (!session_.loggedIn() || !port_.isOpen()) return shutDown();
  // Logged out before the port goes, without a box; the window goes when the request has ended.
  connect(&session_, &Session::logoutFinished, this, [this] { shutDown(); }, Qt::SingleShotConnection);
  press(Press::Link, [this] { session_.logoutAndDisconnect(true); });
}

void MainWindow::shutDown() {
  if (closed_) return;
  closed_ = true;
  link_.abortWaits();
  guarded([this] { session_.formClose(); });
  if (jakieCom_) jakieCom_->hide();
  if (progres_) progres_->hide();
  if (!inCloseEvent_) close();
}

void MainWindow::showAfterStep(const Notice& notice) {
  QMetaObject::invokeMethod(
      this,
      [this, notice] {
        // Nobody is left to read it once the window has gone.
        if (!closed_) notifier_->show(notice);
      },
      Qt::QueuedConnection);
}

void MainWindow::handleException(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    qWarning("dovu-konfig: %s", x.what());
  } catch (...) {
  }
}

}  // namespace dovu::ui
