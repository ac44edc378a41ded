#pragma once
// The request card's text rules: trimming and joining registry values, the
// age text, the status line, the doctors' list entries and the doctor code
// read back from the chosen entry. All text is Windows-1251 bytes.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ravelto::desk {

// Removes leading and trailing characters with codes 0 to 32.
std::string TrimText(std::string_view text);

// Each part trimmed, joined by single spaces even when a part is empty; the
// joined text is not trimmed again ("A", "", "B" gives "A  B").
std::string JoinTrimmed(std::span<const std::string> parts);

// Whole years between two dates given as days since 1899-12-30: the absolute
// difference in days divided by 365.25, truncated toward zero. A birth date
// after today counts as far as the same distance in the past.
int AgeYears(double birthDate, double today);

// "до 1 года" for 0; n + " лет" for 11 to 19 (n itself, so 111 is not one of
// them); otherwise by the last digit: 1 " год", 2-4 " года", else " лет".
// Negative n is not expected (AgeYears never yields one).
std::string AgeText(int years);

// The status line for an item answer's slots: status "1" gives
// "Принят. Врач:" + slot 9 + " Время:" + slot 8, status "2" gives
// "Отказ. Причина: " + slot 7; any other status gives nullopt (the line keeps
// its text). Slots that the span does not reach count as empty.
std::optional<std::string> StatusLine(std::span<const std::string> slots);

// A doctors' list entry: trimmed name + "(" + code text as read + ")".
std::string DoctorEntry(std::string_view name, std::string_view codeText);

// The doctor code inside a doctors' list text: with p the 1-based position
// of the first "(" (0 when none) and q that of the first ")" (0 when none),
// "0" when p is 0 or 1, else the q - p - 1 characters after the "(", or ""
// when q - p - 1 is 0 or less.
std::string DoctorCode(std::string_view comboText);

// Every space replaced by "_", nothing else changed.
std::string SpacesToUnderscores(std::string_view text);

// True for an optional "+" or "-" followed by one or more ASCII digits and
// nothing else: the only texts the desk splices into a statement bare.
bool IsWholeNumber(std::string_view text);

}  // namespace ravelto::desk
