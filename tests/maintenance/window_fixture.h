#pragma once
// Widget-test support for the settings checks and the maintenance handlers,
// on top of the desk's FormTest (own working folder, RecordingPlatform):
// config lines that route the window's requests to a loopback server acting
// as its proxy, the settings list as lines, a counter of close events, and a
// scoped PATH.

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/settings_grid.h"
#include "app/text_codec.h"
#include "tests/app/form_fixture.h"
#include "tests/maintenance/temp_folder.h"

namespace ravelto::maintenance::testing {

using Lines = std::vector<std::string>;

// Counts the close events the window receives.
class CloseCounter : public QObject {
 public:
  int closes = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close) ++closes;
    return false;
  }
};

class WindowTest : public app::testing::FormTest {
 protected:
  std::filesystem::path Folder() const { return dir_.path().toStdString(); }

  void WriteConfigLines(const Lines& lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\n";
    WriteConfig(bytes);
  }

  // Builds the window (FormCreate loads config.ini) and counts its closes.
  app::TForm1& OpenWindow() {
    closes.closes = 0;
    app::TForm1& form = MakeForm();
    form.installEventFilter(&closes);
    return form;
  }

  Lines SettingsLines() const { return form_->Settings()->List().Lines(); }

  // Config lines that route every request of the window to `port` on
  // loopback, where a scripted server answers as its proxy.
  static Lines ProxyTo(int port) { return {"proxy=127.0.0.1", "proxyport=" + std::to_string(port)}; }

  // Forgets what the platform recorded and its pre-set answers.
  void ResetPlatform() { platform_ = app::testing::RecordingPlatform(); }

  CloseCounter closes;
};

// A QString from UTF-8 source text.
inline QString U8(const char* utf8) { return QString::fromUtf8(utf8); }
inline QStringList U8List(std::initializer_list<const char*> texts) {
  QStringList list;
  for (const char* text : texts) list << U8(text);
  return list;
}

// Sets PATH for the life of the object.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) {
    if (const char* old = std::getenv("PATH")) old_ = old;
    ::setenv("PATH", value.c_str(), 1);
  }
  ~ScopedPath() { ::setenv("PATH", old_.c_str(), 1); }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  std::string old_;
};

}  // namespace ravelto::maintenance::testing
