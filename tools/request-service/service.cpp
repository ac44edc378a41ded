#include "tools/request-service/service.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/request-service/symptoms.h"
#include "tools/request-service/text_codec.h"
#include "tools/request-service/web_pages.h"

namespace ravelto::reqsvc {
namespace {

// Russian texts are written here in UTF-8 and go out as Windows-1251.
Answer Text(int status, std::string_view utf8) {
  Answer a;
  a.status = status;
  a.body = Utf8ToCp1251(utf8);
  return a;
}

Answer Missing(std::string_view key) {
  return Text(400, "Неверный запрос: нет ключа \"" + std::string(key) + "\"");
}

constexpr std::string_view kBadLogin = "Неверный код клиента или пароль";

// A slot of the item answer must not contain the slot separator.
std::string Slot(std::string_view value) {
  std::string s(value);
  std::replace(s.begin(), s.end(), '|', '/');
  return s;
}

// Splits an x-www-form-urlencoded body into decoded (UTF-8) pairs.
std::vector<std::pair<std::string, std::string>> FormFields(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!body.empty()) {
    const auto amp = body.find('&');
    const std::string_view piece = body.substr(0, amp);
    const auto eq = piece.find('=');
    if (!piece.empty()) {
      out.emplace_back(FormDecode(piece.substr(0, eq)),
                       eq == std::string_view::npos ? std::string() : FormDecode(piece.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    body = body.substr(amp + 1);
  }
  return out;
}

}  // namespace

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
  return buf;
}

RequestService::RequestService(State initial, ServiceConfig config)
    : config_(std::move(config)), state_(std::move(initial)) {
  if (!config_.clock) config_.clock = LocalTimeText;
}

State RequestService::Snapshot() const {
  std::lock_guard lock(mu_);
  return state_;
}

const Clinic* RequestService::Authenticate(const std::string& code, const std::string& pass) const {
  const Clinic* c = state_.FindClinic(code);
  return c != nullptr && c->pass == pass ? c : nullptr;
}

void RequestService::Persist() {
  if (!config_.state_path.empty()) SaveStateFile(config_.state_path, state_);
}

Answer RequestService::Get(std::string_view raw_target) {
  const RawTarget t = ParseTarget(raw_target);
  if (t.path == "/medic/server.php") return Login(t);
  if (t.path == "/medic/home/list.php") return List(t);
  if (t.path == "/medic/home/item.php") return Item(t);
  if (t.path == "/medic/home/save.php") return Save(t);
  if (t.path == "/upload/online.php") return Version();
  if (t.path == "/upload/ravelto.exe") return Download("ravelto.exe");
  if (t.path == "/upload/VFPOLEDBSetup.msi") return Download("VFPOLEDBSetup.msi");
  if (t.path == "/com/medadmin/kestova.php") return Admin(t);
  if (t.path == "/" || t.path == "/index.html") return Form(t);
  return Text(404, "Нет такой страницы: " + Cp1251ToUtf8(t.path));
}

Answer RequestService::Login(const RawTarget& t) {
  const auto mode = t.Get("mode");
  if (!mode) return Missing("mode");
  if (*mode == "ping") return Text(200, "ok");
  if (*mode != "login") return Text(400, "Неверный запрос: неизвестный режим \"" + Cp1251ToUtf8(*mode) + "\"");
  const auto id = t.Get("id");
  const auto pass = t.Get("pass");
  if (!id) return Missing("id");
  if (!pass) return Missing("pass");
  std::lock_guard lock(mu_);
  return Authenticate(*id, *pass) != nullptr ? Text(200, "1") : Text(200, kBadLogin);
}

Answer RequestService::List(const RawTarget& t) {
  const auto id = t.Get("id");
  const auto pass = t.Get("pass");
  if (!id) return Missing("id");
  if (!pass) return Missing("pass");
  std::string body;
  {
    std::lock_guard lock(mu_);
    if (Authenticate(*id, *pass) == nullptr) return Text(403, kBadLogin);
    for (const auto& r : state_.requests) {
      if (r.clinic != *id) continue;
      body += std::to_string(r.id);
      body += ',';
      body += r.status;
      body += '#';
    }
  }
  Answer a;
  a.body = std::move(body);
  return a;
}

Answer RequestService::Item(const RawTarget& t) {
  const auto id = t.Get("id");
  const auto pass = t.Get("pass");
  const auto item = t.Get("item");
  if (!id) return Missing("id");
  if (!pass) return Missing("pass");
  if (!item) return Missing("item");
  std::lock_guard lock(mu_);
  if (Authenticate(*id, *pass) == nullptr) return Text(403, kBadLogin);
  std::int64_t n = 0;
  const Request* r = ParseInt64(*item, n) ? state_.FindRequest(n) : nullptr;
  if (r == nullptr || r->clinic != *id) return Text(404, "Заявка " + Cp1251ToUtf8(*item) + " не найдена");
  const std::string_view slots[] = {r->patient, r->status, r->filed,  r->edited, r->phone,   r->text,
                                    r->marked,  r->reason, r->slot,   r->doctor, r->fragment};
  Answer a;
  for (std::size_t i = 0; i < std::size(slots); ++i) {
    if (i > 0) a.body += '|';
    a.body += Slot(slots[i]);
  }
  return a;
}

Answer RequestService::Save(const RawTarget& t) {
  const auto obj = t.Get("obj");
  const auto pass = t.Get("pass");
  const auto id = t.Get("id");
  const auto error = t.Get("error");
  const auto vzap = t.Get("vzap");
  if (!obj) return Missing("obj");
  if (!pass) return Missing("pass");
  if (!id) return Missing("id");
  if (!error && !vzap) {
    return Text(400, "Неверный запрос: нужен ключ \"error\" (отказ) или \"vzap\" и \"doc\" (принятие)");
  }
  std::lock_guard lock(mu_);
  if (Authenticate(*obj, *pass) == nullptr) return Text(200, kBadLogin);
  std::int64_t n = 0;
  Request* r = ParseInt64(*id, n) ? state_.FindRequest(n) : nullptr;
  if (r == nullptr || r->clinic != *obj) return Text(200, "Заявка " + Cp1251ToUtf8(*id) + " не найдена");
  const Request before = *r;
  const std::string now = config_.clock();
  if (error) {
    r->status = std::string(kStatusRejected);
    r->reason = *error;
    r->slot.clear();
    r->doctor.clear();
  } else {
    r->status = std::string(kStatusAccepted);
    r->reason.clear();
    r->slot = *vzap;
    r->doctor = t.Get("doc").value_or("");
  }
  r->edited = now;
  r->decided = now;
  try {
    Persist();
  } catch (const StateError&) {
    *r = before;
    return Text(200, "Решение не сохранено: ошибка записи на сервере заявок");
  }
  return Text(200, "ok");
}

Answer RequestService::Version() {
  std::lock_guard lock(mu_);
  return Text(200, std::to_string(state_.latest_version));
}

Answer RequestService::Download(const std::string& name) {
  if (!config_.files_dir.empty()) {
    std::ifstream in(config_.files_dir + "/" + name, std::ios::binary);
    if (in) {
      std::ostringstream os;
      os << in.rdbuf();
      if (!in.bad()) {
        Answer a;
        a.body = os.str();
        a.content_type = std::string(kBinary);
        return a;
      }
    }
  }
  return Text(404, "Файл не найден: " + name);
}

Answer RequestService::Admin(const RawTarget& t) {
  const auto id = t.Get("id");
  const auto pass = t.Get("pass");
  if (!id) return Missing("id");
  if (!pass) return Missing("pass");
  std::lock_guard lock(mu_);
  const Clinic* c = Authenticate(*id, *pass);
  Answer a;
  if (c == nullptr) {
    a.status = 403;
    a.body = AdminDeniedPage();
    return a;
  }
  std::vector<Request> mine;
  for (const auto& r : state_.requests) {
    if (r.clinic == c->code) mine.push_back(r);
  }
  a.body = AdminPage(*c, mine);
  return a;
}

Answer RequestService::Form(const RawTarget& t) {
  FormView view;
  if (const auto filed = t.Get("filed"); filed && !filed->empty()) {
    std::int64_t n = 0;
    if (ParseInt64(*filed, n)) {
      view.notice = "Заявка №" + std::to_string(n) + " принята. Регистратура свяжется с вами по телефону.";
    }
  }
  if (const auto clinic = t.Get("clinic")) view.clinic = FormDecode(*clinic);
  Answer a;
  a.content_type = std::string(kHtmlUtf8);
  std::lock_guard lock(mu_);
  a.body = FormPage(state_.clinics, view);
  return a;
}

std::int64_t RequestService::File(const NewRequest& in) {
  const auto invalid = [](const char* utf8) { return std::invalid_argument(utf8); };
  if (in.patient.empty() || in.patient.size() > 9 ||
      !std::all_of(in.patient.begin(), in.patient.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw invalid("Код пациента — это номер до 9 цифр.");
  }
  if (in.phone.empty()) throw invalid("Укажите телефон для связи.");
  if (in.phone.size() > 20 || !std::all_of(in.phone.begin(), in.phone.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == ' ' || c == '+' || c == '-' || c == '(' || c == ')';
      })) {
    throw invalid("Телефон: до 20 знаков, только цифры, пробелы и + - ( ).");
  }
  if (in.text.size() > 1000) throw invalid("Слишком длинное описание (больше 1000 знаков).");

  Request r;
  r.clinic = in.clinic;
  r.status = std::string(kStatusNew);
  r.patient = in.patient;
  r.phone = in.phone;
  // The text travels in a "|"-separated answer and ends up inside a quoted SQL
  // value at the desk: keep both separators out of it.
  r.text = in.text;
  std::replace(r.text.begin(), r.text.end(), '|', '/');
  std::replace(r.text.begin(), r.text.end(), '\'', '\x92');
  for (const auto& s : kSymptoms) {
    if (std::find(in.symptoms.begin(), in.symptoms.end(), s.column) == in.symptoms.end()) continue;
    if (!r.marked.empty()) r.marked += ", ";
    r.marked += Utf8ToCp1251(s.label_utf8);
    r.fragment += "," + std::string(s.column) + "=1";
  }
  if (r.text.empty() && r.marked.empty()) throw invalid("Опишите, что беспокоит, или отметьте пункты ниже.");

  std::lock_guard lock(mu_);
  if (state_.FindClinic(in.clinic) == nullptr) throw invalid("Выберите поликлинику из списка.");
  r.id = state_.next_id;
  r.filed = r.edited = config_.clock();
  state_.requests.push_back(r);
  ++state_.next_id;
  try {
    Persist();
  } catch (...) {
    state_.requests.pop_back();
    --state_.next_id;
    throw;
  }
  return r.id;
}

Answer RequestService::PostForm(std::string_view body) {
  NewRequest in;
  FormView view;
  for (const auto& [k, v] : FormFields(body)) {
    if (k == "clinic") in.clinic = Utf8ToCp1251(v);
    else if (k == "patient") view.patient = v;
    else if (k == "phone") view.phone = v;
    else if (k == "text") view.text = v;
    else if (k == "s") in.symptoms.push_back(v);
  }
  const auto trim = [](std::string s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    const auto e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  };
  in.patient = Utf8ToCp1251(trim(view.patient));
  in.phone = Utf8ToCp1251(trim(view.phone));
  in.text = Utf8ToCp1251(trim(view.text));
  view.clinic = in.clinic;
  Answer a;
  try {
    const std::int64_t id = File(in);
    a.status = 303;
    a.location = "/?filed=" + std::to_string(id);
    a.content_type = std::string(kHtmlUtf8);
    a.body = "<a href=\"" + a.location + "\">OK</a>";
    return a;
  } catch (const std::invalid_argument& e) {
    view.error = e.what();
    a.status = 400;
  } catch (const StateError&) {
    view.error = "Заявка не сохранена: ошибка на сервере. Попробуйте ещё раз или позвоните в регистратуру.";
    a.status = 500;
  }
  a.content_type = std::string(kHtmlUtf8);
  std::lock_guard lock(mu_);
  a.body = FormPage(state_.clinics, view);
  return a;
}

}  // namespace ravelto::reqsvc
