// The checksums of a personal-folders file, which libpff does not check: the
// two B-trees (nodes and blocks) are read whole at open, every page's CRC
// checked, and a node's blocks (its data and its sub-nodes, through their
// index blocks) are checked whenever the node is about to be read.
//
// Nothing read from the file is trusted: every offset and size is checked
// against the file's size, trees are bounded in depth and entries, and a
// block is checked once and remembered.
//
// Thread safety: none; the owning PstFile serialises the calls.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace standin::mapi {

class PstBlocks {
 public:
  // Null, with why, when a page of either tree is damaged or the trees are
  // no trees.
  static std::unique_ptr<PstBlocks> Load(const std::string& path, std::string* why);

  // Whether every block of node nid reads back as it was written; why names
  // the first that does not. A node the tree does not hold checks nothing.
  bool CheckNode(uint32_t nid, std::string* why);

 private:
  struct Block {
    uint64_t offset = 0;
    uint16_t size = 0;
  };
  struct Node {
    uint64_t data = 0, sub = 0;
  };
  PstBlocks() = default;
  bool ReadAt(uint64_t offset, void* buffer, size_t size);
  bool WalkTree(uint64_t page, bool blockTree, int depth, std::string* why);
  // Reads block bid whole into *data after checking its trailer and CRC.
  bool ReadBlock(uint64_t bid, std::string* data, std::string* why);
  // Checks bid and, for an index block (data tree or sub-node tree), what it
  // lists.
  bool CheckTree(uint64_t bid, int depth, std::string* why);
  uint64_t Word(const unsigned char* at) const;  // a bid or offset: 8 bytes, or 4 in an ANSI file

  std::ifstream in_;
  bool unicode_ = true;
  uint64_t fileSize_ = 0;
  size_t pages_ = 0;
  std::map<uint64_t, Block> blocks_;  // by bid, its low bit cleared
  std::map<uint32_t, Node> nodes_;
  std::set<uint64_t> checked_;
};

}  // namespace standin::mapi
