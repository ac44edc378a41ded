#include "service/protocol.h"

#include <string>

#ifndef RAVELTO_REQUEST_SERVICE_BASE
#error "RAVELTO_REQUEST_SERVICE_BASE must be defined by the build"
#endif

namespace ravelto::service {

const std::string_view RequestServiceBase = RAVELTO_REQUEST_SERVICE_BASE;
const std::string_view FileServiceBase = RAVELTO_FILE_SERVICE_BASE;
const std::string_view AdminSiteBase = RAVELTO_ADMIN_SITE_BASE;

namespace {

// Joins the pieces with nothing between them.
std::string Join(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view p : parts) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : parts) out.append(p);
  return out;
}

}  // namespace

std::string LoginUrl(std::string_view clientCode, std::string_view password) {
  return Join({RequestServiceBase, "/medic/server.php?mode=login&id=", clientCode, "&pass=",
               password});
}

std::string PingUrl() { return Join({RequestServiceBase, "/medic/server.php?mode=ping"}); }

std::string ListUrl(std::string_view clientCode, std::string_view password) {
  const std::string version = std::to_string(ProgramVersion);
  return Join({RequestServiceBase, "/medic/home/list.php?id=", clientCode, "&pass=", password,
               "&ver=", version});
}

std::string ItemUrl(std::string_view clientCode, std::string_view password,
                    std::string_view requestId) {
  return Join({RequestServiceBase, "/medic/home/item.php?id=", clientCode, "&pass=", password,
               "&item=", requestId});
}

std::string RejectUrl(std::string_view clientCode, std::string_view password,
                      std::string_view requestId, std::string_view reason) {
  return Join({RequestServiceBase, "/medic/home/save.php?obj=", clientCode, "&pass=", password,
               "&id=", requestId, "&error=", reason});
}

std::string AcceptUrl(std::string_view clientCode, std::string_view password,
                      std::string_view requestId, std::string_view timeSlot,
                      std::string_view doctor) {
  return Join({RequestServiceBase, "/medic/home/save.php?obj=", clientCode, "&pass=", password,
               "&id=", requestId, "&vzap=", timeSlot, "&doc=", doctor});
}

std::string AdminPageUrl(std::string_view clientCode, std::string_view password) {
  return Join({AdminSiteBase, "/com/medadmin/kestova.php?id=", clientCode, "&pass=", password});
}

std::string LatestVersionUrl() { return Join({FileServiceBase, "/upload/online.php?home=1"}); }

std::string NewProgramUrl(int cacheNumber) {
  const std::string number = std::to_string(cacheNumber);
  return Join({FileServiceBase, "/upload/ravelto.exe?", number});
}

std::string DriverInstallerUrl(int cacheNumber) {
  const std::string number = std::to_string(cacheNumber);
  return Join({FileServiceBase, "/upload/VFPOLEDBSetup.msi?", number});
}

Fields SplitFields(std::string& text, char sep) {
  Fields fields;
  std::size_t slot = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(sep, start);
    if (at == std::string::npos) break;
    if (slot == FieldCount - 1) {
      // No slot left: the last one keeps the rest, separators included.
      fields[slot] = text.substr(start);
      text.erase(0, text.rfind(sep) + 1);
      return fields;
    }
    fields[slot++].assign(text, start, at - start);
    start = at + 1;
  }
  text.erase(0, start);
  fields[slot] = text;
  return fields;
}

ListAnswer ReadListAnswer(std::string_view body) {
  ListAnswer answer;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = body.find('#', start);
    if (end == std::string_view::npos) break;
    std::string record(body.substr(start, end - start));
    start = end + 1;
    Fields fields = SplitFields(record, ',');
    if (fields[1] == "0") {
      answer.newIds.push_back(std::move(fields[0]));
    } else {
      answer.processedIds.push_back(std::move(fields[0]));
    }
  }
  return answer;
}

Fields ReadItemAnswer(std::string_view body) {
  std::string text(body);
  return SplitFields(text, '|');
}

}  // namespace ravelto::service
