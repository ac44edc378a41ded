// The request service's URLs byte for byte, the field splitter and the
// readers of the list and item answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/protocol.h"
#include "service/request_head.h"

namespace ravelto::service {
namespace {

TEST(Protocol, EveryUrlByteForByte) {
  const std::string r(RequestServiceBase), f(FileServiceBase), a(AdminSiteBase);
  // Raw values: "&", "#", spaces and Windows-1251 letters are not escaped.
  const std::string id = "A&1", pass = "p#w d";
  const std::string reason = "\xC1\xE5\xE7_\xEF\xF0\xE8\xF7\xE8\xED\xFB";  // the reason with "_" for its space
  const std::vector<std::pair<std::string, std::string>> urls = {
      {LoginUrl(id, pass), r + "/medic/server.php?mode=login&id=A&1&pass=p#w d"},
      {PingUrl(), r + "/medic/server.php?mode=ping"},
      {ListUrl(id, pass), r + "/medic/home/list.php?id=A&1&pass=p#w d&ver=21"},
      {ItemUrl(id, pass, "77"), r + "/medic/home/item.php?id=A&1&pass=p#w d&item=77"},
      {RejectUrl(id, pass, "77", reason), r + "/medic/home/save.php?obj=A&1&pass=p#w d&id=77&error=" + reason},
      {AcceptUrl(id, pass, "77", "08:00-12:00", "\xC8\xE2\xE0\xED\xEE\xE2_\xC8.\xC8."),
       r + "/medic/home/save.php?obj=A&1&pass=p#w d&id=77&vzap=08:00-12:00&doc=\xC8\xE2\xE0\xED\xEE\xE2_\xC8.\xC8."},
      {AdminPageUrl(id, pass), a + "/com/medadmin/kestova.php?id=A&1&pass=p#w d"},
      {LatestVersionUrl(), f + "/upload/online.php?home=1"},
      {NewProgramUrl(0), f + "/upload/ravelto.exe?0"},
      {DriverInstallerUrl(999999), f + "/upload/VFPOLEDBSetup.msi?999999"},
  };
  for (const auto& [built, expected] : urls) EXPECT_EQ(built, expected);
  EXPECT_EQ(ProgramVersion, 21);
  EXPECT_EQ(ListUrl("", "").substr(ListUrl("", "").size() - 7), "&ver=21");
}

TEST(Protocol, HashInPasswordCutsTheQueryOnTheWire) {
  const UrlParts parts = SplitUrl(ListUrl("5", "ab#cd"));
  EXPECT_EQ(parts.target, "/medic/home/list.php?id=5&pass=ab");
}

TEST(SplitFields, Slots) {
  struct Case {
    std::string text;
    char sep;
    std::vector<std::string> slots;  // the leading slots; the rest must be empty
    std::string rest;                // the text afterwards
  };
  const std::vector<Case> cases = {
      {"", ',', {""}, ""},
      {"abc", ',', {"abc"}, "abc"},
      {"a,,c", ',', {"a", "", "c"}, "c"},
      {",b", ',', {"", "b"}, "b"},
      {"a|b|", '|', {"a", "b", ""}, ""},
      {"12,0", ',', {"12", "0"}, "0"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    const Fields fields = SplitFields(text, c.sep);
    for (std::size_t i = 0; i < FieldCount; ++i) {
      const std::string expected = i < c.slots.size() ? c.slots[i] : "";
      EXPECT_EQ(fields[i], expected) << "'" << c.text << "' slot " << i;
    }
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(SplitFields, MoreThanTwentyFieldsKeepTheRestInTheLastSlot) {
  std::string text;
  for (int i = 0; i < 25; ++i) text += std::to_string(i) + (i < 24 ? "|" : "");
  std::string exactly;
  for (int i = 0; i < 20; ++i) exactly += std::to_string(i) + (i < 19 ? "|" : "");

  Fields fields = SplitFields(exactly, '|');
  EXPECT_EQ(fields[19], "19");
  fields = SplitFields(text, '|');
  EXPECT_EQ(fields[18], "18");
  EXPECT_EQ(fields[19], "19|20|21|22|23|24");
  EXPECT_EQ(text, "24");
}

TEST(ListAnswer, RecordsInAnswerOrder) {
  struct Case {
    std::string body;
    std::vector<std::string> fresh, processed;
  };
  const std::vector<Case> cases = {
      {"12,0#13,1#", {"12"}, {"13"}},
      {"12,0#13,1#14,0", {"12"}, {"13"}},  // text after the last "#" is ignored
      {"12,0", {}, {}},
      {"", {}, {}},
      {"1,0##2,2#3,#4#5,0,x,y#", {"1", "5"}, {"", "2", "3", "4"}},
      {"9,00#8, 0#", {}, {"9", "8"}},
  };
  for (const Case& c : cases) {
    const ListAnswer answer = ReadListAnswer(c.body);
    EXPECT_EQ(answer.newIds, c.fresh) << c.body;
    EXPECT_EQ(answer.processedIds, c.processed) << c.body;
  }
}

TEST(ItemAnswer, SplitAtBars) {
  const Fields item = ReadItemAnswer("501|1|10:00|10:05|555-12|text|marks|reason|AM|Doc|,tosh=1|");
  EXPECT_EQ(item[0], "501");
  EXPECT_EQ(item[9], "Doc");
  EXPECT_EQ(item[10], ",tosh=1");
  EXPECT_EQ(item[11], "");
  const Fields few = ReadItemAnswer("7|2");
  EXPECT_EQ(few[1], "2");
  for (std::size_t i = 2; i < FieldCount; ++i) EXPECT_EQ(few[i], "");
}

}  // namespace
}  // namespace ravelto::service
