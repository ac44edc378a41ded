// The symptoms a patient can mark on the request form. Each one is a numeric
// flag column of the registry's home-visit table; the demo registry creates
// exactly these columns, and the service sends ",<column>=1" for each marked
// one. Labels are UTF-8 (the form's encoding).
#pragma once

#include <array>
#include <string_view>

namespace ravelto::reqsvc {

struct Symptom {
  std::string_view column;
  std::string_view label_utf8;
};

inline constexpr std::array<Symptom, 9> kSymptoms = {{
    {"tosh", "Тошнота, рвота"},
    {"odish", "Одышка"},
    {"bol_sp", "Боль в спине"},
    {"bol_gol", "Головная боль"},
    {"pov_nar", "Повышенная температура"},
    {"kash", "Кашель"},
    {"nasm", "Насморк"},
    {"bol_gorl", "Боль в горле"},
    {"slab", "Слабость, головокружение"},
}};

}  // namespace ravelto::reqsvc
