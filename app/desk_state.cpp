#include "app/desk_state.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <utility>
#include <vector>

namespace ravelto::app {

namespace {

// File lines: "sound=1", "flash=0", "seen=<id> <first> <left>" with the id
// percent-encoded (ids are the service's text; blanks and line breaks in
// them must not break the line) and the times in seconds since the epoch.
QByteArray EncodeId(const QString& id) { return QUrl::toPercentEncoding(id); }
QString DecodeId(const QByteArray& bytes) { return QUrl::fromPercentEncoding(bytes); }

}  // namespace

DeskState::DeskState(QString path) : path_(std::move(path)) { Load(); }

void DeskState::Load() {
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly)) return;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine().trimmed();
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) continue;
    const QByteArray key = line.left(eq);
    const QByteArray value = line.mid(eq + 1);
    if (key == "sound") {
      soundOn_ = value != "0";
    } else if (key == "flash") {
      flashOn_ = value != "0";
    } else if (key == "seen") {
      const QList<QByteArray> parts = value.split(' ');
      if (parts.size() != 3) continue;
      bool okFirst = false;
      bool okLeft = false;
      Seen s{parts[1].toLongLong(&okFirst), parts[2].toLongLong(&okLeft)};
      const QString id = DecodeId(parts[0]);
      if (okFirst && okLeft && !id.isEmpty()) seen_.insert(id, s);
    }
  }
}

void DeskState::Save() {
  QByteArray bytes;
  bytes += "sound=" + QByteArray(soundOn_ ? "1" : "0") + '\n';
  bytes += "flash=" + QByteArray(flashOn_ ? "1" : "0") + '\n';
  // Oldest first, so the file reads as a history.
  std::vector<std::pair<QString, Seen>> rows(seen_.keyValueBegin(), seen_.keyValueEnd());
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return a.second.firstNew != b.second.firstNew ? a.second.firstNew < b.second.firstNew
                                                  : a.first < b.first;
  });
  for (const auto& [id, s] : rows) {
    bytes += "seen=" + EncodeId(id) + ' ' + QByteArray::number(s.firstNew) + ' ' +
             QByteArray::number(s.leftNew) + '\n';
  }
  QSaveFile file(path_);
  saved_ = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

void DeskState::SetSoundOn(bool on) {
  soundOn_ = on;
  Save();
}

void DeskState::SetFlashOn(bool on) {
  flashOn_ = on;
  Save();
}

QStringList DeskState::Observe(const QStringList& fresh, const QStringList& processed,
                               const QDateTime& now) {
  const qint64 t = now.toSecsSinceEpoch();
  QStringList arrived;
  bool changed = false;
  QSet<QString> present;
  for (const QString& id : fresh) {
    if (id.isEmpty()) continue;
    present.insert(id);
    auto it = seen_.find(id);
    if (it == seen_.end()) {
      seen_.insert(id, Seen{t, 0});
      if (!arrived.contains(id)) arrived << id;
      changed = true;
    } else if (it->leftNew != 0) {
      // Back in the new list: it waits again from its first sight.
      it->leftNew = 0;
      changed = true;
    }
  }
  for (const QString& id : processed) {
    if (id.isEmpty() || present.contains(id)) continue;
    present.insert(id);
    auto it = seen_.find(id);
    if (it != seen_.end() && it->leftNew == 0) {
      it->leftNew = std::max(t, it->firstNew);
      changed = true;
    }
  }
  for (auto it = seen_.begin(); it != seen_.end();) {
    if (!present.contains(it.key()) && t - it->firstNew > kForgetAfterSeconds) {
      it = seen_.erase(it);
      changed = true;
    } else {
      ++it;
    }
  }
  if (changed) Save();
  return arrived;
}

std::optional<DeskState::Seen> DeskState::Find(const QString& id) const {
  const auto it = seen_.constFind(id);
  if (it == seen_.constEnd()) return std::nullopt;
  return *it;
}

}  // namespace ravelto::app
