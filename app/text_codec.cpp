#include "app/text_codec.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringEncoder>

namespace ravelto::app {

QString ToQt(const std::string& cp1251) {
  QStringDecoder decoder("windows-1251");
  return decoder.decode(QByteArrayView(cp1251.data(), static_cast<qsizetype>(cp1251.size())));
}

std::string FromQt(const QString& text) {
  QStringEncoder encoder("windows-1251", QStringEncoder::Flag::Default);
  const QByteArray bytes = encoder.encode(text);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace ravelto::app
