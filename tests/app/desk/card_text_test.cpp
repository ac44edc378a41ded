#include "app/desk/card_text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "app/desk/cp1251_literal.h"

namespace ravelto::desk {
namespace {

TEST(AgeText, RussianFormsAtTheBoundaries) {
  const struct {
    int years;
    const char* text;
  } cases[] = {
      {0, "до 1 года"}, {1, "1 год"},     {2, "2 года"},     {4, "4 года"},     {5, "5 лет"},
      {10, "10 лет"},   {11, "11 лет"},   {12, "12 лет"},    {14, "14 лет"},    {19, "19 лет"},
      {20, "20 лет"},   {21, "21 год"},   {22, "22 года"},   {25, "25 лет"},    {101, "101 год"},
      {111, "111 год"}, {112, "112 года"}, {115, "115 лет"}, {120, "120 лет"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AgeText(c.years), Cp1251(c.text)) << c.years;
  }
}

TEST(AgeYears, TruncatesWholeYearsOfThreeHundredSixtyFiveAndAQuarterDays) {
  const double today = 46000;  // any day; only differences matter
  const struct {
    double daysBack;
    int years;
  } cases[] = {
      {0, 0}, {365, 0}, {366, 1}, {730, 1}, {731, 2},
      {365.25 * 19, 19}, {365.25 * 19 - 1, 18}, {365.25 * 112, 112},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AgeYears(today - c.daysBack, today), c.years) << c.daysBack;
  }
}

TEST(AgeYears, FutureBirthDateCountsLikeTheSameDistanceInThePast) {
  const double today = 46000;
  for (double days : {1.0, 366.0, 4018.0, 7671.0}) {
    EXPECT_EQ(AgeYears(today + days, today), AgeYears(today - days, today)) << days;
  }
  EXPECT_EQ(AgeText(AgeYears(today + 4018, today)), Cp1251("11 лет"));
}

TEST(TrimText, RemovesControlCodesAndBlanksAtBothEndsOnly) {
  EXPECT_EQ(TrimText(std::string("\0\t  A B \r\n\x1f", 10)), "A B");
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(TrimText("\xC0\xA0"), "\xC0\xA0");  // Cyrillic and cp1251 no-break space stay
}

TEST(JoinTrimmed, KeepsEmptyPartsAsDoubleSpacesAndDoesNotTrimTheResult) {
  const std::vector<std::string> parts = {"  Ivanov ", "", "Petrovich  "};
  EXPECT_EQ(JoinTrimmed(parts), "Ivanov  Petrovich");
  const std::vector<std::string> emptyFirst = {"", "B"};
  EXPECT_EQ(JoinTrimmed(emptyFirst), " B");
  const std::vector<std::string> allEmpty = {"", "", ""};
  EXPECT_EQ(JoinTrimmed(allEmpty), "  ");
}

TEST(StatusLine, AcceptedRejectedAndOtherStatuses) {
  std::array<std::string, 20> slots{};
  slots[7] = "no answer";
  slots[8] = "morning";
  slots[9] = "Doctor(61001)";
  slots[1] = "1";
  EXPECT_EQ(StatusLine(slots), Cp1251("Принят. Врач:") + "Doctor(61001)" + Cp1251(" Время:") + "morning");
  slots[1] = "2";
  EXPECT_EQ(StatusLine(slots), Cp1251("Отказ. Причина: ") + "no answer");
  for (const char* other : {"0", "", " 1", "1 ", "3"}) {
    slots[1] = other;
    EXPECT_FALSE(StatusLine(slots).has_value()) << other;
  }
  const std::vector<std::string> short_ = {"5", "1"};  // slots 8 and 9 missing count as empty
  EXPECT_EQ(StatusLine(short_), Cp1251("Принят. Врач:") + Cp1251(" Время:"));
}

TEST(DoctorEntry, TrimsTheNameButNotTheCode) {
  EXPECT_EQ(DoctorEntry("  Ivanova A.A.   ", "61001"), "Ivanova A.A.(61001)");
  EXPECT_EQ(DoctorEntry("", " 7"), "( 7)");
}

TEST(DoctorCode, TakesTheTextBetweenFirstParentheses) {
  const struct {
    const char* text;
    const char* code;
  } cases[] = {
      {"Ivanova(61001)", "61001"},
      {"Врач не указан", "0"},       // no "("
      {"(61001)", "0"},              // "(" first: empty name
      {"", "0"},
      {"Ivanova()", ""},             // q - p - 1 == 0
      {"Ivanova(61001", ""},         // no ")"
      {"a)b(61001)", ""},            // ")" before "("
      {"A B (61 001) (7)", "61 001"},// spaces kept, first pair only
      {"x(1)(2)", "1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DoctorCode(Cp1251(c.text)), c.code) << c.text;
  }
}

TEST(SpacesToUnderscores, ReplacesEverySpaceOnly) {
  EXPECT_EQ(SpacesToUnderscores(Cp1251("В течение  дня")), Cp1251("В_течение__дня"));
  EXPECT_EQ(SpacesToUnderscores("a\tb&c"), "a\tb&c");
}

TEST(IsWholeNumber, SignAndDigitsOnly) {
  for (const char* yes : {"0", "123", "-5", "+61", "000", "99999999999"}) {
    EXPECT_TRUE(IsWholeNumber(yes)) << yes;
  }
  for (const char* no : {"", "-", "+", " 1", "1 ", "1 or 1=1", "1.5", "1,5", "12a", "--1", "0x10", "1;"}) {
    EXPECT_FALSE(IsWholeNumber(no)) << no;
  }
}

TEST(Cp1251, ConvertsCyrillicAndRefusesWhatItCannotHold) {
  EXPECT_EQ(Cp1251("Аа Яя Ёё №"), "\xC0\xE0 \xDF\xFF \xA8\xB8 \xB9");
  EXPECT_THROW(Cp1251("\xE2\x82\xAC"), std::invalid_argument);  // euro sign
  EXPECT_THROW(Cp1251("\xD0"), std::invalid_argument);          // truncated
}

}  // namespace
}  // namespace ravelto::desk
