#pragma once
// FormTest: each widget test runs in its own temporary working directory,
// where it may put a config.ini before creating the window with MakeForm().

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/form1.h"
#include "recording_platform.h"

namespace ravelto::app::testing {

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    oldDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
  }
  void TearDown() override {
    form_.reset();
    QDir::setCurrent(oldDir_);
  }

  // Writes config.ini (raw bytes) into the working directory.
  void WriteConfig(const std::string& bytes) {
    QFile file(dir_.filePath(QStringLiteral("config.ini")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
  // config.ini's bytes, or "<missing>".
  std::string ReadConfig() const {
    QFile file(dir_.filePath(QStringLiteral("config.ini")));
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }

  // Creates the window (running FormCreate) with short network time-outs.
  TForm1& MakeForm() {
    service::Timeouts timeouts;
    timeouts.connect = std::chrono::milliseconds(1000);
    timeouts.read = std::chrono::milliseconds(2000);
    timeouts.errorBody = std::chrono::milliseconds(500);
    form_ = std::make_unique<TForm1>(&platform_, timeouts);
    return *form_;
  }

  RecordingPlatform platform_;
  QTemporaryDir dir_;
  QString oldDir_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace ravelto::app::testing
