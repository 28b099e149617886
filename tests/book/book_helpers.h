// Small book files written by the tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "book/book.h"

namespace booktest {

// Book move bits of a from-to pair (promotion piece 1..4 in bits 12..14).
inline uint16_t rawMove(int from, int to, int promotion = 0) {
  return static_cast<uint16_t>(to | from << 6 | promotion << 12);
}

inline bool writeBookFile(const std::string& path, const std::vector<book::BookEntry>& entries) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  for (const auto& e : entries) {
    uint8_t bytes[book::kEntryBytes];
    book::encodeEntry(e, bytes);
    fwrite(bytes, 1, sizeof bytes, f);
  }
  return fclose(f) == 0;
}

inline std::vector<book::BookEntry> readAll(const std::string& path) {
  std::vector<book::BookEntry> out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t bytes[book::kEntryBytes];
  while (fread(bytes, 1, sizeof bytes, f) == sizeof bytes) out.push_back(book::decodeEntry(bytes));
  fclose(f);
  return out;
}

}  // namespace booktest
