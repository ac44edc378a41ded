// The index reader on arbitrary bytes: open, walk every tag, look for the
// pad of tags in another collation, check the structure, compile the tags'
// expressions against a table's fields and insert one key through the
// writer. Any CdxError is an acceptable answer;
// a crash, a hang or unbounded memory is not.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "registry/index/cdx_check.h"
#include "registry/index/cdx_key.h"
#include "registry/index/cdx_store.h"
#include "registry/index/cdx_tag_collation.h"
#include "registry/index/cdx_tree.h"

namespace ravelto::registry {

int FuzzCdxReader(const uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  MemoryCdxStore store(std::vector<uint8_t>(data, data + size), "fuzz.cdx");
  CdxLayout layout;
  layout.fields = {{"KL", 'N', 1, 10, 0, -1}, {"FIOL", 'C', 11, 30, 0, -1}, {"DATA_R", 'D', 41, 8, 0, -1},
                   {"KOD", 'I', 49, 4, 0, -1}, {"ZAPIS", 'T', 53, 8, 0, -1}, {"AKTIV", 'L', 61, 1, 0, -1}};
  layout.record_length = 62;
  std::vector<uint8_t> record(62, ' ');
  record[61] = 'T';
  try {
    CdxIndex index(store);
    for (const CdxTagHeader& tag : index.Tags()) {
      if (!tag.MachineCollation()) CollatedLeafPad(index, tag);
      uint8_t pad = ReadPad(tag, &layout);
      try {
        index.ReadAll(tag.root, tag.key_length, pad);
      } catch (const CdxError&) {
      }
      try {
        CdxTagKeys keys(tag, layout);
        keys.Included(record);
        std::string key = keys.Key(record);
        MemoryCdxStore copy(store.Bytes(), "fuzz-copy.cdx");
        CdxTree tree(copy);
        CdxTree::Tag t{tag.header_offset, tag.key_length, keys.Pad(), tag.name};
        tree.Insert(t, key, 1);
        tree.Erase(t, key, 1);
        tree.Commit();
      } catch (const CdxError&) {
      }
    }
  } catch (const CdxError&) {
  }
  CheckIndexStructure(store);
  return 0;
}

}  // namespace ravelto::registry
