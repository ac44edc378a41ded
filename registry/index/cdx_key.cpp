#include "registry/index/cdx_key.h"

#include <cmath>
#include <cstring>

#include "registry/index/cdx_format.h"
#include "registry/index/cdx_tag_collation.h"

namespace ravelto::registry {

std::string NumberKey(double value) {
  if (value == 0) value = 0;  // -0 sorts as +0
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  bits = (bits & (uint64_t{1} << 63)) ? ~bits : bits | (uint64_t{1} << 63);
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[i] = static_cast<char>(bits >> (56 - 8 * i));
  return key;
}

std::optional<double> NumberFromKey(const std::string& key) {
  if (key.size() != 8) return std::nullopt;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<uint8_t>(key[i]);
  bits = (bits & (uint64_t{1} << 63)) ? bits & ~(uint64_t{1} << 63) : ~bits;
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

std::string IntegerKey(int32_t value) {
  uint32_t u = static_cast<uint32_t>(value) ^ 0x80000000u;
  std::string key(4, '\0');
  cdx::PutBe32(reinterpret_cast<uint8_t*>(key.data()), u);
  return key;
}

namespace {

std::size_t BaseLength(CdxType type) {
  switch (type) {
    case CdxType::Number: case CdxType::Date: case CdxType::DateTime: return 8;
    case CdxType::Integer: return 4;
    default: return 0;
  }
}

}  // namespace

CdxTagKeys::CdxTagKeys(const CdxTagHeader& tag, const CdxLayout& layout,
                       std::shared_ptr<const CdxTagCollation> collation)
    : key_length_(tag.key_length), key_(CdxExpression::Compile(tag.key_expr, layout)) {
  if (!tag.for_expr.empty()) {
    for_ = CdxExpression::Compile(tag.for_expr, layout);
    if (for_->Type() != CdxType::Logical) throw CdxError("the FOR clause is not a logical expression");
    if (for_->SingleField() != nullptr && for_->SingleField()->null_bit >= 0) {
      throw CdxError("a FOR clause on a nullable field is not reproduced");
    }
  }
  std::size_t base = 0;
  switch (key_.Type()) {
    case CdxType::Char:
      base = key_.Width() >= 0 ? static_cast<std::size_t>(key_.Width()) : key_length_;
      pad_ = 0x20;
      if (!tag.MachineCollation()) {
        if (!collation) {
          throw CdxError("character keys in collation " + tag.CollationName() +
                         " need that collation's weights, learned from the tag's own keys and the table");
        }
        if (key_.SingleField() != nullptr && key_.SingleField()->null_bit >= 0) {
          throw CdxError("a nullable field in a key of collation " + tag.CollationName() + " is not reproduced");
        }
        collation_ = std::move(collation);
        pad_ = collation_->leaf_pad;
        base *= 2;
      }
      break;
    case CdxType::Currency: throw CdxError("currency keys are not reproduced");
    case CdxType::Logical: throw CdxError("logical keys are not reproduced");
    default:
      base = BaseLength(key_.Type());
      pad_ = 0x00;
  }
  // An integer expression is stored in 4 bytes (big-endian, top bit
  // flipped) by the registry program; other writers store it as a number
  // in 8 bytes. The tag's key length tells which encoding the file uses.
  if (key_.Type() == CdxType::Integer && key_length_ == 8) {
    integer_as_number_ = true;
    base = 8;
  }
  const CdxField* single = key_.SingleField();
  if (single != nullptr && single->null_bit >= 0) {
    null_prefix_ = true;
    ++base;
  }
  if (base != key_length_) {
    throw CdxError("the key length " + std::to_string(key_length_) + " does not match the expression's width " +
                   std::to_string(base));
  }
}

bool CdxTagKeys::Included(std::span<const uint8_t> record) const {
  if (!for_) return true;
  return for_->Evaluate(record).logical;
}

std::string CdxTagKeys::Encode(const CdxValue& v) const {
  std::string key;
  switch (v.type) {
    case CdxType::Char:
      key = v.text;
      if (collation_) {
        key.resize(key_length_ / 2, ' ');
        return collation_->Encode(key);
      }
      key.resize(key_length_ - (null_prefix_ ? 1 : 0), ' ');
      break;
    case CdxType::Number: key = NumberKey(v.number); break;
    case CdxType::Integer:
      key = integer_as_number_ ? NumberKey(static_cast<double>(v.integer)) : IntegerKey(static_cast<int32_t>(v.integer));
      break;
    case CdxType::Date:
      if (v.integer == 0) throw CdxError("the key of an empty date is not reproduced");
      key = NumberKey(static_cast<double>(v.integer));
      break;
    case CdxType::DateTime:
      if (v.integer == 0) throw CdxError("the key of an empty date-time is not reproduced");
      key = NumberKey(static_cast<double>(v.integer) + static_cast<double>(v.ms) / 86400000.0);
      break;
    default: throw CdxError("keys of this type are not reproduced");
  }
  if (null_prefix_) key.insert(key.begin(), static_cast<char>(0x80));
  return key;
}

std::string CdxTagKeys::Key(std::span<const uint8_t> record) const {
  CdxValue v = key_.Evaluate(record);
  if (v.null) {
    if (!null_prefix_) throw CdxError("a NULL key is not reproduced");
    return std::string(key_length_, '\0');
  }
  return Encode(v);
}

uint8_t ReadPad(const CdxTagHeader& tag, const CdxLayout* layout) {
  if (layout != nullptr) {
    try {
      CdxExpression e = CdxExpression::Compile(tag.key_expr, *layout);
      return e.Type() == CdxType::Char ? 0x20 : 0x00;
    } catch (const CdxError&) {
    }
  }
  return (tag.key_length == 4 || tag.key_length == 8) ? 0x00 : 0x20;
}

}  // namespace ravelto::registry
