#pragma once
// The "Config" page's grid over the settings list.
//
// SettingsModel owns the program's only settings list and shows it as rows
// of key and value (a line without "=" shows an empty key and the whole line
// as its value; an empty list shows one empty row). Only value cells are
// editable; each change stores key + "=" + value into the row's line at once.
// SettingsGrid is the table view: key column 139 px wide and fixed, value
// column stretched, editor changes stored on every keystroke, and a row whose
// key and value are both empty removed when the cursor leaves it.

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>

#include "settings/settings_list.h"

namespace ravelto::app {

class SettingsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit SettingsModel(QObject* parent = nullptr);

  const settings::SettingsList& List() const { return list_; }
  // Changes the list through `change` and refreshes the grid.
  void Modify(const std::function<void(settings::SettingsList&)>& change);

  // Removes the row's line when its key and value are both empty; true when
  // a line was removed.
  bool DropIfEmpty(int row);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  settings::SettingsList list_;
};

// Stores the editor's text into the model at every change of it.
class KeystrokeDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
};

class SettingsGrid : public QTableView {
  Q_OBJECT

 public:
  explicit SettingsGrid(SettingsModel* model, QWidget* parent = nullptr);
  SettingsModel* Model() const { return model_; }

 private:
  void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);

  SettingsModel* model_;
};

}  // namespace ravelto::app
