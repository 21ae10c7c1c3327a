// The window's configuration file commands without their file dialogs: what the user is told.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "ui/form.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "wording.h"
#include "ui/configfileui.h"

namespace dovu {
namespace {

using test::RecordingNotifier;

TEST(ConfigFileUi, LoadConfirmsWithBeepSaveIsSilentFailuresSayWhy) {
  test::app();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("a.dvc"));
  Form form;
  form.setText("Edit_Tel2", QStringLiteral("+48500100200"));
  RecordingNotifier n;
  ASSERT_TRUE(ui::saveConfigFileToPath(form, n, path));
  EXPECT_TRUE(n.events.empty());

  Form other;
  ASSERT_TRUE(ui::loadConfigFileFromPath(other, n, path));
  EXPECT_EQ(other.text("Edit_Tel2"), QStringLiteral("+48500100200"));
  ASSERT_EQ(n.events.size(), 2u);
  EXPECT_TRUE(n.events[0].beep);
  EXPECT_EQ(n.events[1].kind, MessageKind::Information);
  EXPECT_EQ(n.events[1].text, QString::fromUtf8(kConfigLoadedText));

  // A refused file: its own message only, no confirmation.
  RecordingNotifier m;
  QFile bad(dir.filePath(QStringLiteral("b.dvc")));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("dvf\x01\x02", 5);
  bad.close();
  EXPECT_FALSE(ui::loadConfigFileFromPath(other, m, bad.fileName()));
  EXPECT_EQ(m.count(QString::fromUtf8(kConfigLoadedText)), 0);
  EXPECT_EQ(m.count(cli::englishText(Cause::BadFormat)), 1);

  // A save that cannot be written names the reason.
  RecordingNotifier s;
  EXPECT_FALSE(ui::saveConfigFileToPath(form, s, dir.filePath(QStringLiteral("no/such/dir/c.dvc"))));
  ASSERT_EQ(s.texts(), QStringList{cli::englishText(Cause::ConfigNotSaved)});
  EXPECT_FALSE(s.events.back().detail.isEmpty());
}

TEST(ConfigFileUi, ALoadThatSetsBoxCaKeepsTheInputTextsItChangedRed) {
  test::app();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("ca.dvc"));
  Form source;
  source.setChecked("BoxCA", true);
  source.setText("Edit_IN2A", QStringLiteral("Napad"));
  source.setText("Edit_IN2N", QStringLiteral("Koniec"));
  RecordingNotifier n;
  ASSERT_TRUE(ui::saveConfigFileToPath(source, n, path));

  Form form;
  EXPECT_FALSE(form.configurationReceived());
  ASSERT_TRUE(ui::loadConfigFileFromPath(form, n, path));
  EXPECT_TRUE(form.configurationReceived());
  EXPECT_TRUE(form.checked("BoxCA"));
  EXPECT_EQ(form.colour("Edit_IN2A"), kRed);
  EXPECT_EQ(form.colour("Edit_IN2N"), kRed);
  // Texts the load left alone swap to the mini CA pair.
  EXPECT_EQ(form.colour("Edit_IN3A"), kGreen);
  EXPECT_EQ(form.colour("Edit_IN3N"), kOrange);
  EXPECT_TRUE(form.hasUnsentEdits());
}

}  // namespace
}  // namespace dovu
