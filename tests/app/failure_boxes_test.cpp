// The error box in the operator's words: a record really locked by another
// process during an accept and its retry, an index tag the engine refuses to
// maintain, and a registry folder that is gone. The boxes are Russian, name
// the file, record or tag on their last line, and the registry's files stay
// byte for byte as they were.

#include <QFile>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/journal/journal.h"
#include "card_fixture.h"
#include "lock_holder.h"

namespace ravelto::app::testing {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FailureBoxesTest : public CardTest {
 protected:
  void TearDown() override {
    registry::SetLockRetryPolicy({});
    CardTest::TearDown();
  }
  TForm1& LoadCard(RoutingServer& server) {
    server.Answer("/medic/home/item.php",
                  ItemBody({"101", "0", "t", "e", "8-900", "Температура", "marks", "", "", "", ",tosh=1"}));
    server.Answer("/medic/home/list.php", "501,1#");
    server.Answer("/medic/home/save.php", "ok");
    TForm1& form = MakeCardForm(server);
    ClickRequest(form, form.ListBox1, QStringLiteral("501"));
    return form;
  }
  // m1042's three files, to compare before and after.
  std::string TableBytes() const {
    return Bytes(RegistryDir() + "/m1042.dbf") + "|" + Bytes(RegistryDir() + "/m1042.fpt") + "|" +
           Bytes(RegistryDir() + "/m1042.cdx");
  }
};

TEST_F(FailureBoxesTest, RecordLockedByAnotherProcessIsToldInRussianForTheAcceptAndItsRetry) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  registry::SetLockRetryPolicy({3, std::chrono::milliseconds(1)});
  const std::string before = TableBytes();
  std::int64_t id = 0;
  {
    // The lock byte of record 1, the row the insert appends to the empty table.
    LockHolder holder(RegistryDir() + "/m1042.dbf", 0x7FFFFFFE - 1);
    form.Guard([&] { form.Button1Click(); });
    ASSERT_EQ(platform_.errors.size(), 1);
    EXPECT_EQ(platform_.errors[0],
              U("Запись 1 таблицы m1042 занята другой программой. Запись в регистр не завершена. Решение "
                "отправлено в службу и сохранено в журнале: когда программа регистратуры освободит её, откройте "
                "«Журнал решений» и нажмите «Повторить запись».\nm1042.dbf, запись 1"));

    const auto pending = form.DecisionJournal()->PendingWrites();
    ASSERT_EQ(pending.size(), 1u);
    id = pending[0].id;
    // The journal keeps the engine's own message in full.
    EXPECT_NE(pending[0].registryMessage.find("Record 1 of Table 'm1042' is in use by another user"),
              std::string::npos)
        << pending[0].registryMessage;

    EXPECT_FALSE(form.RetryRegistryWrite(id));
    ASSERT_EQ(platform_.errors.size(), 2);
    EXPECT_EQ(platform_.errors[1],
              U("Запись 1 таблицы m1042 занята другой программой. Запись в регистр не завершена; решение "
                "остаётся в журнале: когда программа регистратуры освободит её, нажмите «Повторить запись» ещё "
                "раз.\nm1042.dbf, запись 1"));
    EXPECT_EQ(TableBytes(), before);
  }
  EXPECT_TRUE(form.RetryRegistryWrite(id));
  EXPECT_EQ(platform_.errors.size(), 2);
}

TEST_F(FailureBoxesTest, TagTheEngineCannotMaintainIsNamedAndTheTableKeptByteForByte) {
  // The registry program's m1042 with its structural index, whose DZKL tag is
  // made to use DTOC(), a function the engine does not reproduce.
  for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
    const std::string to = RegistryDir() + "/m1042" + ext;
    std::filesystem::copy_file(std::string(RAVELTO_TEST_DATA) + "/registry/registry-cdx/m1042" + ext, to,
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::string cdx = Bytes(RegistryDir() + "/m1042.cdx");
  const std::size_t at = cdx.find("DToS( DATA_Z )");
  ASSERT_NE(at, std::string::npos);
  cdx.replace(at, 4, "DTOC");
  std::ofstream(RegistryDir() + "/m1042.cdx", std::ios::binary | std::ios::trunc) << cdx;

  RoutingServer server;
  TForm1& form = LoadCard(server);
  const std::string before = TableBytes();
  form.Guard([&] { form.Button1Click(); });
  ASSERT_EQ(platform_.errors.size(), 1);
  EXPECT_EQ(platform_.errors[0],
            U("Индекс таблицы m1042 содержит тег, который эта программа не умеет поддерживать. Запись в регистр "
              "не завершена. Решение отправлено в службу и сохранено в журнале: после того как администратор "
              "базы регистратуры изменит или удалит этот тег, откройте «Журнал решений» и нажмите «Повторить "
              "запись».\nm1042.cdx, тег DZKL"));
  EXPECT_EQ(TableBytes(), before);
  const auto pending = form.DecisionJournal()->PendingWrites();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_NE(pending[0].registryMessage.find("DTOC() is not supported"), std::string::npos)
      << pending[0].registryMessage;
}

TEST_F(FailureBoxesTest, ProcessedRequestWithTheRegistryFolderGoneSaysToCheckThePath) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", ItemBody({"101", "1", "t", "e", "8-900", "", "", "", "10:00", "61003"}));
  TForm1& form = MakeCardForm(server);
  std::filesystem::remove_all(RegistryDir());
  form.Guard([&] { ClickRequest(form, form.ListBox2, QStringLiteral("501")); });
  ASSERT_EQ(platform_.errors.size(), 1);
  EXPECT_EQ(platform_.errors[0],
            U("Папка базы регистратуры не найдена или не читается. Действие прервано: проверив путь к базе на "
              "вкладке настроек, повторите его.\n") +
                QString::fromStdString(RegistryDir()));
}

}  // namespace
}  // namespace ravelto::app::testing
