#pragma once
// CardTest: the request card and the decisions against a routing HTTP server
// on loopback (reached as the proxy, so the service URLs arrive whole in the
// request line) and a registry folder of real table files written by the
// registry engine.

#include <QComboBox>
#include <QDate>
#include <QListWidget>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/desk/cp1251_literal.h"
#include "app/form1.h"
#include "form_fixture.h"
#include "registry/gateway.h"
#include "registry/sql/sql_ast.h"
#include "registry/sql/table_writer.h"
#include "registry/table/create_table.h"
#include "tests/support/loopback.h"

namespace ravelto::app::testing {

using desk::Cp1251;

// Answers each request by the path of its URL ("/medic/home/item.php", ...);
// a path without an answer gets an empty 200 body. Keeps every request line.
class RoutingServer {
 public:
  RoutingServer() {
    const auto listener = ravelto::testing::ListenLoopback(8);
    listener_ = listener.fd;
    port_ = listener.port;
    thread_ = std::thread([this] { Serve(); });
  }
  ~RoutingServer() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  RoutingServer(const RoutingServer&) = delete;
  RoutingServer& operator=(const RoutingServer&) = delete;

  int Port() const { return port_; }
  void Answer(const std::string& path, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    bodies_[path] = body;
  }
  // Request lines without "GET " and " HTTP/1.1", in arrival order.
  std::vector<std::string> Urls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return urls_;
  }
  std::vector<std::string> UrlsTo(const std::string& path) const {
    std::vector<std::string> out;
    for (const std::string& url : Urls()) {
      if (url.find(path) != std::string::npos) out.push_back(url);
    }
    return out;
  }
  void ClearUrls() {
    std::lock_guard<std::mutex> lock(mutex_);
    urls_.clear();
  }

 private:
  void Serve() {
    for (;;) {
      const int c = ::accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      std::string head;
      ravelto::testing::ReadRequestHead(c, head);
      std::string url = head.substr(0, head.find("\r\n"));
      if (url.rfind("GET ", 0) == 0) url.erase(0, 4);
      if (const size_t sp = url.rfind(" HTTP/"); sp != std::string::npos) url.erase(sp);
      std::string body;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        urls_.push_back(url);
        for (const auto& [path, answer] : bodies_) {
          if (url.find(path + "?") != std::string::npos) body = answer;
        }
      }
      const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      ravelto::testing::SendAll(c, answer);
      ::shutdown(c, SHUT_WR);
      ::close(c);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> bodies_;
  std::vector<std::string> urls_;
  std::thread thread_;
};

// One row of typed values inserted by the engine's INSERT path (typed values
// need no text form, so dates go in as days).
class TableRow {
 public:
  TableRow& Text(const char* column, const std::string& cp1251) {
    return Put(column, registry::Value::Char(cp1251));
  }
  TableRow& Number(const char* column, long long value) {
    return Put(column, registry::Value::Number(static_cast<double>(value), std::to_string(value)));
  }
  TableRow& Date(const char* column, const QDate& day) {
    return Put(column, registry::Value::Date(QDate(1899, 12, 30).daysTo(day)));
  }
  void InsertInto(const std::string& folder, const std::string& table) {
    registry::InsertRow(folder, table, std::move(values_));
  }

 private:
  TableRow& Put(const char* column, registry::Value v) {
    values_.emplace_back(column, std::move(v));
    return *this;
  }
  std::vector<std::pair<std::string, registry::Value>> values_;
};

struct PatientRow {
  long long kl = 0;
  const char* fiol = "";
  const char* im = "";
  const char* ot = "";
  QDate born;
  long long uch = 0;
  const char* nnacp = "";
  const char* street1 = "";
  const char* house = "";
  const char* kv = "";
  const char* nnacp_f = "";
  const char* street_f = "";
  const char* house_f = "";
  const char* kv_f = "";
  long long stree1_f = 0;
  long long kr_f = 0;
  long long knacp_f = 0;
};

class CardTest : public FormTest {
 public:
  // The fake "today" of every card test.
  static QDate Today() { return QDate(2026, 12, 7); }

  void SetUp() override {
    FormTest::SetUp();
    registryDir_ = dir_.filePath(QStringLiteral("registry")).toStdString();
    QDir().mkpath(QString::fromStdString(registryDir_));
    platform_.today = Today();
    CreateRegistry();
  }

  std::string RegistryDir() const { return registryDir_; }

  // The registry: patients 101 (adult, district 3), 102 (child, district 7,
  // whose doctor is in both departments' lists), staff of the adult (61) and
  // children's (78) departments and one code below 1000, districts 3 and 7,
  // and an empty m1042 laid out like the registry program's.
  void CreateRegistry() {
    using registry::FieldSpec;
    const std::string& f = registryDir_;
    registry::CreateTable(f, "m1005",
                          {{"kl", 'N', 10}, {"fiol", 'C', 30}, {"im", 'C', 20}, {"ot", 'C', 20},
                           {"data_r", 'D'}, {"uch", 'N', 3},   {"nnacp", 'C', 30},
                           {"street1", 'C', 40}, {"house", 'C', 10}, {"kv", 'C', 10},
                           {"nnacp_f", 'C', 30}, {"street_f", 'C', 40}, {"house_f", 'C', 10},
                           {"kv_f", 'C', 10}, {"stree1_f", 'N', 6}, {"kr_f", 'N', 4},
                           {"knacp_f", 'N', 6}});
    registry::CreateTable(f, "ci003", {{"kw", 'N', 6}, {"nb", 'C', 40}});
    registry::CreateTable(f, "ci007", {{"kuch", 'N', 3}, {"kw", 'N', 6}});
    registry::CreateTable(f, "m1042",
                          {{"kl", 'N', 10},      {"data_vizc", 'C', 10}, {"kto", 'C', 4},
                           {"prich_v", 'M'},      {"telef", 'C', 20},     {"stree1_f", 'N', 6},
                           {"street_f", 'C', 40}, {"house_f", 'C', 10},   {"kv_f", 'C', 10},
                           {"kr_f", 'N', 4},      {"knacp_f", 'N', 6},    {"nnacp_f", 'C', 40},
                           {"kw", 'N', 6},        {"tosh", 'N', 1},       {"odish", 'N', 1},
                           {"bol_sp", 'N', 1},    {"data_z", 'D'},        {"vr_z", 'T'}});
    AddPatient({101, "Иванов", "Иван", "Иванович", QDate(1990, 5, 10), 3, "г.Город", "Ленина",
                "5", "12", "пос.Лесной", "Д'Артаньяна", "7а", "3", 17, 2, 44});
    AddPatient({102, "Петрова", "", "Анна", QDate(2020, 1, 15), 7, "г.Город", "Мира", "1", "",
                "г.Город", "Мира", "1", "", 18, 3, 45});
    for (const auto& [kw, nb] : std::initializer_list<std::pair<int, const char*>>{
             {61002, "Сидоров П.П."}, {61001, "Алексеева А.А."}, {61003, "Борисов Б.Б."},
             {78001, "Детская Д.Д."}, {78002, "Борисов Б.Б."}, {500, "Старый код"}}) {
      TableRow().Number("kw", kw).Text("nb", Cp1251(nb)).InsertInto(f, "ci003");
    }
    TableRow().Number("kuch", 3).Number("kw", 61003).InsertInto(f, "ci007");
    TableRow().Number("kuch", 7).Number("kw", 78002).InsertInto(f, "ci007");
  }

  void AddPatient(const PatientRow& p) {
    TableRow()
        .Number("kl", p.kl)
        .Text("fiol", Cp1251(p.fiol))
        .Text("im", Cp1251(p.im))
        .Text("ot", Cp1251(p.ot))
        .Date("data_r", p.born)
        .Number("uch", p.uch)
        .Text("nnacp", Cp1251(p.nnacp))
        .Text("street1", Cp1251(p.street1))
        .Text("house", Cp1251(p.house))
        .Text("kv", Cp1251(p.kv))
        .Text("nnacp_f", Cp1251(p.nnacp_f))
        .Text("street_f", Cp1251(p.street_f))
        .Text("house_f", Cp1251(p.house_f))
        .Text("kv_f", Cp1251(p.kv_f))
        .Number("stree1_f", p.stree1_f)
        .Number("kr_f", p.kr_f)
        .Number("knacp_f", p.knacp_f)
        .InsertInto(registryDir_, "m1005");
  }

  // config.ini for the server and the registry folder; departments 61/78.
  std::string Config(int port, const std::string& kw = "61", const std::string& kwd = "78") const {
    return "id=17\r\npass=pw\r\npath=" + registryDir_ + "\r\nproxy=127.0.0.1\r\nproxyport=" +
           std::to_string(port) + "\r\nkw=" + kw + "\r\nkwd=" + kwd + "\r\n";
  }

  // The window, set up against `server`, with the registry's Russian formats.
  TForm1& MakeCardForm(const RoutingServer& server) {
    WriteConfig(Config(server.Port()));
    TForm1& form = MakeForm();
    form.ADO.SetRegionalFormats(registry::RegionalFormats{});
    return form;
  }

  // Item answer from UTF-8 slot texts joined by "|".
  static std::string ItemBody(std::initializer_list<const char*> fields) {
    std::string body;
    bool first = true;
    for (const char* s : fields) {
      if (!first) body += '|';
      body += Cp1251(s);
      first = false;
    }
    return body;
  }

  // Puts `id` into the list and clicks it (selecting it first, as a click does).
  static void ClickRequest(TForm1& form, QListWidget* list, const QString& id) {
    list->clear();
    list->addItem(id);
    list->setCurrentRow(0);
    if (list == form.ListBox1) {
      form.ListBox1Click();
    } else {
      form.ListBox2Click();
    }
  }

  static QStringList ComboItems(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
  }

  std::string registryDir_;
};

}  // namespace ravelto::app::testing
