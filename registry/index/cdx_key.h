#pragma once
// Turns a record into a tag's key: evaluates the key expression and encodes
// the result the way the index stores it, and tells whether the record is in
// the tag at all (FOR clause).

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "registry/index/cdx_expr.h"
#include "registry/index/cdx_index.h"

namespace ravelto::registry {

struct CdxTagCollation;

// Key encodings. Numbers: the IEEE double big-endian, sign bit flipped for
// values >= 0 (-0 taken as +0), all bits inverted for negative values, so
// that byte order is numeric order. Integers: big-endian with the top bit
// flipped. Dates: the Julian day as a number; date-times: Julian day plus
// the fraction of the day.
std::string NumberKey(double value);
std::string IntegerKey(int32_t value);
// Inverse of NumberKey (for lookups and tools); nullopt for a key of another length.
std::optional<double> NumberFromKey(const std::string& key);

class CdxTagKeys {
 public:
  // Compiles the tag's expressions against the table's fields. Throws
  // CdxError with the reason (without the tag's name) when the tag's keys
  // cannot be reproduced exactly: unsupported function or type, a key length
  // that does not match the expression, or a character key in a collation
  // other than MACHINE without what was learned of it (cdx_tag_collation.h).
  CdxTagKeys(const CdxTagHeader& tag, const CdxLayout& layout,
             std::shared_ptr<const CdxTagCollation> collation = nullptr);

  // Byte that pads keys (0x20 character keys, 0x00 others).
  uint8_t Pad() const { return pad_; }
  CdxType Type() const { return key_.Type(); }
  // The field when the key expression is exactly one field, else nullptr.
  const CdxField* SingleField() const { return key_.SingleField(); }

  // Whether the record belongs in the tag (true without a FOR clause).
  bool Included(std::span<const uint8_t> record) const;
  // The record's key, exactly key_length bytes. Throws CdxError for a value
  // whose key is not known exactly.
  std::string Key(std::span<const uint8_t> record) const;
  // Encodes a value of the key's type (used for lookups).
  std::string Encode(const CdxValue& value) const;

 private:
  std::size_t key_length_;
  uint8_t pad_ = 0x20;
  bool null_prefix_ = false;
  bool integer_as_number_ = false;
  CdxExpression key_;
  std::optional<CdxExpression> for_;
  std::shared_ptr<const CdxTagCollation> collation_;
};

// The pad byte to read a tag with even when its keys are not reproducible:
// from the compiled expression when possible, else a guess from the length.
uint8_t ReadPad(const CdxTagHeader& tag, const CdxLayout* layout);

}  // namespace ravelto::registry
