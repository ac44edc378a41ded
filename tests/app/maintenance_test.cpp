// The self-update and the driver installer driven through the real window
// against a scripted file service on loopback.

#include <QLabel>
#include <QPushButton>
#include <QAction>

#include <sys/stat.h>

#include "service/protocol.h"
#include "tests/maintenance/expected_update_bat.h"
#include "tests/maintenance/loopback_server.h"
#include "tests/maintenance/window_fixture.h"

namespace ravelto::maintenance::testing {
namespace {

// A file service: the latest version, and downloads of `downloadSize` bytes.
class FileService {
 public:
  FileService(std::string latest, std::size_t downloadSize, std::string downloadStatus = "HTTP/1.1 200 OK",
              long long declaredLength = -1)
      : server_([=](const std::string& requestLine) {
          if (requestLine.find("/upload/online.php?home=1 ") != std::string::npos) {
            return ScriptedAnswer{"HTTP/1.1 200 OK", latest};
          }
          std::string body(downloadSize, 'M');
          if (!body.empty()) body.back() = 'Z';
          return ScriptedAnswer{downloadStatus, body, declaredLength};
        }) {}
  int port() const { return server_.port(); }
  Lines requests() const { return server_.requests(); }

 private:
  LoopbackServer server_;
};

class MaintenanceTest : public WindowTest {
 protected:
  // A folder for PATH holding the named programs (empty scripts).
  std::string PathWith(const std::vector<std::string>& programs) {
    const auto bin = Folder() / "bin";
    std::filesystem::create_directories(bin);
    for (const std::string& name : programs) {
      WriteFile(bin / name, "#!/bin/sh\n");
      ::chmod((bin / name).c_str(), 0755);
    }
    return bin.string();
  }
  bool Exists(const char* name) const { return std::filesystem::exists(Folder() / name); }
};

TEST_F(MaintenanceTest, OnlyAWholeNumberAboveTwentyOneLeadsToTheQuestion) {
  struct Case {
    std::string latest;
    const char* message;  // nullptr: the question is asked
  };
  const Case cases[] = {
      {"21", "Обновлений не найдено"},
      {"-5", "Обновлений не найдено"},
      {"22", nullptr},
      {" 22", nullptr},
      {"+22", nullptr},
      {"22\r\n", "Проверьте настройки подключения"},
      {"", "Проверьте настройки подключения"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.latest);
    FileService service(c.latest, 200000);
    WriteConfigLines(ProxyTo(service.port()));
    ResetPlatform();
    platform_.okAnswers.push_back(false);  // the operator declines: nothing is downloaded
    app::TForm1& form = OpenWindow();
    form.StatusPanel(3)->setText(U8("before"));
    form.N5->trigger();

    if (c.message) {
      EXPECT_EQ(platform_.messages, QStringList{U8(c.message)});
      EXPECT_TRUE(platform_.questions.empty());
    } else {
      EXPECT_TRUE(platform_.messages.empty());
      ASSERT_EQ(platform_.questions.size(), 1u);
      EXPECT_EQ(platform_.questions[0].caption, U8("Новая версия"));
      EXPECT_EQ(platform_.questions[0].text, U8("Доступна новая версия. Установить?"));
    }
    EXPECT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(form.StatusPanel(3)->text(), U8("before"));
    EXPECT_FALSE(Exists("raveltonew.exe"));
    EXPECT_FALSE(Exists("update.bat"));
    EXPECT_EQ(closes.closes, 0);
  }
}

TEST_F(MaintenanceTest, UpdateWithoutServiceAsksToCheckTheConnection) {
  WriteConfigLines(ProxyTo(ClosedPort()));
  app::TForm1& form = OpenWindow();
  form.N5->trigger();
  EXPECT_EQ(platform_.messages, QStringList{U8("Проверьте настройки подключения")});
  EXPECT_TRUE(platform_.errors.empty());
}

TEST_F(MaintenanceTest, ADownloadOfAtMostOneHundredThousandBytesIsRefused) {
  FileService service("22", 100000);
  WriteConfigLines(ProxyTo(service.port()));
  app::TForm1& form = OpenWindow();
  form.N5->trigger();
  EXPECT_EQ(platform_.messages, QStringList{U8("Ошибка загрузки файла!")});
  EXPECT_FALSE(Exists("raveltonew.exe"));
  EXPECT_FALSE(Exists("update.bat"));
  EXPECT_TRUE(platform_.starts.empty());
  EXPECT_EQ(closes.closes, 0);
}

TEST_F(MaintenanceTest, ANewVersionIsWrittenAndTheSwapScriptStartedBeforeClosing) {
  FileService service("22", 100001);
  WriteConfigLines(ProxyTo(service.port()));
  ScopedPath path(PathWith({}));  // no terminal emulator: the script runs directly
  app::TForm1& form = OpenWindow();
  form.StatusPanel(3)->setText(U8("before"));
  platform_.randomNumbers.push_back(31337);
  form.N5->trigger();

  const Lines requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[1].find("/upload/ravelto.exe?31337 HTTP/1.1"), std::string::npos) << requests[1];
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_TRUE(platform_.errors.empty());
  const std::string program = ReadFile(Folder() / "raveltonew.exe");
  ASSERT_EQ(program.size(), 100001u);
  EXPECT_EQ(program.back(), 'Z');
  EXPECT_EQ(ReadFile(Folder() / "update.bat"), ExpectedUpdateBat());
  EXPECT_TRUE(Exists("update.sh"));
  ASSERT_EQ(platform_.starts.size(), 1u);
  EXPECT_EQ(platform_.starts[0].program, U8("/bin/sh"));
  EXPECT_EQ(platform_.starts[0].arguments,
            (QStringList{U8("update.sh"), QString::number(QCoreApplication::applicationPid())}));
  EXPECT_EQ(platform_.starts[0].commandLine,
            U8("/bin/sh update.sh ") + QString::number(QCoreApplication::applicationPid()));
  EXPECT_EQ(form.StatusPanel(3)->text(), U8("before"));
  EXPECT_EQ(closes.closes, 1);
}

TEST_F(MaintenanceTest, AFailedDownloadGoesToTheErrorBoxAndTheDeskStays) {
  FileService service("22", 150000, "HTTP/1.1 404 Not Found");
  WriteConfigLines(ProxyTo(service.port()));
  app::TForm1& form = OpenWindow();
  form.N5->trigger();
  EXPECT_EQ(platform_.errors, QStringList{U8("HTTP/1.1 404 Not Found.")});
  EXPECT_FALSE(Exists("raveltonew.exe"));
  EXPECT_FALSE(Exists("update.bat"));
  EXPECT_EQ(closes.closes, 0);
}

// Downloads may be as large as 512 MiB: more than any other answer, and a
// body announced beyond that fails before anything is held or written.
TEST_F(MaintenanceTest, DownloadsAreBoundedAtFiveHundredTwelveMebibytes) {
  {
    FileService service("22", 1000, "HTTP/1.1 200 OK", 600ll << 20);
    WriteConfigLines(ProxyTo(service.port()));
    OpenWindow().N5->trigger();
    ASSERT_EQ(platform_.errors.size(), 1);
    EXPECT_TRUE(platform_.errors[0].contains(U8("536870912"))) << platform_.errors[0].toStdString();
    EXPECT_FALSE(Exists("raveltonew.exe"));
    EXPECT_EQ(closes.closes, 0);
  }
  {
    // 300 MiB announced: accepted by the download bound; the server then
    // closes after 1000 bytes, which the size rule refuses.
    FileService service("", 1000, "HTTP/1.1 200 OK", 300ll << 20);
    WriteConfigLines(ProxyTo(service.port()));
    ResetPlatform();
    OpenWindow().BitBtn9->click();
    EXPECT_TRUE(platform_.errors.empty());
    EXPECT_EQ(platform_.messages, U8List({"Ошибка загрузки файла!"}));
    EXPECT_FALSE(Exists("odbc.msi"));
  }
}

TEST_F(MaintenanceTest, AnExistingPackageIsInstalledWithoutAnyNetwork) {
  for (bool haveInstaller : {true, false}) {
    SCOPED_TRACE(haveInstaller);
    WriteConfigLines(ProxyTo(ClosedPort()));
    WriteFile(Folder() / "odbc.msi", "damaged");
    ScopedPath path(PathWith(haveInstaller ? std::vector<std::string>{"msiexec"} : std::vector<std::string>{}));
    if (!haveInstaller) std::filesystem::remove(Folder() / "bin" / "msiexec");
    ResetPlatform();
    app::TForm1& form = OpenWindow();
    form.StatusPanel(3)->setText(U8("before"));
    form.BitBtn9->click();

    EXPECT_EQ(platform_.messages, QStringList{U8("Драйвер установлен!")});
    EXPECT_TRUE(platform_.errors.empty());
    if (haveInstaller) {
      ASSERT_EQ(platform_.starts.size(), 1u);
      EXPECT_EQ(platform_.starts[0].program, QString::fromStdString((Folder() / "bin" / "msiexec").string()));
      EXPECT_EQ(platform_.starts[0].arguments,
                (QStringList{U8("/passive"), U8("/i"), U8("odbc.msi"), U8("ALLUSERS=1"), U8("REBOOT=R")}));
    } else {
      EXPECT_TRUE(platform_.starts.empty());
    }
    EXPECT_EQ(ReadFile(Folder() / "odbc.msi"), "damaged");
    EXPECT_EQ(form.StatusPanel(3)->text(), U8("before"));
  }
}

TEST_F(MaintenanceTest, ThePackageIsDownloadedOnlyAboveOneHundredThousandBytes) {
  ScopedPath path(PathWith({"msiexec"}));
  for (std::size_t size : {std::size_t{100000}, std::size_t{100001}}) {
    SCOPED_TRACE(size);
    FileService service("", size);
    WriteConfigLines(ProxyTo(service.port()));
    ResetPlatform();
    platform_.randomNumbers.push_back(5);
    app::TForm1& form = OpenWindow();
    form.BitBtn9->click();

    const Lines requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("/upload/VFPOLEDBSetup.msi?5 HTTP/1.1"), std::string::npos) << requests[0];
    if (size == 100000) {
      EXPECT_EQ(platform_.messages, QStringList{U8("Ошибка загрузки файла!")});
      EXPECT_FALSE(Exists("odbc.msi"));
      EXPECT_TRUE(platform_.starts.empty());
    } else {
      EXPECT_EQ(platform_.messages, QStringList{U8("Драйвер установлен!")});
      EXPECT_EQ(std::filesystem::file_size(Folder() / "odbc.msi"), 100001u);
      EXPECT_EQ(platform_.starts.size(), 1u);
    }
  }
}

}  // namespace
}  // namespace ravelto::maintenance::testing
