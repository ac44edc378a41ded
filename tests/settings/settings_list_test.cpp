#include "settings/settings_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ravelto::settings::LineKey;
using ravelto::settings::LineValue;
using ravelto::settings::SettingsList;

namespace {

std::vector<std::string> Parse(std::string_view bytes) {
  SettingsList list;
  list.SetText(bytes);
  return list.Lines();
}

}  // namespace

TEST(SettingsText, LineBreaksZeroByteAndMarkFollowTheReadRule) {
  using V = std::vector<std::string>;
  const struct {
    std::string bytes;
    V lines;
  } cases[] = {
      {"", V{}},
      {"a=1", V{"a=1"}},
      {"a=1\r\n", V{"a=1"}},                      // final break adds no line
      {"a=1\r\nb=2", V{"a=1", "b=2"}},
      {"a=1\nb=2\n", V{"a=1", "b=2"}},            // LF only
      {"a=1\rb=2\r", V{"a=1", "b=2"}},            // lone CR
      {"a\r\r\nb", V{"a", "", "b"}},              // CR then CR LF: one blank line
      {"a\n\r", V{"a", ""}},                      // LF then CR: two breaks
      {"\r\n\r\n", V{"", ""}},
      {std::string("a=1\nb=\0x\nc=3", 12), V{"a=1", "b="}},  // zero byte ends the text
      {"\xEF\xBB\xBFid=5\r\n", V{"\xEF\xBB\xBFid=5"}},          // no mark handling
      {"\xCF\xF3\xF2\xFC=\xC4:\\\r\n", V{"\xCF\xF3\xF2\xFC=\xC4:\\"}},  // cp1251 bytes unchanged
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.bytes), c.lines) << "input: " << c.bytes;
  }
}

TEST(SettingsText, WritesEveryLineWithCrLf) {
  SettingsList list;
  EXPECT_EQ(list.Text(), "");
  list.SetText("a=1\nb\n\n\xC0=\xE0");
  EXPECT_EQ(list.Text(), "a=1\r\nb\r\n\r\n\xC0=\xE0\r\n");
}

TEST(SettingsLookup, FirstMatchIgnoringCaseWithoutTrimming) {
  SettingsList list;
  list.SetText(
      "[main]\n"
      "ID=17\n"
      "id=99\n"
      "kw=12\n"
      "kw=34\n"
      "pass = x\n"
      "path= C:\\reg \n"
      "kwd=\n"
      "url=http://h/?a=b\n"
      "\xCF\xF3\xF2\xFC=1\n");  // Cyrillic name "Путь"
  const struct {
    const char* name;
    const char* value;
  } cases[] = {
      {"id", "17"},           {"kw", "12"},      {"pass", ""},  // "pass " is another name
      {"path", " C:\\reg "},  {"kwd", ""},       {"url", "http://h/?a=b"},
      {"[main]", ""},         {"missing", ""},   {"\xEF\xF3\xF2\xFC", "1"},  // "путь"
  };
  for (const auto& c : cases) EXPECT_EQ(list.Value(c.name), c.value) << c.name;
}

TEST(SettingsWrite, ReplacesFirstMatchAppendsOrDeletes) {
  SettingsList list;
  list.SetText("ID=17\nkw=12\nkw=34\n[x]\n");

  list.Write("id", "18");  // replaced with the lower-case name, in place
  list.Write("kw", "56");  // only the first of two
  list.Write("proxy", "h");  // appended
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"id=18", "kw=56", "kw=34", "[x]", "proxy=h"}));

  list.Write("kw", "");       // deletes the first match only
  list.Write("nothing", "");  // no match: nothing happens
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"id=18", "kw=34", "[x]", "proxy=h"}));
}

TEST(SettingsGridView, KeyAndValueOfALine) {
  const struct {
    const char* line;
    const char* key;
    const char* value;
  } cases[] = {
      {"id=5", "id", "5"},   {"a=b=c", "a", "b=c"}, {"[section]", "", "[section]"},
      {"", "", ""},          {"=", "", ""},         {"k=", "k", ""},
      {"=v", "", "v"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LineKey(c.line), c.key) << c.line;
    EXPECT_EQ(LineValue(c.line), c.value) << c.line;
  }
}
