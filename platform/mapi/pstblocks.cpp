#include "pstblocks.h"

#include <array>
#include <cstdio>

namespace standin::mapi {

namespace {

constexpr size_t kPage = 512;
constexpr int kMaxDepth = 32;  // of either B-tree and of a node's index blocks
constexpr uint8_t kBlockTreePage = 0x80, kNodeTreePage = 0x81;
constexpr uint8_t kDataIndex = 0x01, kSubNodeIndex = 0x02;
constexpr uint64_t kInternalBid = 0x2;  // an index block, never encoded

// The file's CRC-32: the reflected 0xEDB88320 table, started at 0 and not
// inverted at the end.
constexpr std::array<uint32_t, 256> kCrcTable = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}();

uint32_t Crc(const unsigned char* bytes, size_t size) {
  uint32_t crc = 0;
  for (size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint64_t Le(const unsigned char* bytes, size_t size) {
  uint64_t value = 0;
  for (size_t i = size; i-- > 0;) value = (value << 8) | bytes[i];
  return value;
}

std::string HexOf(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

uint64_t PstBlocks::Word(const unsigned char* at) const { return Le(at, unicode_ ? 8 : 4); }

bool PstBlocks::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (offset > fileSize_ || size > fileSize_ - offset) return false;
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return in_.good();
}

std::unique_ptr<PstBlocks> PstBlocks::Load(const std::string& path, std::string* why) {
  std::unique_ptr<PstBlocks> blocks(new PstBlocks());
  blocks->in_.open(path, std::ios::binary);
  blocks->in_.seekg(0, std::ios::end);
  std::streamoff end = blocks->in_.tellg();
  unsigned char header[0x100] = {};
  if (!blocks->in_ || end < 0) {
    *why = "it cannot be read";
    return nullptr;
  }
  blocks->fileSize_ = static_cast<uint64_t>(end);
  if (!blocks->ReadAt(0, header, sizeof header)) {
    *why = "its header is incomplete";
    return nullptr;
  }
  blocks->unicode_ = Le(header + 10, 2) >= 23;
  // The roots of the node and block trees, each a (bid, offset) pair.
  uint64_t nodeRoot = blocks->unicode_ ? Le(header + 0xE0, 8) : Le(header + 0xBC, 4);
  uint64_t blockRoot = blocks->unicode_ ? Le(header + 0xF0, 8) : Le(header + 0xC4, 4);
  if (!blocks->WalkTree(blockRoot, true, 0, why) || !blocks->WalkTree(nodeRoot, false, 0, why)) return nullptr;
  return blocks;
}

bool PstBlocks::WalkTree(uint64_t offset, bool blockTree, int depth, std::string* why) {
  const char* tree = blockTree ? "block" : "node";
  auto damaged = [&](const std::string& what) {
    *why = "its " + std::string(tree) + " tree is damaged: the page at " + HexOf(offset) + " " + what;
    return false;
  };
  unsigned char page[kPage];
  if (depth > kMaxDepth) return damaged("lies deeper than any tree goes");
  if (++pages_ > fileSize_ / kPage || !ReadAt(offset, page, kPage)) return damaged("lies outside the file");
  // The page's own trailer: type twice, signature, CRC of what precedes it, bid.
  const size_t trailer = unicode_ ? 496 : 500;
  const uint32_t stored = static_cast<uint32_t>(unicode_ ? Le(page + 500, 4) : Le(page + 508, 4));
  if (Crc(page, trailer) != stored) return damaged("fails its checksum");
  const uint8_t type = blockTree ? kBlockTreePage : kNodeTreePage;
  if (page[trailer] != type || page[trailer + 1] != type) return damaged("is of another type");
  const size_t area = unicode_ ? 488 : 496, word = unicode_ ? 8 : 4;
  const size_t count = page[area], size = page[area + 2], level = page[area + 3];
  const size_t need = level > 0 ? 3 * word : blockTree ? 2 * word + 4 : 3 * word + 4;
  if (size < need || count * size > area) return damaged("holds entries of a wrong size");
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* e = page + i * size;
    if (level > 0) {
      if (!WalkTree(Word(e + 2 * word), blockTree, depth + 1, why)) return false;
    } else if (blockTree) {
      blocks_[Word(e) & ~uint64_t{1}] = {Word(e + word), static_cast<uint16_t>(Le(e + 2 * word, 2))};
    } else {
      nodes_[static_cast<uint32_t>(Word(e))] = {Word(e + word), Word(e + 2 * word)};
    }
  }
  return true;
}

bool PstBlocks::ReadBlock(uint64_t bid, std::string* data, std::string* why) {
  auto found = blocks_.find(bid & ~uint64_t{1});
  if (found == blocks_.end()) {
    *why = "its block " + HexOf(bid) + " is missing from the block tree";
    return false;
  }
  const Block& block = found->second;
  auto damaged = [&](const std::string& what) {
    *why = "its block " + HexOf(bid) + " at " + HexOf(block.offset) + " " + what;
    return false;
  };
  // The block's bytes, then its trailer at the end of the 64-byte unit.
  const size_t trailerSize = unicode_ ? 16 : 12;
  const size_t whole = (block.size + trailerSize + 63) / 64 * 64;
  data->resize(whole);
  if (!ReadAt(block.offset, data->data(), whole)) return damaged("lies outside the file");
  const auto* t = reinterpret_cast<const unsigned char*>(data->data()) + whole - trailerSize;
  const uint64_t size = Le(t, 2);
  const uint32_t crc = static_cast<uint32_t>(Le(t + (unicode_ ? 4 : 8), 4));
  const uint64_t own = unicode_ ? Le(t + 8, 8) : Le(t + 4, 4);
  if (size != block.size || (own & ~uint64_t{1}) != (bid & ~uint64_t{1})) return damaged("has a foreign trailer");
  if (Crc(reinterpret_cast<const unsigned char*>(data->data()), block.size) != crc)
    return damaged("fails its checksum");
  data->resize(block.size);
  return true;
}

bool PstBlocks::CheckTree(uint64_t bid, int depth, std::string* why) {
  if (bid == 0 || checked_.count(bid & ~uint64_t{1})) return true;
  if (depth > kMaxDepth) {
    *why = "its blocks are nested deeper than any item goes";
    return false;
  }
  std::string data;
  if (!ReadBlock(bid, &data, why)) return false;
  if (bid & kInternalBid) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    auto damaged = [&] {
      *why = "its index block " + HexOf(bid) + " is damaged";
      return false;
    };
    if (data.size() < 4 || (b[0] != kDataIndex && b[0] != kSubNodeIndex)) return damaged();
    // Type, level, count, then the data's total size or (in a Unicode file's
    // sub-node blocks) padding, then the entries: bids, or (nid, bid) and
    // (nid, data bid, sub-node bid) at the sub-node tree's leaves.
    const size_t word = unicode_ ? 8 : 4;
    const bool dataIndex = b[0] == kDataIndex, leaf = b[1] == 0;
    const size_t head = !dataIndex && !unicode_ ? 4 : 8;
    const size_t count = Le(b + 2, 2);
    const size_t per = dataIndex ? word : leaf ? 3 * word : 2 * word;
    if (head + count * per > data.size()) return damaged();
    for (size_t i = 0; i < count; ++i) {
      const unsigned char* e = b + head + i * per;
      bool good = dataIndex ? CheckTree(Word(e), depth + 1, why)
                        : CheckTree(Word(e + word), depth + 1, why) &&
                              (!leaf || CheckTree(Word(e + 2 * word), depth + 1, why));
      if (!good) return false;
    }
  }
  checked_.insert(bid & ~uint64_t{1});
  return true;
}

bool PstBlocks::CheckNode(uint32_t nid, std::string* why) {
  auto node = nodes_.find(nid);
  if (node == nodes_.end()) return true;
  return CheckTree(node->second.data, 0, why) && CheckTree(node->second.sub, 0, why);
}

}  // namespace standin::mapi
