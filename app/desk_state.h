#pragma once
// DeskState: what the desk remembers about itself between runs, in the file
// "ravelto-desk-state.txt" beside the decision journal (the working folder;
// config.ini stays the settings buttons' own file):
//   - whether a poll's new requests sound and flash (menu "Оповещения");
//   - for each request id, when this desk first saw it in the new list and
//     when it left that list; the waiting times painted beside the ids and
//     the "new request" alert both come from these times.
// The file is rewritten whole through a temporary file on each change; a
// file that cannot be read or written leaves the desk working on its
// defaults (alerts on, times from now on).

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace ravelto::app {

class DeskState {
 public:
  static constexpr const char* kFileName = "ravelto-desk-state.txt";
  // An id no longer in either list is forgotten this long after it was first
  // seen (a flapping answer does not announce it again meanwhile).
  static constexpr qint64 kForgetAfterSeconds = 24 * 60 * 60;

  struct Seen {
    qint64 firstNew = 0;  // seconds since the epoch
    qint64 leftNew = 0;   // 0 while still in the new list
  };

  explicit DeskState(QString path);

  bool SoundOn() const { return soundOn_; }
  bool FlashOn() const { return flashOn_; }
  void SetSoundOn(bool on);
  void SetFlashOn(bool on);

  // Takes a successful poll's lists: ids new to the new list get `now` as
  // their first-seen time and are returned (in the list's order); ids that
  // moved to the processed list get `now` as the time they left it; ids in
  // neither list are forgotten after kForgetAfterSeconds. Empty ids are
  // ignored.
  QStringList Observe(const QStringList& fresh, const QStringList& processed, const QDateTime& now);

  std::optional<Seen> Find(const QString& id) const;
  QString Path() const { return path_; }
  // False once writing the file failed (the desk goes on in memory).
  bool Saved() const { return saved_; }

 private:
  void Load();
  void Save();

  QString path_;
  bool soundOn_ = true;
  bool flashOn_ = true;
  QHash<QString, Seen> seen_;
  bool saved_ = true;
};

}  // namespace ravelto::app
