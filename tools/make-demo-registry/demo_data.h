// The demo registry's content, generated from a fixed seed: patients (m1005),
// districts (ci007), staff (ci003) and the layout of the home-visit table
// (m1042). Texts are Windows-1251 bytes. Nothing here touches files; the
// writer (demo_writer.h) puts the tables on disk through the registry engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ravelto::demo {

// One column of a table layout: the type letter and sizes of the table format
// (C text, N number, D date, T date-time, M memo).
struct ColumnSpec {
  std::string name;  // lower case
  char type = 'C';
  int length = 0;    // C and N; ignored for D, T, M
  int decimals = 0;  // N
};

struct TableSpec {
  std::string name;
  std::vector<ColumnSpec> columns;
};

struct CivilDay {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct Patient {
  int kl = 0;
  std::string fiol, im, ot;
  char sex = 'M';
  CivilDay data_r;
  int uch = 0;  // district 1..12
  std::string nnacp, street1, house, kv;        // registered address
  std::string nnacp_f, street_f, house_f, kv_f;  // actual address
  int stree1_f = 0, kr_f = 0, knacp_f = 0;       // codes of the actual address
  std::string telef;
};

struct Staff {
  int kw = 0;
  std::string nb;     // "Surname Name Patronymic"
  std::string dolj;   // position
};

struct District {
  int kuch = 0;
  int kw = 0;  // the district's doctor
  std::string nuch;
};

struct DemoRegistry {
  std::vector<Patient> patients;  // kl = kFirstPatientCode, +1, ...
  std::vector<Staff> staff;       // 61001..61025 adults, 78001..78015 children
  std::vector<District> districts;
};

inline constexpr int kFirstPatientCode = 10001;
inline constexpr int kDefaultPatients = 300;
inline constexpr std::uint32_t kDefaultSeed = 20261207;

// Patients' ages run through 0..100 in turn (patient i is i % 101 whole years
// old on `today`), so every age text of the desk occurs. Districts 1..12 go
// to the adult doctors 61001..61012. Staff 61003 is "Семенова Ольга
// Викторовна" (the sample requests name her). Same seed and today, same data.
DemoRegistry MakeDemoRegistry(std::uint32_t seed, int patients, CivilDay today);

// Layouts. m1042 starts with kl and has every column the desk's accept step
// names, the symptom flag columns of the request service's form, a date-time
// and a memo.
TableSpec PatientTable();
TableSpec DistrictTable();
TableSpec StaffTable();
TableSpec VisitTable();

// Days from 1899-12-30 (the registry engine's day count) and back.
std::int64_t DaysSince1899(CivilDay d);
CivilDay FromDaysSince1899(std::int64_t days);

}  // namespace ravelto::demo
