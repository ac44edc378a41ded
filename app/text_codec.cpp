#include "app/text_codec.h"

#include <QByteArray>
#include <QHash>
#include <QStringDecoder>

#include "platform/windows_api.h"

namespace ravelto::app {

#ifdef _WIN32

// Qt for Windows is built without ICU, which leaves it without named code
// pages; the system converts Windows-1251 itself.
namespace {
constexpr UINT kCodePage = 1251;
}

QString ToQt(const std::string& cp1251) {
  if (cp1251.empty()) return {};
  const int n = MultiByteToWideChar(kCodePage, 0, cp1251.data(), static_cast<int>(cp1251.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(kCodePage, 0, cp1251.data(), static_cast<int>(cp1251.size()), wide.data(), n);
  return QString::fromStdWString(wide);
}

std::string FromQt(const QString& text) {
  if (text.isEmpty()) return {};
  const std::wstring wide = text.toStdWString();
  // No best-fit letters: a character without a Windows-1251 byte becomes "?".
  const int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, "?", nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      "?", nullptr);
  return out;
}

#else

namespace {

// Character -> byte for the 255 non-zero Windows-1251 bytes, built once from
// the decoder so both directions agree byte for byte.
const QHash<char16_t, char>& ByteOfCharacter() {
  static const QHash<char16_t, char> table = [] {
    QHash<char16_t, char> t;
    for (int b = 1; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      const QString text = ToQt(std::string(1, byte));
      if (text.size() == 1) t.insert(text.at(0).unicode(), byte);
    }
    return t;
  }();
  return table;
}

}  // namespace

QString ToQt(const std::string& cp1251) {
  QStringDecoder decoder("windows-1251");
  return decoder.decode(QByteArrayView(cp1251.data(), static_cast<qsizetype>(cp1251.size())));
}

std::string FromQt(const QString& text) {
  const auto& table = ByteOfCharacter();
  std::string out;
  out.reserve(static_cast<std::size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text.at(i).unicode();
    if (c == 0) {
      out += '\0';
      continue;
    }
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ++i;
    const auto found = table.constFind(c);
    out += found == table.constEnd() ? '?' : found.value();
  }
  return out;
}

#endif

}  // namespace ravelto::app
