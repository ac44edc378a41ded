#include "registry/index/cdx_index.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <unordered_set>

namespace ravelto::registry {
namespace {

using namespace cdx;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string RTrim(std::string s, char pad) {
  while (!s.empty() && (s.back() == pad || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

CdxIndex::CdxIndex(const CdxStore& store) : store_(store) {
  if (store_.Size() < kHeaderSize + kPageSize) throw CdxError(store_.Name() + ": index file is too short");
  std::array<uint8_t, kHeaderSize> head{};
  store_.Read(0, head);
  counter_ = GetBe32(head.data() + kHdrCounter);
  free_head_ = GetLe32(head.data() + kHdrFreeList);
  CdxTagHeader directory = ReadTagHeader(0);
  if (directory.key_length != kDirectoryKeyLength) {
    throw CdxError(store_.Name() + ": the tag directory has key length " + std::to_string(directory.key_length));
  }
  for (const CdxEntry& entry : ReadAll(directory.root, directory.key_length, ' ')) {
    CdxTagHeader tag = ReadTagHeader(entry.recno);
    tag.name = RTrim(entry.key, ' ');
    tags_.push_back(std::move(tag));
  }
  // Tags are numbered in the order of their headers in the file.
  std::sort(tags_.begin(), tags_.end(),
            [](const CdxTagHeader& a, const CdxTagHeader& b) { return a.header_offset < b.header_offset; });
}

const CdxTagHeader* CdxIndex::FindTag(const std::string& name) const {
  for (const CdxTagHeader& tag : tags_) {
    if (Upper(tag.name) == Upper(name)) return &tag;
  }
  return nullptr;
}

CdxTagHeader CdxIndex::ReadTagHeader(uint32_t offset) const {
  if (offset % kPageSize != 0 || offset == kNone || uint64_t{offset} + kHeaderSize > store_.Size()) {
    throw CdxError(store_.Name() + ": tag header offset " + std::to_string(offset) + " lies outside the file");
  }
  std::array<uint8_t, kHeaderSize> h{};
  store_.Read(offset, h);
  CdxTagHeader tag;
  tag.header_offset = offset;
  tag.root = GetLe32(h.data() + kHdrRoot);
  tag.key_length = GetLe16(h.data() + kHdrKeyLength);
  tag.options = h[kHdrOptions];
  tag.collation = RTrim(std::string(reinterpret_cast<const char*>(h.data() + kHdrCollation), kHdrCollationSize), '\0');
  tag.descending = GetLe16(h.data() + kHdrDescending) != 0;
  std::size_t key_off = GetLe16(h.data() + kHdrKeyOffset);
  std::size_t key_len = GetLe16(h.data() + kHdrKeyExprLength);
  std::size_t for_off = GetLe16(h.data() + kHdrForOffset);
  std::size_t for_len = GetLe16(h.data() + kHdrForLength);
  const std::size_t pool = kHeaderSize - kHdrPool;
  if (key_off > pool || key_len > pool - key_off || for_off > pool || for_len > pool - for_off) {
    throw CdxError(store_.Name() + ": tag header at offset " + std::to_string(offset) + " has expressions outside its pool");
  }
  auto text = [&](std::size_t off, std::size_t len) {
    std::string s(reinterpret_cast<const char*>(h.data() + kHdrPool + off), len);
    s.resize(std::min(s.size(), s.find('\0')));
    return s;
  };
  tag.key_expr = text(key_off, key_len);
  tag.for_expr = text(for_off, for_len);
  if (tag.key_length == 0 || tag.key_length > kMaxKeyLength) {
    throw CdxError(store_.Name() + ": tag header at offset " + std::to_string(offset) + " has key length " +
                   std::to_string(tag.key_length));
  }
  return tag;
}

CdxNode CdxIndex::ReadNode(uint32_t offset, std::size_t key_length, uint8_t pad) const {
  if (!IsPageOffset(offset) || uint64_t{offset} + kPageSize > store_.Size()) {
    throw CdxError(store_.Name() + ": node offset " + std::to_string(offset) + " lies outside the file");
  }
  std::array<uint8_t, kPageSize> page{};
  store_.Read(offset, page);
  return DecodeNode(page, offset, key_length, pad);
}

std::vector<CdxEntry> CdxIndex::ReadAll(uint32_t root, std::size_t key_length, uint8_t pad) const {
  std::unordered_set<uint32_t> seen;
  uint32_t offset = root;
  CdxNode node = ReadNode(offset, key_length, pad);
  seen.insert(offset);
  while (!node.IsLeaf()) {
    if (node.entries.empty()) throw CdxError(store_.Name() + ": interior node at offset " + std::to_string(offset) + " is empty");
    offset = node.entries.front().child;
    if (!seen.insert(offset).second) throw CdxError(store_.Name() + ": the tree has a cycle at offset " + std::to_string(offset));
    node = ReadNode(offset, key_length, pad);
  }
  std::vector<CdxEntry> out;
  for (;;) {
    for (CdxEntry& e : node.entries) out.push_back(std::move(e));
    if (node.right == kNone || node.right == 0) break;
    offset = node.right;
    if (!seen.insert(offset).second) {
      throw CdxError(store_.Name() + ": the sibling chain has a cycle at offset " + std::to_string(offset));
    }
    node = ReadNode(offset, key_length, pad);
    if (!node.IsLeaf()) {
      throw CdxError(store_.Name() + ": the leaf chain reaches the interior node at offset " + std::to_string(offset));
    }
  }
  return out;
}

}  // namespace ravelto::registry
