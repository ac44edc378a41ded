// Self-update (N5Click) and the driver installer (BitBtn9Click). The steps
// below the window live in the maintenance library; here the operator is
// asked, the messages are shown and the commands are started. Neither
// handler goes through HttpGet, so status panel 3 keeps its text.

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <filesystem>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/platform.h"
#include "app/text_codec.h"
#include "maintenance/download_rules.h"
#include "maintenance/driver_installer.h"
#include "maintenance/launch_commands.h"
#include "maintenance/self_update.h"
#include "service/protocol.h"

namespace ravelto::app {

namespace {

// FetchToBuffer with the client's body bound raised to the download cap for
// the one request: a larger body fails inside the client, before it is held
// whole, and nothing is written.
maintenance::BufferFetch DownloadThrough(service::Client& client) {
  return [&client](const std::string& url, std::vector<char>& buffer) {
    struct RestoreLimits {
      service::Client& client;
      ~RestoreLimits() { client.SetLimits(service::AnswerLimits{}); }
    } restore{client};
    service::AnswerLimits limits;
    limits.maxBody = maintenance::kDownloadSizeCap;
    client.SetLimits(limits);
    client.FetchToBuffer(url, buffer);
  };
}

std::string SearchPath() { return qEnvironmentVariable("PATH").toStdString(); }

// Starts the command without waiting; a failure to start is ignored. Program
// names and arguments are the system's own text, not Windows-1251.
void StartIgnoringFailure(Platform* platform, const maintenance::LaunchCommand& command) {
  if (command.program.empty()) {
    qWarning("%s", command.note.c_str());
    return;
  }
  QStringList arguments;
  for (const std::string& argument : command.arguments) {
    arguments << QString::fromLocal8Bit(argument.c_str());
  }
  platform->StartProcess(QString::fromLocal8Bit(command.program.c_str()), arguments,
                         QString::fromLocal8Bit(command.commandLine.c_str()));
}

}  // namespace

void TForm1::N5Click() {
  const int cacheNumber = GetPlatform()->RandomNumber();
  const maintenance::UpdateCheck check = maintenance::CheckForUpdate(
      [this](const std::string& url) { return Client.FetchText(url); }, service::LatestVersionUrl());
  if (check == maintenance::UpdateCheck::kUnreadable) {
    ShowMessage(QStringLiteral("Проверьте настройки подключения"));
    return;
  }
  if (check == maintenance::UpdateCheck::kNoUpdate) {
    ShowMessage(QStringLiteral("Обновлений не найдено"));
    return;
  }
  if (!GetPlatform()->AskOkCancel(this, QStringLiteral("Новая версия"),
                                  QStringLiteral("Доступна новая версия. Установить?"))) {
    return;
  }
  // A failed download or write goes to the error box; the program keeps running.
  const maintenance::DownloadVerdict verdict =
      maintenance::DownloadUpdate(DownloadThrough(Client), service::NewProgramUrl(cacheNumber),
                                  std::filesystem::current_path(), maintenance::CurrentHost());
  if (verdict == maintenance::DownloadVerdict::kTooSmall) {
    ShowMessage(ToQt(std::string(maintenance::kDownloadTooSmallMessage)));
    return;
  }
  StartIgnoringFailure(GetPlatform(),
                       maintenance::UpdateLaunch(maintenance::CurrentHost(), SearchPath(),
                                                 static_cast<long>(QCoreApplication::applicationPid())));
  close();
}

void TForm1::BitBtn9Click() {
  const int cacheNumber = GetPlatform()->RandomNumber();
  const maintenance::DriverPackage package = maintenance::PrepareDriverPackage(
      DownloadThrough(Client), service::DriverInstallerUrl(cacheNumber), std::filesystem::current_path());
  if (package == maintenance::DriverPackage::kTooSmall) {
    ShowMessage(ToQt(std::string(maintenance::kDownloadTooSmallMessage)));
    return;
  }
  StartIgnoringFailure(GetPlatform(),
                       maintenance::DriverInstallerLaunch(maintenance::CurrentHost(), SearchPath()));
  // Shown at once, whether or not the installer started or will succeed.
  ShowMessage(QStringLiteral("Драйвер установлен!"));
}

}  // namespace ravelto::app
