#include "ui/dialogs.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "dovu/version.h"
#include "link/portlist.h"
#include "session/session.h"
#include "ui/application.h"
#include "ui/binder.h"
#include "ui/jpeg.h"
#include "ui/widgets.h"

// The picture is compiled into the static library; nothing else refers to it, so it is
// registered by hand before its first use.
static void initUiResources() { Q_INIT_RESOURCE(resources); }

namespace dovu::ui {

// ---- ProgressDialog -------------------------------------------------------------------------------

ProgressDialog::ProgressDialog(FieldBinder& binder, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint) {
  setModal(false);
  auto* outer = new QVBoxLayout(this);
  auto* panel = new QWidget(this);
  outer->addWidget(panel);
  auto* box = new QVBoxLayout(panel);
  box->setContentsMargins(12, 12, 12, 12);
  auto* label = binder.create("Label_Bar", panel);
  auto* bar = qobject_cast<QProgressBar*>(binder.create("Bar", panel));
  // The upload ends its 0..100 scale at one step per parameter, short of 100: a percentage
  // would make a finished upload look half done.
  bar->setTextVisible(false);
  bar->setMinimumWidth(300);
  QPalette p = bar->palette();
  p.setColor(QPalette::Highlight, QColor(0, 0, 128));  // navy
  bar->setPalette(p);
  box->addWidget(label);
  box->addWidget(bar);
  setFixedSize(sizeHint());  // measured with the bar panel shown
  binder.bind(panel, "Panel_bar");
  binder.bind(this, "FormProgres");
  setWindowTitle(QStringLiteral("Przesyłanie konfiguracji"));
}

void ProgressDialog::closeEvent(QCloseEvent* e) {
  // Only the transfer that showed it hides it.
  e->ignore();
}

// ---- PortListDialog ------------------------------------------------------------------------------

PortListDialog::PortListDialog(QWidget* parent)
    : QDialog(parent), portyCom_(new QPlainTextEdit(this)), devCom_(new QPlainTextEdit(this)) {
  setObjectName(QStringLiteral("FormJakieCOM"));
  setWindowTitle(QStringLiteral("Porty COM"));
  setModal(false);
  auto* box = new QVBoxLayout(this);
  box->addWidget(new QLabel(QStringLiteral("Dostępne porty COM w systemie"), this));
  auto* lists = new QHBoxLayout;
  portyCom_->setObjectName(QStringLiteral("PortyCom"));
  devCom_->setObjectName(QStringLiteral("DevCom"));
  portyCom_->setAccessibleName(QStringLiteral("Porty"));
  devCom_->setAccessibleName(QStringLiteral("Urządzenia"));
  portyCom_->setPlainText(QStringLiteral("PortyCom"));
  devCom_->setPlainText(QStringLiteral("DevCom"));
  for (QPlainTextEdit* e : {portyCom_, devCom_}) {
    e->setReadOnly(true);
    e->setLineWrapMode(QPlainTextEdit::NoWrap);
  }
  portyCom_->setFixedWidth(120);
  devCom_->setMinimumWidth(320);
  lists->addWidget(portyCom_);
  lists->addWidget(devCom_, 1);
  box->addLayout(lists);
  auto* refresh = new QPushButton(QStringLiteral("Odśwież"), this);
  refresh->setObjectName(QStringLiteral("Button1"));
  box->addWidget(refresh, 0, Qt::AlignRight);
  connect(refresh, &QPushButton::clicked, this, &PortListDialog::refreshRequested);
  resize(480, 220);
}

void PortListDialog::showPorts(const std::vector<PortEntry>& ports) {
  portyCom_->clear();
  devCom_->clear();
  for (const PortEntry& p : ports) {
    portyCom_->appendPlainText(p.port);
    devCom_->appendPlainText(portLabel(p));
  }
}

// ---- AboutDialog -------------------------------------------------------------------------------------

const char* AboutDialog::webAddress() { return DOVU_HOMEPAGE; }

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FInfo"));
  setWindowTitle(QStringLiteral("O programie"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  auto* outer = new QHBoxLayout(this);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* panelBox = new QVBoxLayout(panel);
  panelBox->setContentsMargins(2, 2, 2, 2);
  auto* image = new QLabel(panel);
  image->setObjectName(QStringLiteral("Image1"));
  image->setAccessibleName(QStringLiteral("Logo DOVU"));
  image->setFixedSize(130, 90);
  image->setAlignment(Qt::AlignCenter);
  initUiResources();
  QFile logo(QStringLiteral(":/dovu/logo.jpg"));
  if (logo.open(QIODevice::ReadOnly)) {
    const QImage picture = decodeJpeg(logo.readAll());
    if (!picture.isNull())
      image->setPixmap(QPixmap::fromImage(picture.scaled(130, 90, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  }
  panelBox->addWidget(image);
  outer->addWidget(panel, 0, Qt::AlignTop);

  auto* texts = new QVBoxLayout;
  auto* name = new QLabel(QStringLiteral("DOVU Konfigurator v" DOVU_VERSION), this);
  name->setObjectName(QStringLiteral("Label2"));
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  auto* author = new QLabel(QStringLiteral("Autor: zespół DOVU Konfigurator"), this);
  author->setObjectName(QStringLiteral("Label3"));
  auto* licence = new QLabel(QStringLiteral("Licencja: " DOVU_LICENSE), this);
  licence->setObjectName(QStringLiteral("LabelLicencja"));
  auto* link = new QLabel(this);
  link->setObjectName(QStringLiteral("Label1"));
  const QString url = QString::fromLatin1(webAddress());
  link->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff; text-decoration:underline\">%1</a>").arg(url));
  link->setTextFormat(Qt::RichText);
  link->setCursor(Qt::PointingHandCursor);
  link->setAccessibleName(url);
  connect(link, &QLabel::linkActivated, this, [](const QString& href) { QDesktopServices::openUrl(QUrl(href)); });
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("Button1"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  texts->addWidget(name);
  texts->addWidget(author);
  texts->addWidget(licence);
  texts->addWidget(link);
  texts->addStretch(1);
  texts->addWidget(ok, 0, Qt::AlignRight);
  outer->addLayout(texts);
  setFixedSize(sizeHint());
}

// ---- PasswordDialog -------------------------------------------------------------------------------

PasswordDialog::PasswordDialog(Session& session, const Form& form, QWidget* parent)
    : QDialog(parent), session_(session), edit_(new QLineEdit(this)), save_(new QPushButton(this)) {
  setObjectName(QStringLiteral("Fhaslo_nowe"));
  setWindowTitle(QStringLiteral("Zmiana hasła"));
  session_.dialogOpened();

  auto* label = new QLabel(QStringLiteral("Nowe hasło:"), this);
  edit_->setObjectName(QStringLiteral("Edit_haslo_nowe"));
  edit_->setAccessibleName(QStringLiteral("Nowe hasło"));
  edit_->setToolTip(QStringLiteral("Hasło dostępu (4 cyfry)"));
  // The same filter as the login box: whatever is set here must be typeable there.
  edit_->setValidator(new FieldValidator(form, Form::idOf("Edit_haslo"), edit_));
  edit_->setText(QString::fromLatin1(kDefaultPassword));
  label->setBuddy(edit_);

  save_->setText(QStringLiteral("Zapisz"));
  save_->setObjectName(QStringLiteral("Button1"));
  save_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Anuluj"), this);
  cancel->setObjectName(QStringLiteral("Button2"));

  auto* grid = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(edit_);
  grid->addLayout(row);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(save_);
  buttons->addWidget(cancel);
  grid->addLayout(buttons);

  auto enableSave = [this] { save_->setEnabled(Session::validPassword(edit_->text())); };
  connect(edit_, &QLineEdit::textChanged, this, enableSave);
  enableSave();
  connect(save_, &QPushButton::clicked, this, [this] {
    // One exchange at a time: a second press waits until the first one's request has ended.
    QPointer<PasswordDialog> self(this);
    const QString password = edit_->text();
    session_.link().submit([self, password] {
      if (!self || !self->isVisible()) return;  // closed meanwhile: nothing to send
      guarded([&] {
        if (!self->session_.changePassword(password)) return;
        QObject::connect(
            &self->session_, &Session::passwordChangeFinished, self,
            [self](bool changed) {
              if (changed && self) self->accept();
            },
            Qt::SingleShotConnection);
      });
    });
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  setFixedSize(sizeHint());
}

void PasswordDialog::done(int result) {
  QDialog::done(result);
  session_.dialogClosed();
}

}  // namespace dovu::ui
