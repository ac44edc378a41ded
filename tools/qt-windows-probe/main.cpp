// Usage: qt-windows-probe REPORT_FILE [MILLISECONDS]
// Shows its window for MILLISECONDS (default 4000), then writes the report and
// quits. Each report line is "name: value".
#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Decodes every byte 0x01..0xFF with Qt's named codec and encodes it back;
// counts the bytes that did not come back unchanged.
QString QtCodecReport(const char* name) {
  QStringDecoder decoder(name);
  QStringEncoder encoder(name);
  if (!decoder.isValid() || !encoder.isValid())
    return QStringLiteral("not available");
  int lost = 0;
  QString sample;
  for (int b = 1; b < 256; ++b) {
    const QByteArray byte(1, static_cast<char>(b));
    const QString text = decoder.decode(byte);
    const QByteArray back = encoder.encode(text);
    if (back != byte) ++lost;
    if (b == 0xC0 || b == 0xE0 || b == 0x80 || b == 0xA0) sample += text;
  }
  return QStringLiteral("available, %1 of 255 bytes do not round-trip, sample %2")
      .arg(lost)
      .arg(sample);
}

#ifdef _WIN32
// The same round trip through MultiByteToWideChar/WideCharToMultiByte, with
// the code page's own "no best fit" flag so a lost byte is not hidden.
QString WindowsCodePageReport(unsigned codePage) {
  int lost = 0;
  QStringList odd;
  for (int b = 1; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    wchar_t wide[4] = {};
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &byte, 1, wide, 4);
    char back[8] = {};
    BOOL usedDefault = FALSE;
    const int m = n == 1 ? WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, 1, back, 8,
                                               nullptr, &usedDefault)
                         : 0;
    if (n != 1 || m != 1 || back[0] != byte || usedDefault) {
      ++lost;
      odd << QStringLiteral("%1->%2").arg(b, 2, 16, QLatin1Char('0'))
                 .arg(n == 1 ? QString::number(wide[0], 16) : QStringLiteral("invalid"));
    } else if (b >= 0x80 && b < 0x83) {
      odd << QStringLiteral("%1=U+%2").arg(b, 2, 16, QLatin1Char('0')).arg(QString::number(wide[0], 16));
    }
  }
  return QStringLiteral("%1 of 255 bytes do not round-trip; %2").arg(lost).arg(odd.join(QLatin1Char(' ')));
}
#endif

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString reportPath = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("probe.txt");
  const int milliseconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 4000;

  QWidget window;
  window.setWindowTitle(QStringLiteral("Вызов врача на дом"));
  QFont tahoma(QStringLiteral("Tahoma"), 10);
  window.setFont(tahoma);
  auto* layout = new QVBoxLayout(&window);
  auto* label = new QLabel(QStringLiteral("Съешь же ещё этих мягких французских булок, да выпей чаю. 0123456789"));
  layout->addWidget(label);
  auto* bold = new QLabel(QStringLiteral("<b>Жирный: ЁЖИК В ТУМАНЕ</b> и обычный"));
  layout->addWidget(bold);
  layout->addWidget(new QLineEdit(QStringLiteral("Ленина ул., д. 5, кв. 12")));
  layout->addWidget(new QPushButton(QStringLiteral("Принять")));
  window.resize(520, 180);
  window.move(40, 40);
  window.show();

  QTimer::singleShot(milliseconds, &app, [&] {
    QStringList lines;
    lines << QStringLiteral("qt: %1").arg(QString::fromLatin1(qVersion()));
    lines << QStringLiteral("platform: %1").arg(QGuiApplication::platformName());
    lines << QStringLiteral("style: %1").arg(app.style()->name());
    lines << QStringLiteral("window visible: %1").arg(window.isVisible() ? 1 : 0);
    lines << QStringLiteral("window geometry: %1,%2 %3x%4")
                 .arg(window.x()).arg(window.y()).arg(window.width()).arg(window.height());
    lines << QStringLiteral("font requested: Tahoma, got: %1 (exact %2)")
                 .arg(QFontInfo(label->font()).family())
                 .arg(QFontInfo(label->font()).exactMatch() ? 1 : 0);
    lines << QStringLiteral("Tahoma in database: %1")
                 .arg(QFontDatabase::families().contains(QStringLiteral("Tahoma")) ? 1 : 0);
    lines << QStringLiteral("Tahoma writes Cyrillic: %1")
                 .arg(QFontDatabase::writingSystems(QStringLiteral("Tahoma")).contains(QFontDatabase::Cyrillic) ? 1 : 0);
    for (const char* name : {"windows-1251", "CP1251", "IBM866", "cp866", "Locale"})
      lines << QStringLiteral("qt codec %1: %2").arg(QString::fromLatin1(name)).arg(QtCodecReport(name));
#ifdef _WIN32
    lines << QStringLiteral("ansi code page: %1, oem code page: %2").arg(GetACP()).arg(GetOEMCP());
    lines << QStringLiteral("win32 cp1251: %1").arg(WindowsCodePageReport(1251));
    lines << QStringLiteral("win32 cp866: %1").arg(WindowsCodePageReport(866));
#endif
    QFile out(reportPath);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
      out.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    app.quit();
  });
  return app.exec();
}
