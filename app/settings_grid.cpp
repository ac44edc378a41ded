#include "app/settings_grid.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTimer>

#include "app/text_codec.h"

namespace ravelto::app {

using settings::LineKey;
using settings::LineValue;

SettingsModel::SettingsModel(QObject* parent) : QAbstractTableModel(parent) {}

void SettingsModel::Modify(const std::function<void(settings::SettingsList&)>& change) {
  beginResetModel();
  try {
    change(list_);
  } catch (...) {
    endResetModel();
    throw;
  }
  endResetModel();
}

bool SettingsModel::DropIfEmpty(int row) {
  if (row < 0 || static_cast<std::size_t>(row) >= list_.Count()) return false;
  const std::string& line = list_.Line(static_cast<std::size_t>(row));
  if (!LineKey(line).empty() || !LineValue(line).empty()) return false;
  beginRemoveRows({}, row, row);
  list_.RemoveLine(static_cast<std::size_t>(row));
  endRemoveRows();
  if (list_.Count() == 0) {
    // The grid keeps showing one empty row for an empty list.
    beginInsertRows({}, 0, 0);
    endInsertRows();
  }
  return true;
}

int SettingsModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return list_.Count() == 0 ? 1 : static_cast<int>(list_.Count());
}

int SettingsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant SettingsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  const auto row = static_cast<std::size_t>(index.row());
  if (row >= list_.Count()) return QString();
  const std::string& line = list_.Line(row);
  return ToQt(index.column() == 0 ? LineKey(line) : LineValue(line));
}

bool SettingsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 1 || role != Qt::EditRole) return false;
  const auto row = static_cast<std::size_t>(index.row());
  const std::string text = FromQt(value.toString());
  // Only a changed value is stored: an editor closing over an unchanged
  // line without "=" must not rewrite it.
  if (row < list_.Count() ? LineValue(list_.Line(row)) == text : text.empty()) return true;
  std::string line;
  if (row < list_.Count()) line = LineKey(list_.Line(row));
  line += '=';
  line += text;
  if (row < list_.Count()) {
    list_.SetLine(row, std::move(line));
  } else {
    list_.InsertLine(list_.Count(), std::move(line));  // the empty list's one row
  }
  emit dataChanged(index.siblingAtColumn(0), index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

Qt::ItemFlags SettingsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  if (index.column() == 0) return Qt::ItemIsEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

QVariant SettingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? QStringLiteral("Key") : QStringLiteral("Value");
}

QWidget* KeystrokeDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    QPersistentModelIndex target(index);
    auto* model = const_cast<QAbstractItemModel*>(index.model());
    connect(line, &QLineEdit::textChanged, line, [model, target](const QString& text) {
      if (target.isValid()) model->setData(target, text, Qt::EditRole);
    });
  }
  return editor;
}

void KeystrokeDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  // The model changes under the open editor at every keystroke; rewriting
  // the editor with the same text would move its cursor to the end.
  if (auto* line = qobject_cast<QLineEdit*>(editor)) {
    if (line->text() == index.data(Qt::EditRole).toString()) return;
  }
  QStyledItemDelegate::setEditorData(editor, index);
}

SettingsGrid::SettingsGrid(SettingsModel* model, QWidget* parent)
    : QTableView(parent), model_(model) {
  setModel(model);
  setItemDelegate(new KeystrokeDelegate(this));
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::DoubleClicked |
                  QAbstractItemView::SelectedClicked | QAbstractItemView::AnyKeyPressed |
                  QAbstractItemView::EditKeyPressed);
  verticalHeader()->hide();
  horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
  horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  horizontalHeader()->resizeSection(0, 139);
  horizontalHeader()->setSectionsMovable(false);
  setTabKeyNavigation(false);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          &SettingsGrid::OnCurrentChanged);
}

void SettingsGrid::OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
  if (current.isValid() && current.column() == 0) {
    // The key column cannot be entered: the cursor goes to the row's value.
    QPersistentModelIndex value(current.siblingAtColumn(1));
    QTimer::singleShot(0, this, [this, value] {
      if (value.isValid()) setCurrentIndex(value);
    });
  }
  if (previous.isValid() && (!current.isValid() || current.row() != previous.row())) {
    model_->DropIfEmpty(previous.row());
  }
}

}  // namespace ravelto::app
