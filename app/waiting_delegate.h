#pragma once
// WaitingDelegate: paints a request list's lines. The line's own text (the
// request id, also its accessible text) is painted as before; beside it, at
// the right edge, how long the request has waited since this desk first saw
// it in the new list ("12 мин", "2 ч 05 мин"). In the new list the time runs
// and turns amber after 30 minutes and red after 2 hours; in the processed
// list it is the time the request waited until it left the new list, in
// grey. Rows keep the list's fixed height.

#include <QColor>
#include <QDateTime>
#include <QStyledItemDelegate>

#include <functional>

namespace ravelto::app {

class DeskState;

enum class WaitLevel { kNormal, kAmber, kRed, kDone };

// "0 мин" .. "59 мин", then "1 ч 00 мин", "2 ч 05 мин" (whole minutes,
// rounded down; a negative span, a clock set back, counts as 0).
QString WaitingText(qint64 seconds);
// The level of a request still new after `seconds`.
WaitLevel WaitLevelOf(qint64 seconds);
// Background of the time's badge; invalid for a plain grey time.
QColor WaitBadgeColour(WaitLevel level);

class WaitingDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  struct Badge {
    QString text;  // empty: nothing painted beside the id
    WaitLevel level = WaitLevel::kNormal;
  };

  // `newList`: the list of new requests (running time and colours).
  WaitingDelegate(int rowHeight, bool newList, const DeskState* state,
                  std::function<QDateTime()> clock, QObject* parent);

  // What is painted beside the line with this text.
  Badge BadgeFor(const QString& id) const;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  int rowHeight_;
  bool newList_;
  const DeskState* state_;
  std::function<QDateTime()> clock_;
};

}  // namespace ravelto::app
