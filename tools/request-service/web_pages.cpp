#include "tools/request-service/web_pages.h"

#include "tools/request-service/symptoms.h"
#include "tools/request-service/text_codec.h"

namespace ravelto::reqsvc {
namespace {

std::string E(std::string_view utf8) { return HtmlEscape(utf8); }
std::string EC(std::string_view cp1251) { return HtmlEscape(Cp1251ToUtf8(cp1251)); }

constexpr std::string_view kStyle =
    "<style>body{font-family:sans-serif;max-width:46em;margin:1em auto;padding:0 1em}"
    "label{display:block;margin:.6em 0 .2em}input[type=text],select,textarea{width:100%;"
    "box-sizing:border-box;font-size:1em;padding:.3em}.ok{color:#060}.err{color:#a00}"
    "fieldset{margin-top:1em}fieldset label{display:inline-block;width:48%;margin:.2em 0}"
    "table{border-collapse:collapse;width:100%}td,th{border:1px solid #999;padding:.2em .4em;"
    "vertical-align:top}button{margin-top:1em;font-size:1.1em;padding:.3em 1.5em}</style>";

}  // namespace

std::string FormPage(const std::vector<Clinic>& clinics, const FormView& view) {
  std::string h;
  h += "<!DOCTYPE html><html lang=\"ru\"><head><meta charset=\"utf-8\">"
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
       "<title>Вызов врача на дом</title>";
  h += kStyle;
  h += "</head><body><h1>Вызов врача на дом</h1>";
  if (!view.notice.empty()) h += "<p class=\"ok\">" + E(view.notice) + "</p>";
  if (!view.error.empty()) h += "<p class=\"err\">" + E(view.error) + "</p>";
  h += "<form method=\"post\" action=\"/\" accept-charset=\"utf-8\">";
  h += "<label for=\"clinic\">Поликлиника</label><select id=\"clinic\" name=\"clinic\">";
  for (const auto& c : clinics) {
    h += "<option value=\"" + EC(c.code) + "\"";
    if (c.code == view.clinic) h += " selected";
    h += ">" + EC(c.name.empty() ? c.code : c.name) + "</option>";
  }
  h += "</select>";
  h += "<label for=\"patient\">Код пациента (номер карты)</label>"
       "<input type=\"text\" id=\"patient\" name=\"patient\" inputmode=\"numeric\" maxlength=\"9\" value=\"" +
       E(view.patient) + "\">";
  h += "<label for=\"phone\">Телефон</label><input type=\"text\" id=\"phone\" name=\"phone\" maxlength=\"20\" value=\"" +
       E(view.phone) + "\">";
  h += "<label for=\"text\">Что беспокоит</label><textarea id=\"text\" name=\"text\" rows=\"4\" maxlength=\"1000\">" +
       E(view.text) + "</textarea>";
  h += "<fieldset><legend>Отметьте, что есть</legend>";
  for (const auto& s : kSymptoms) {
    h += "<label><input type=\"checkbox\" name=\"s\" value=\"" + std::string(s.column) + "\"> " +
         std::string(s.label_utf8) + "</label>";
  }
  h += "</fieldset><button type=\"submit\">Вызвать врача</button></form></body></html>";
  return h;
}

std::string AdminPage(const Clinic& clinic, const std::vector<Request>& requests) {
  std::string h;
  h += "<!DOCTYPE html><html lang=\"ru\"><head><meta charset=\"windows-1251\"><title>Заявки: " +
       EC(clinic.name.empty() ? clinic.code : clinic.name) + "</title>";
  h += kStyle;
  h += "</head><body><h1>Заявки на вызов врача</h1><p>" + EC(clinic.name) + " (код клиента " + EC(clinic.code) +
       ")</p>";
  int counts[3] = {0, 0, 0};
  for (const auto& r : requests) {
    if (r.status == kStatusNew) ++counts[0];
    else if (r.status == kStatusAccepted) ++counts[1];
    else ++counts[2];
  }
  h += "<p>Новых: " + std::to_string(counts[0]) + ", принято: " + std::to_string(counts[1]) +
       ", отклонено: " + std::to_string(counts[2]) + "</p>";
  h += "<table><tr><th>№</th><th>Подана</th><th>Код пац.</th><th>Телефон</th><th>Жалобы</th>"
       "<th>Состояние</th><th>Решение</th></tr>";
  for (const auto& r : requests) {
    std::string state = "новая";
    std::string decision;
    if (r.status == kStatusAccepted) {
      state = "принята";
      decision = EC(r.doctor) + ", " + EC(r.slot);
    } else if (r.status == kStatusRejected) {
      state = "отклонена";
      decision = EC(r.reason);
    }
    if (!r.decided.empty()) decision += "<br>" + EC(r.decided);
    std::string complaint = EC(r.text);
    if (!r.marked.empty()) complaint += "<br><i>" + EC(r.marked) + "</i>";
    h += "<tr><td>" + std::to_string(r.id) + "</td><td>" + EC(r.filed) + "</td><td>" + EC(r.patient) +
         "</td><td>" + EC(r.phone) + "</td><td>" + complaint + "</td><td>" + state + "</td><td>" + decision +
         "</td></tr>";
  }
  h += "</table></body></html>";
  return Utf8ToCp1251(h);
}

std::string AdminDeniedPage() {
  return Utf8ToCp1251(
      "<!DOCTYPE html><html lang=\"ru\"><head><meta charset=\"windows-1251\"><title>Доступ закрыт</title>"
      "</head><body><h1>Неверный код клиента или пароль</h1></body></html>");
}

}  // namespace ravelto::reqsvc
