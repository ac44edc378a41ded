#include "app/waiting_delegate.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <utility>

#include "app/desk_state.h"

namespace ravelto::app {

namespace {

constexpr qint64 kAmberAfter = 30 * 60;
constexpr qint64 kRedAfter = 2 * 60 * 60;

}  // namespace

QString WaitingText(qint64 seconds) {
  const qint64 minutes = std::max<qint64>(seconds, 0) / 60;
  if (minutes < 60) return QStringLiteral("%1 мин").arg(minutes);
  return QStringLiteral("%1 ч %2 мин").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

WaitLevel WaitLevelOf(qint64 seconds) {
  if (seconds >= kRedAfter) return WaitLevel::kRed;
  if (seconds >= kAmberAfter) return WaitLevel::kAmber;
  return WaitLevel::kNormal;
}

QColor WaitBadgeColour(WaitLevel level) {
  switch (level) {
    case WaitLevel::kAmber:
      return QColor(255, 191, 0);
    case WaitLevel::kRed:
      return QColor(204, 0, 0);
    default:
      return QColor();
  }
}

WaitingDelegate::WaitingDelegate(int rowHeight, bool newList, const DeskState* state,
                                 std::function<QDateTime()> clock, QObject* parent)
    : QStyledItemDelegate(parent),
      rowHeight_(rowHeight),
      newList_(newList),
      state_(state),
      clock_(std::move(clock)) {}

WaitingDelegate::Badge WaitingDelegate::BadgeFor(const QString& id) const {
  if (!state_) return {};
  const auto seen = state_->Find(id);
  if (!seen) return {};
  if (newList_) {
    const qint64 waited = clock_().toSecsSinceEpoch() - seen->firstNew;
    return {WaitingText(waited), WaitLevelOf(waited)};
  }
  // Processed: the wait ended when the request left the new list.
  if (seen->leftNew == 0) return {};
  return {WaitingText(seen->leftNew - seen->firstNew), WaitLevel::kDone};
}

QSize WaitingDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(rowHeight_);
  return size;
}

void WaitingDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);
  const Badge badge = BadgeFor(index.data(Qt::DisplayRole).toString());
  if (badge.text.isEmpty()) return;

  // The time in the list's smaller size (11 px), right-aligned, over a
  // badge whose colour tells how long the request waits.
  QFont font = option.font;
  font.setPixelSize(std::min(11, std::max(8, option.rect.height() - 2)));
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(badge.text) + 6;
  const int height = std::min(option.rect.height() - 2, metrics.height() + 1);
  const QRect box(option.rect.right() - width - 2,
                  option.rect.top() + (option.rect.height() - height) / 2, width, height);

  painter->save();
  painter->setFont(font);
  const QColor fill = WaitBadgeColour(badge.level);
  QColor textColour;
  if (fill.isValid()) {
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(QRectF(box), 3, 3);
    textColour = badge.level == WaitLevel::kRed ? QColor(Qt::white) : QColor(Qt::black);
  } else {
    const bool selected = option.state & QStyle::State_Selected;
    textColour = selected ? option.palette.color(QPalette::HighlightedText) : QColor(112, 112, 112);
  }
  painter->setPen(textColour);
  painter->drawText(box, Qt::AlignCenter | Qt::TextSingleLine, badge.text);
  painter->restore();
}

}  // namespace ravelto::app
