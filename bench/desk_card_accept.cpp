// The desk's two registry-heavy actions on a registry of working size,
// generated into /tmp at start: m1005 with 200,000 patients and m1042 with
// 1,000,000 home-visit rows (neither indexed, as a free table).
//   BM_CardLoad: the item fetch from a loopback service and the card's four
//     queries (patient, district doctor, adult and child doctors), read as
//     the window reads them. Goal: under 100 ms.
//   BM_Accept: the field-list query, the insert and the marker update, which
//     scans m1042. Goal: under 300 ms.

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/desk/card_text.h"
#include "app/desk/registry_steps.h"
#include "registry/gateway.h"
#include "registry/table/create_table.h"
#include "service/http_client.h"
#include "service/protocol.h"
#include "tests/support/loopback.h"

namespace {

namespace fs = std::filesystem;
using ravelto::registry::FieldSpec;

constexpr int kPatients = 200000;
constexpr int kVisits = 1000000;
constexpr int kPatientLooked = 123457;  // in the middle of m1005

// Appends generated records to a table just made by CreateTable, writing the
// file format directly (the engine's INSERT path would take minutes here).
class RawAppender {
 public:
  explicit RawAppender(const fs::path& dbf) : path_(dbf) {
    std::ifstream in(dbf, std::ios::binary);
    unsigned char head[32];
    in.read(reinterpret_cast<char*>(head), 32);
    headerLength_ = head[8] | (head[9] << 8);
    recordLength_ = head[10] | (head[11] << 8);
    for (;;) {
      unsigned char d[32];
      in.read(reinterpret_cast<char*>(d), 1);
      if (d[0] == 0x0D) break;
      in.read(reinterpret_cast<char*>(d) + 1, 31);
      std::string name(reinterpret_cast<char*>(d), strnlen(reinterpret_cast<char*>(d), 11));
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      Field f;
      f.type = static_cast<char>(d[11]);
      f.offset = d[12] | (d[13] << 8) | (d[14] << 16) | (static_cast<std::uint32_t>(d[15]) << 24);
      f.length = d[16];
      fields_.emplace_back(name, f);
    }
    fs::resize_file(dbf, headerLength_);
    out_.open(dbf, std::ios::binary | std::ios::app);
    record_.assign(recordLength_, ' ');
  }

  void Set(const std::string& name, const std::string& value) {
    const Field& f = Find(name);
    std::string v = value.substr(0, f.length);
    if (f.type == 'N') v.insert(0, f.length - v.size(), ' ');
    v.resize(f.length, ' ');
    std::memcpy(record_.data() + f.offset, v.data(), f.length);
  }
  void SetNumber(const std::string& name, long long n) { Set(name, std::to_string(n)); }
  // D: "YYYYMMDD"; T: Julian day and milliseconds, little-endian.
  void SetDate(const std::string& name, int y, int m, int d) {
    char text[9];
    std::snprintf(text, sizeof text, "%04d%02d%02d", y, m, d);
    Set(name, text);
  }
  void SetDateTime(const std::string& name, std::uint32_t julianDay, std::uint32_t ms) {
    const Field& f = Find(name);
    for (int i = 0; i < 4; ++i) {
      record_[f.offset + i] = static_cast<char>((julianDay >> (8 * i)) & 0xFF);
      record_[f.offset + 4 + i] = static_cast<char>((ms >> (8 * i)) & 0xFF);
    }
  }
  void SetZero(const std::string& name) {
    const Field& f = Find(name);
    std::memset(record_.data() + f.offset, 0, f.length);
  }
  void Append() {
    out_.write(record_.data(), static_cast<std::streamsize>(record_.size()));
    ++count_;
  }
  void Finish() {
    out_.put(0x1A);
    out_.close();
    std::fstream f(path_, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(4);
    for (int i = 0; i < 4; ++i) f.put(static_cast<char>((count_ >> (8 * i)) & 0xFF));
  }

 private:
  struct Field {
    char type = 'C';
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
  };
  const Field& Find(const std::string& name) const {
    for (const auto& [n, f] : fields_) {
      if (n == name) return f;
    }
    throw std::runtime_error("no field " + name);
  }

  fs::path path_;
  std::uint32_t headerLength_ = 0;
  std::uint32_t recordLength_ = 0;
  std::vector<std::pair<std::string, Field>> fields_;
  std::ofstream out_;
  std::string record_;
  std::uint32_t count_ = 0;
};

// "Иванов" and friends in Windows-1251.
const char* const kSurnames[] = {"\xC8\xE2\xE0\xED\xEE\xE2", "\xCF\xE5\xF2\xF0\xEE\xE2",
                                 "\xD1\xE8\xE4\xEE\xF0\xEE\xE2", "\xCA\xF3\xE7\xED\xE5\xF6\xEE\xE2"};

void GenerateRegistry(const fs::path& dir) {
  const std::string folder = dir.string();
  ravelto::registry::CreateTable(
      folder, "m1005",
      {{"kl", 'N', 10}, {"fiol", 'C', 30}, {"im", 'C', 20}, {"ot", 'C', 20}, {"data_r", 'D'},
       {"uch", 'N', 3}, {"nnacp", 'C', 30}, {"street1", 'C', 40}, {"house", 'C', 10},
       {"kv", 'C', 10}, {"nnacp_f", 'C', 30}, {"street_f", 'C', 40}, {"house_f", 'C', 10},
       {"kv_f", 'C', 10}, {"stree1_f", 'N', 6}, {"kr_f", 'N', 4}, {"knacp_f", 'N', 6},
       {"telef", 'C', 20}, {"prim", 'M'}});
  RawAppender m1005(dir / "m1005.dbf");
  for (int i = 1; i <= kPatients; ++i) {
    m1005.SetNumber("kl", i);
    m1005.Set("fiol", kSurnames[i % 4]);
    m1005.Set("im", "Ivan");
    m1005.Set("ot", "Ivanovich");
    m1005.SetDate("data_r", 1930 + i % 95, 1 + i % 12, 1 + i % 28);
    m1005.SetNumber("uch", 1 + i % 12);
    m1005.Set("nnacp", "Gorod");
    m1005.Set("street1", "Lenina");
    m1005.SetNumber("house", i % 200);
    m1005.SetNumber("kv", i % 90);
    m1005.Set("nnacp_f", "Gorod");
    m1005.Set("street_f", "Mira");
    m1005.SetNumber("house_f", i % 150);
    m1005.SetNumber("kv_f", i % 80);
    m1005.SetNumber("stree1_f", i % 700);
    m1005.SetNumber("kr_f", i % 30);
    m1005.SetNumber("knacp_f", i % 400);
    m1005.Set("telef", "8-900-000-00-00");
    m1005.SetZero("prim");
    m1005.Append();
  }
  m1005.Finish();

  ravelto::registry::CreateTable(folder, "ci003", {{"kw", 'N', 6}, {"nb", 'C', 40}});
  RawAppender ci003(dir / "ci003.dbf");
  for (int dept : {61, 78}) {
    for (int k = 1; k <= 25; ++k) {
      ci003.SetNumber("kw", dept * 1000 + k);
      ci003.Set("nb", std::string(kSurnames[k % 4]) + " " + std::to_string(k));
      ci003.Append();
    }
  }
  ci003.Finish();

  ravelto::registry::CreateTable(folder, "ci007", {{"kuch", 'N', 3}, {"kw", 'N', 6}});
  RawAppender ci007(dir / "ci007.dbf");
  for (int k = 1; k <= 12; ++k) {
    ci007.SetNumber("kuch", k);
    ci007.SetNumber("kw", 61000 + k);
    ci007.Append();
  }
  ci007.Finish();

  ravelto::registry::CreateTable(
      folder, "m1042",
      {{"kl", 'N', 10}, {"data_vizc", 'C', 10}, {"kto", 'C', 4}, {"prich_v", 'M'},
       {"telef", 'C', 20}, {"stree1_f", 'N', 6}, {"street_f", 'C', 40}, {"house_f", 'C', 10},
       {"kv_f", 'C', 10}, {"kr_f", 'N', 4}, {"knacp_f", 'N', 6}, {"nnacp_f", 'C', 40},
       {"kw", 'N', 6}, {"tosh", 'N', 1}, {"odish", 'N', 1}, {"bol_sp", 'N', 1},
       {"bol_gol", 'N', 1}, {"pov_nar", 'N', 1}, {"data_z", 'D'}, {"vr_z", 'T'}});
  RawAppender m1042(dir / "m1042.dbf");
  for (int i = 1; i <= kVisits; ++i) {
    m1042.SetNumber("kl", 1 + i % kPatients);
    m1042.Set("data_vizc", "0");
    m1042.Set("kto", "ZUVA");
    m1042.SetZero("prich_v");
    m1042.Set("telef", "8-900-000-00-00");
    m1042.SetNumber("stree1_f", i % 700);
    m1042.Set("street_f", "Mira");
    m1042.SetNumber("house_f", i % 150);
    m1042.SetNumber("kv_f", i % 80);
    m1042.SetNumber("kr_f", i % 30);
    m1042.SetNumber("knacp_f", i % 400);
    m1042.Set("nnacp_f", "Gorod");
    m1042.SetNumber("kw", 61001 + i % 25);
    for (const char* flag : {"tosh", "odish", "bol_sp", "bol_gol", "pov_nar"}) {
      m1042.SetNumber(flag, i % 2);
    }
    m1042.SetDate("data_z", 2020 + i % 6, 1 + i % 12, 1 + i % 28);
    m1042.SetDateTime("vr_z", 2458850 + static_cast<std::uint32_t>(i % 2000), 36000000);
    m1042.Append();
  }
  m1042.Finish();
}

// A loopback service answering every request with one item answer.
class ItemServer {
 public:
  explicit ItemServer(std::string body)
      : answer_("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body) {
    const auto listener = ravelto::testing::ListenLoopback(16);
    listener_ = listener.fd;
    port_ = listener.port;
    thread_ = std::thread([this] {
      for (;;) {
        const int c = ::accept(listener_, nullptr, nullptr);
        if (c < 0) return;
        std::string head;
        ravelto::testing::ReadRequestHead(c, head);
        ravelto::testing::SendAll(c, answer_);
        ::shutdown(c, SHUT_WR);
        ::close(c);
      }
    });
  }
  ~ItemServer() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  int Port() const { return port_; }

 private:
  std::string answer_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

class DeskRegistry {
 public:
  static DeskRegistry& Get() {
    static DeskRegistry instance;
    return instance;
  }
  const std::string& Folder() const { return folder_; }

 private:
  DeskRegistry() {
    const fs::path dir = fs::temp_directory_path() / ("ravelto-bench-desk-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    GenerateRegistry(dir);
    folder_ = dir.string();
    std::atexit([] { fs::remove_all(DeskRegistry::Get().folder_); });
  }
  std::string folder_;
};

void BM_CardLoad(benchmark::State& state) {
  ItemServer server(std::to_string(kPatientLooked) +
                    "|0|07.12.2026 09:15|07.12.2026 09:20|8-900|fever|marks|||| ,tosh=1");
  ravelto::service::Client client;
  client.Proxy().server = "127.0.0.1";
  client.Proxy().port = server.Port();
  ravelto::registry::Connection ado;
  ado.SetConnectionString("Provider=VFPOLEDB;Data Source=" + DeskRegistry::Get().Folder() +
                          ";Mode=ReadWrite");
  ravelto::registry::Query sql(ado);
  std::vector<std::string> doctors;
  const ravelto::desk::DoctorListSink sink{
      [&](const std::string& entry) { doctors.push_back(entry); }, [](int) {}};
  for (auto _ : state) {
    doctors.clear();
    std::string body = client.Get(ravelto::service::ItemUrl("17", "pw", "501"));
    const ravelto::service::Fields item = ravelto::service::ReadItemAnswer(body);
    benchmark::DoNotOptimize(ravelto::desk::StatusLine(item));
    ado.SetConnected(true);
    std::string district;
    if (ravelto::desk::RunQuery(sql, ravelto::desk::PatientQuery(item[0]))) {
      sql.First();
      benchmark::DoNotOptimize(ravelto::desk::JoinColumns(sql, {"fiol", "im", "ot"}));
      benchmark::DoNotOptimize(ravelto::desk::JoinColumns(sql, {"nnacp", "street1", "house", "kv"}));
      benchmark::DoNotOptimize(
          ravelto::desk::JoinColumns(sql, {"nnacp_f", "street_f", "house_f", "kv_f"}));
      benchmark::DoNotOptimize(ravelto::desk::AgeText(
          ravelto::desk::AgeYears(sql.AsDateTime("data_r"), 46363)));
      benchmark::DoNotOptimize(ravelto::desk::ReadKeptAddress(sql));
      district = ravelto::desk::TrimText(sql.AsText("uch"));
    }
    const int doctor = ravelto::desk::DistrictDoctor(sql, district);
    const int next = ravelto::desk::AddDepartmentDoctors(sql, "61", doctor, 1, sink);
    ravelto::desk::AddDepartmentDoctors(sql, "78", doctor, next, sink);
    ado.SetConnected(false);
    if (district.empty() || doctors.size() != 50) state.SkipWithError("card not loaded");
  }
}
BENCHMARK(BM_CardLoad)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Accept(benchmark::State& state) {
  ravelto::registry::Connection ado;
  ado.SetConnectionString("Provider=VFPOLEDB;Data Source=" + DeskRegistry::Get().Folder() +
                          ";Mode=ReadWrite");
  ravelto::registry::Query sql(ado);
  ravelto::desk::AcceptValues values;
  values.patientCode = std::to_string(kPatientLooked);
  values.memo = "fever: 38,5; it's urgent";
  values.phone = "8-900-000-00-00";
  values.address = {"17", "Mira", "5", "12", "3", "44", "Gorod"};
  values.doctorText = "Ivanova(61003)";
  for (auto _ : state) {
    ravelto::desk::WriteAcceptedRow(ado, sql, values, ",tosh=1,odish=1");
  }
}
BENCHMARK(BM_Accept)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The accept's two scans of m1042 on their own: the field-list query (top 1
// by kl) and the marker update (finds no marked row here).
void BM_AcceptFieldListQuery(benchmark::State& state) {
  ravelto::registry::Connection ado;
  ado.SetConnectionString("Provider=VFPOLEDB;Data Source=" + DeskRegistry::Get().Folder() +
                          ";Mode=ReadWrite");
  ado.SetConnected(true);
  ravelto::registry::Query sql(ado);
  for (auto _ : state) {
    ravelto::desk::RunQuery(sql, ravelto::desk::kFieldListQuery);
    benchmark::DoNotOptimize(ravelto::desk::ReadFieldList(sql));
  }
}
BENCHMARK(BM_AcceptFieldListQuery)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_AcceptMarkerUpdate(benchmark::State& state) {
  ravelto::registry::Connection ado;
  ado.SetConnectionString("Provider=VFPOLEDB;Data Source=" + DeskRegistry::Get().Folder() +
                          ";Mode=ReadWrite");
  ado.SetConnected(true);
  ravelto::registry::Query sql(ado);
  const std::string update = ravelto::desk::BuildMarkerUpdate(",tosh=1,odish=1");
  for (auto _ : state) {
    sql.Clear();
    sql.Add(update);
    benchmark::DoNotOptimize(sql.Execute());
  }
}
BENCHMARK(BM_AcceptMarkerUpdate)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
