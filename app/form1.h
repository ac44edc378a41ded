#pragma once
// TForm1: the desk's one window. Every control is a member named after it
// (and carries that name as its objectName); every handler of the program is
// a method named after its control and event. The handlers are spread over
// form1_*.cpp files by area:
//   form1_layout.cpp       building the widgets and connecting their signals
//   form1_startup.cpp      FormCreate, FormActivate, N2Click, Button4Click, FormClose, Guard
//   form1_settings.cpp     BitBtn2Click, SpeedButton1Click (settings list and file)
//   form1_network.cpp      HttpGet, SetProxy
//   form1_polling.cpp      Timer1Timer
//   form1_banner.cpp       Timer2Timer, ShowScreenBanner
//   form1_card.cpp         ListBox1Click, ListBox2Click, LoadRequest
//   form1_decisions.cpp    Button1Click, Button2Click
//   form1_checks.cpp       BitBtn1Click, SpeedButton4Click, BitBtn7Click, Button3Click, N3Click
//   form1_maintenance.cpp  N5Click, BitBtn9Click
//   form1_journal.cpp      N6Click, the decision journal and the repeat-visit line
//   form1_aids.cpp         the operator's aids around the specified window:
//                          alerts, waiting times, keys, the freshness panel
//
// Text held for the subsystems (CurrentRequestId, KeptAddress, ...) is
// Windows-1251 bytes; widgets hold QStrings; app/text_codec.h converts.
// Every handler runs under Guard: an escaping failure is shown in the
// application's error box and the program goes on.

#include <QDateTime>
#include <QHash>
#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/desk/failure_text.h"
#include "app/desk/statements.h"
#include "registry/gateway.h"
#include "service/http_client.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;
class QWidget;

namespace ravelto::journal {
class Journal;
struct Entry;
}  // namespace ravelto::journal

namespace ravelto::app {

class DeskState;
class Platform;
class SettingsGrid;
class WaitingDelegate;
class SettingsModel;

// The patient's actual address as the card read it, kept for the accept step.
using KeptAddressFields = desk::AddressValues;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and runs FormCreate. `platform` must outlive the
  // window. `timeouts` are the HTTP client's (tests shorten them).
  explicit TForm1(Platform* platform, service::Timeouts timeouts = {}, QWidget* parent = nullptr);
  ~TForm1() override;

  // --- handlers ------------------------------------------------------------
  void FormCreate();
  void FormActivate();
  void FormClose();
  void N2Click();
  void Button4Click();

  void BitBtn2Click();
  void SpeedButton1Click();

  std::string HttpGet(const std::string& url);
  void SetProxy();

  void Timer1Timer();
  void Timer2Timer();
  void ShowScreenBanner(const QString& text);

  void ListBox1Click();
  void ListBox2Click();
  void LoadRequest(const std::string& requestId);

  void Button1Click();
  void Button2Click();

  void BitBtn1Click();
  void SpeedButton4Click();
  void BitBtn7Click();
  void Button3Click();
  void N3Click();

  void N5Click();
  void BitBtn9Click();

  // The decision journal window (menu item "Журнал решений").
  void N6Click();

  // --- helpers shared by the handlers --------------------------------------
  // Runs fn; any failure escaping it is shown in the error box.
  void Guard(const std::function<void()>& fn);
  // Text of the error box for a failure's message (Windows-1251): a full stop
  // is added unless the message is empty or its last byte is not above ".".
  static QString ErrorBoxText(const std::string& message);
  // Text of the error box for a caught failure: the operator's Russian words
  // for the registry engine's, the journal's and the maintenance code's own
  // failures (app/desk/failure_text.h), whose English message goes to the
  // standard error; any other message as ErrorBoxText gives it.
  static QString FailureBoxText(const std::exception& e, desk::FailureSetting setting);
  // Information box with the application's caption.
  void ShowMessage(const QString& text);
  // The registry connection string for a folder (Windows-1251 bytes).
  static std::string ConnectionStringFor(const std::string& path);

  // The decision journal, opened on first use in the working folder; null
  // while it cannot be opened (the failure has then been reported).
  journal::Journal* DecisionJournal();
  // Runs the registry write of a journaled accept again from its journaled
  // values and records the outcome; true when the row was written. A
  // failure is shown in the error box.
  bool RetryRegistryWrite(std::int64_t entryId);
  // Announces, once, accepts whose registry write is pending.
  void AnnouncePendingWrites();
  // Test seam: runs after the accept's save query, before the registry write.
  std::function<void()> AfterSaveQuery;

  QLabel* StatusPanel(int i) const { return statusPanels_[i]; }
  SettingsModel* Settings() const { return settingsModel_; }
  Platform* GetPlatform() const { return platform_; }
  bool Activated() const { return activated_; }

  // --- non-visual components and program-wide values ------------------------
  service::Client Client;
  registry::Connection ADO;
  registry::Query SQL{ADO};
  std::string CurrentRequestId;
  KeptAddressFields KeptAddress;
  std::string KeptDistrict;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;

  // --- controls --------------------------------------------------------------
  QMenuBar* MainMenu1 = nullptr;
  QMenu* N1 = nullptr;
  QAction* N5 = nullptr;
  QAction* N2 = nullptr;
  QAction* N3 = nullptr;
  QAction* N6 = nullptr;

  QFrame* Panel1 = nullptr;
  QLabel* Label21 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QLabel* Label22 = nullptr;
  QListWidget* ListBox2 = nullptr;

  QFrame* Panel2 = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  QWidget* TabSheet2 = nullptr;
  QWidget* TabSheet3 = nullptr;
  QWidget* TabSheet4 = nullptr;
  QPushButton* Button4 = nullptr;

  // Page "Главная": the request card.
  QGroupBox* GroupBox3 = nullptr;
  QLabel *Label1 = nullptr, *Label4 = nullptr, *Label6 = nullptr, *Label7 = nullptr;
  QLabel *Label9 = nullptr, *Label10 = nullptr, *Label14 = nullptr, *Label15 = nullptr;
  QLabel *Label29 = nullptr, *Label30 = nullptr, *Label33 = nullptr, *Label34 = nullptr;
  QLabel *Label35 = nullptr, *Label36 = nullptr;
  QGroupBox* GroupBox7 = nullptr;
  QLabel *Label19 = nullptr, *Label25 = nullptr, *Label20 = nullptr, *Label26 = nullptr;
  QLabel *Label23 = nullptr, *Label24 = nullptr, *Label27 = nullptr, *Label28 = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  QLabel* Label16 = nullptr;
  QLabel* Label32 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QGroupBox* GroupBox6 = nullptr;
  QComboBox* ComboBox3 = nullptr;
  QPushButton* Button2 = nullptr;
  QLabel* Label31 = nullptr;
  QGroupBox* GroupBox5 = nullptr;
  QLabel* Label17 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QLabel* Label18 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QPushButton* Button1 = nullptr;
  // Below the decision groups: a visit for the card's patient already
  // recorded today (registry or journal); hidden otherwise.
  QLabel* Label39 = nullptr;
  QLabel* Panel3 = nullptr;

  // Page "Настройки".
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLabel* Label38 = nullptr;
  QLineEdit* Edit10 = nullptr;
  QPushButton* BitBtn7 = nullptr;
  QLabel* Label8 = nullptr;
  QGroupBox* GroupBox8 = nullptr;
  QLabel* Label12 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLabel* Label13 = nullptr;
  QLineEdit* Edit4 = nullptr;
  QPushButton* Button3 = nullptr;
  QLabel* Label37 = nullptr;
  QPushButton* BitBtn9 = nullptr;
  QPushButton* BitBtn2 = nullptr;

  // Page "Proxy".
  QLabel* Label5 = nullptr;
  QLabel* Label42 = nullptr;
  QLineEdit* Edit12 = nullptr;
  QLabel* Label43 = nullptr;
  QLineEdit* Edit13 = nullptr;
  QLabel* Label44 = nullptr;
  QLineEdit* Edit14 = nullptr;
  QLabel* Label45 = nullptr;
  QLineEdit* Edit15 = nullptr;
  QToolButton* SpeedButton4 = nullptr;
  QToolButton* SpeedButton1 = nullptr;

  // Page "Config".
  SettingsGrid* ValueListEditor1 = nullptr;

  QStatusBar* StatusBar1 = nullptr;

  // --- the operator's aids (form1_aids.cpp), beside the controls above -----
  // Menu "Оповещения": sound and taskbar flash on a new request (checkable,
  // kept in DeskState); menu "Справка": the keys.
  QMenu* AlertsMenu = nullptr;
  QAction* SoundAction = nullptr;
  QAction* FlashAction = nullptr;
  QMenu* HelpMenu = nullptr;
  QAction* KeysAction = nullptr;
  // The status bar's panel after the five: the last answered poll, or since
  // when the service has not answered.
  QLabel* FreshnessPanel = nullptr;
  WaitingDelegate* NewListDelegate = nullptr;
  WaitingDelegate* ProcessedListDelegate = nullptr;

  // The keys' help box (menu "Справка" > "Клавиши").
  void ShowKeysHelp();
  // The list of keys, one per line, as the help box shows it.
  static QString KeysHelpText();
  DeskState* State() const { return deskState_.get(); }

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void BuildCardPage();
  void BuildSettingsPage();
  void BuildProxyPage();
  void BuildStatusBar();
  void BuildMenu();
  void ConnectHandlers();
  void SetStatusText(int panel, const QString& text);
  // Keeps Panel3 covering page 0 once FormCreate made it fill the page.
  void FillPageWithPlaceholder();
  // The first activation: FormActivate, then the pending-write announcement.
  void FirstActivation();
  // Journal steps of a decision; a failure is reported once and dropped.
  std::int64_t JournalRecord(const journal::Entry& entry);
  void JournalStep(const std::function<void(journal::Journal&)>& step);
  void ReportJournalFailure(const std::exception& e);
  std::string JournalNow();
  // Shows or hides Label39 for the card's patient (empty: not found).
  void UpdateRepeatVisitLine(const std::string& patientCode);

  // The operator's aids (form1_aids.cpp).
  void BuildDeskAids();
  // After every poll: first-seen times and alerts (answered polls only), the
  // tray's count, the line tooltips, the freshness panel and the focus.
  void AfterPoll(bool answered);
  // After a card was loaded: its patient's name and address become the
  // line's tooltip.
  void RememberCard(const std::string& requestId);
  // After a decision: the focus back to the new list, on its first line.
  void FocusNextWaiting();
  // A decision's key: clicks the button when its group is on show.
  void PressDecision(QPushButton* button);
  void UpdateFreshness();

  Platform* platform_;
  SettingsModel* settingsModel_ = nullptr;
  QLabel* statusPanels_[5] = {};
  bool activated_ = false;
  bool placeholderFills_ = false;
  bool shownOnce_ = false;
  std::unique_ptr<journal::Journal> journal_;
  bool journalFailureShown_ = false;
  // Set by an accept whose failed registry write the journal holds, so that
  // Guard's box says the decision was kept; Guard puts it back.
  desk::FailureSetting failureSetting_ = desk::FailureSetting::kGeneral;
  bool pendingAnnounced_ = false;
  std::unique_ptr<DeskState> deskState_;
  QHash<QString, QString> cardTips_;  // request id -> line tooltip
  QDateTime lastAnswer_;              // the last poll the service answered
  QDateTime silentSince_;             // the first unanswered poll since then
};

}  // namespace ravelto::app
