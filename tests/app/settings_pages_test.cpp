// The settings pages: both save buttons (file bytes, messages, failures) and
// the Config grid's rules.

#include <QAbstractItemView>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest/QTest>

#include "app/form1.h"
#include "app/settings_grid.h"
#include "form_fixture.h"

namespace ravelto::app::testing {
namespace {

using SettingsPagesTest = FormTest;

// The grid's open cell editor (closed ones are hidden until deleted).
QLineEdit* OpenEditor(QWidget* grid) {
  for (auto* editor : grid->findChildren<QLineEdit*>()) {
    if (!editor->isHidden()) return editor;
  }
  return nullptr;
}

std::vector<std::string> Lines(TForm1& form) { return form.Settings()->List().Lines(); }

TEST_F(SettingsPagesTest, SaveWithoutFileCreatesEmptyFileAndSaysSo) {
  TForm1& form = MakeForm();
  EXPECT_EQ(form.Settings()->rowCount(), 1);  // an empty list shows one empty row
  form.BitBtn2->click();
  EXPECT_EQ(ReadConfig(), "");
  EXPECT_EQ(platform_.messages, QStringList{QStringLiteral("Сохранено")});
}

TEST_F(SettingsPagesTest, SaveSettingsWritesTheListNotTheFields) {
  WriteConfig("[main]\nID=17\n\xEF\xF3\xF2\xFC=\xC4:\\\n");
  TForm1& form = MakeForm();
  form.Edit2->setText(QStringLiteral("99"));  // not copied by this button
  form.BitBtn2->click();
  EXPECT_EQ(ReadConfig(), "[main]\r\nID=17\r\n\xEF\xF3\xF2\xFC=\xC4:\\\r\n");
}

TEST_F(SettingsPagesTest, ProxySaveWritesDeletesAndAppendsThenSaves) {
  WriteConfig("id=1\r\nPROXY=old\r\nproxylogin=u\r\nproxyport=3128\r\n");
  TForm1& form = MakeForm();
  form.Edit12->setText(QStringLiteral("new host"));
  form.Edit13->clear();
  form.Edit14->setText(QStringLiteral("пароль"));
  form.Edit15->setText(QStringLiteral("8a"));  // not checked when saving
  form.SpeedButton1->click();
  EXPECT_EQ(ReadConfig(),
            "id=1\r\nproxy=new host\r\nproxyport=8a\r\nproxypass=\xEF\xE0\xF0\xEE\xEB\xFC\r\n");
  EXPECT_EQ(platform_.messages, QStringList{QStringLiteral("Сохранено")});
  EXPECT_EQ(form.Client.Proxy().server, "old");  // not applied to the client

  form.Edit12->clear();
  form.SpeedButton1->click();
  EXPECT_EQ(ReadConfig(), "id=1\r\nproxyport=8a\r\nproxypass=\xEF\xE0\xF0\xEE\xEB\xFC\r\n");
}

TEST_F(SettingsPagesTest, FailedSaveShowsTheMessageAndKeepsTheList) {
  WriteConfig("id=1\r\n");
  TForm1& form = MakeForm();
  // The file's name is taken by a folder: it cannot be replaced.
  QFile::remove(QStringLiteral("config.ini"));
  ASSERT_TRUE(QDir().mkdir(QStringLiteral("config.ini")));
  form.Edit12->setText(QStringLiteral("gate"));
  form.SpeedButton1->click();

  ASSERT_EQ(platform_.errors.size(), 1);
  const QString expectedStart = QStringLiteral("Cannot create file \"%1\". ")
                                    .arg(QDir::current().absoluteFilePath(QStringLiteral("config.ini")));
  EXPECT_TRUE(platform_.errors[0].startsWith(expectedStart)) << platform_.errors[0].toStdString();
  EXPECT_TRUE(platform_.errors[0].endsWith(QLatin1Char('.')));
  EXPECT_TRUE(platform_.messages.isEmpty());
  EXPECT_EQ(Lines(form), (std::vector<std::string>{"id=1", "proxy=gate"}));
}

TEST_F(SettingsPagesTest, GridShowsKeysAndValuesAndOnlyValuesAreEditable) {
  WriteConfig("id=5\n[section]\nurl=a=b\n");
  TForm1& form = MakeForm();
  SettingsModel* model = form.Settings();
  const char* expected[][2] = {{"id", "5"}, {"", "[section]"}, {"url", "a=b"}};
  ASSERT_EQ(model->rowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(model->index(row, 0).data().toString(), QString::fromLatin1(expected[row][0]));
    EXPECT_EQ(model->index(row, 1).data().toString(), QString::fromLatin1(expected[row][1]));
    EXPECT_FALSE(model->flags(model->index(row, 0)) & Qt::ItemIsEditable);
    EXPECT_TRUE(model->flags(model->index(row, 1)) & Qt::ItemIsEditable);
  }
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Key"));
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Value"));
  EXPECT_EQ(form.ValueListEditor1->horizontalHeader()->sectionSize(0), 139);
  EXPECT_EQ(form.ValueListEditor1->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);

  // The cursor cannot rest on a key cell: it moves on to the row's value.
  form.ValueListEditor1->setCurrentIndex(model->index(2, 0));
  QTRY_COMPARE(form.ValueListEditor1->currentIndex(), model->index(2, 1));
}

TEST_F(SettingsPagesTest, GridStoresEveryKeystrokeIntoTheLine) {
  WriteConfig("id=5\n[x]\n");
  TForm1& form = MakeForm();
  form.PageControl1->setCurrentIndex(3);
  form.show();
  SettingsGrid* grid = form.ValueListEditor1;
  grid->setCurrentIndex(form.Settings()->index(0, 1));  // opens the editor
  auto* editor = OpenEditor(grid);
  ASSERT_NE(editor, nullptr);
  editor->end(false);
  QTest::keyClick(editor, Qt::Key_7);
  EXPECT_EQ(Lines(form)[0], "id=57");  // stored before the editor is closed
  QTest::keyClick(editor, Qt::Key_Backspace);
  QTest::keyClick(editor, Qt::Key_Backspace);
  EXPECT_EQ(Lines(form)[0], "id=");  // an empty value keeps "key="
  editor->insert(QStringLiteral("Ж"));  // typed through an input method
  EXPECT_EQ(Lines(form)[0], "id=\xC6");

  // A line without "=" gets the empty key and "=" once edited.
  grid->setCurrentIndex(form.Settings()->index(1, 1));
  editor = OpenEditor(grid);
  ASSERT_NE(editor, nullptr);
  editor->end(false);
  QTest::keyClick(editor, Qt::Key_Y);
  EXPECT_EQ(Lines(form)[1], "=[x]y");

  // Saving takes the edited value; the field keeps the start-up value.
  form.BitBtn2->click();
  EXPECT_EQ(ReadConfig(), "id=\xC6\r\n=[x]y\r\n");
  EXPECT_EQ(form.Edit2->text(), QStringLiteral("5"));
}

TEST_F(SettingsPagesTest, EmptyRowsAreDroppedWhenTheCursorLeaves) {
  WriteConfig("a=1\r\n\r\n=\r\nb=2\r\n");
  TForm1& form = MakeForm();
  SettingsGrid* grid = form.ValueListEditor1;
  SettingsModel* model = form.Settings();
  grid->setCurrentIndex(model->index(1, 1));  // the blank line
  EXPECT_EQ(Lines(form).size(), 4u);          // still there while the cursor is on it
  grid->setCurrentIndex(model->index(2, 1));  // leaves it: dropped; now on the "=" line
  EXPECT_EQ(Lines(form), (std::vector<std::string>{"a=1", "=", "b=2"}));
  grid->setCurrentIndex(model->index(2, 1));  // to "b=2": the "=" line goes too
  EXPECT_EQ(Lines(form), (std::vector<std::string>{"a=1", "b=2"}));
  grid->setCurrentIndex(model->index(0, 1));
  EXPECT_EQ(Lines(form), (std::vector<std::string>{"a=1", "b=2"}));  // others stay
}

TEST_F(SettingsPagesTest, EmptyListRowTakesAnEditAndDisappearsWhenCleared) {
  TForm1& form = MakeForm();
  SettingsModel* model = form.Settings();
  ASSERT_EQ(model->rowCount(), 1);
  model->setData(model->index(0, 1), QStringLiteral("v"));
  EXPECT_EQ(Lines(form), std::vector<std::string>{"=v"});
  model->setData(model->index(0, 1), QString());
  EXPECT_TRUE(model->DropIfEmpty(0));
  EXPECT_EQ(model->rowCount(), 1);
  EXPECT_TRUE(Lines(form).empty());
}

}  // namespace
}  // namespace ravelto::app::testing
