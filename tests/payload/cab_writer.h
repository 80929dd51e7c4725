// Builds Microsoft cabinets byte by byte for cases gcab cannot make: chosen
// attributes and time stamps, continued files. One folder, stored (no
// compression), data checksums 0 (allowed by the format).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavo_test {

struct CabEntry {
  std::string name;
  std::string data;
  std::uint16_t date = (39 << 9) | (3 << 5) | 4;      // 2019-03-04
  std::uint16_t time = (5 << 11) | (6 << 5) | (8 / 2);  // 05:06:08
  std::uint16_t attribs = 0x20;
  std::uint16_t folder = 0;  // 0xFFFD: continued from the previous cabinet
};

inline void PutU16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
inline void PutU32(std::string& out, std::uint32_t v) {
  PutU16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  PutU16(out, static_cast<std::uint16_t>(v >> 16));
}

// continued_from_previous sets the header's "previous cabinet" flag and names.
inline std::string MakeStoredCabinet(const std::vector<CabEntry>& entries,
                                     bool continued_from_previous = false) {
  std::string prev_names;
  if (continued_from_previous) prev_names = std::string("prev.cab") + '\0' + "disk" + '\0';
  std::string all_data;
  std::string files;
  for (const CabEntry& e : entries) {
    PutU32(files, static_cast<std::uint32_t>(e.data.size()));
    PutU32(files, static_cast<std::uint32_t>(all_data.size()));
    PutU16(files, e.folder);
    PutU16(files, e.date);
    PutU16(files, e.time);
    PutU16(files, e.attribs);
    files += e.name;
    files += '\0';
    all_data += e.data;
  }
  std::string blocks;
  std::uint16_t block_count = 0;
  for (std::size_t at = 0; at < all_data.size(); at += 32768, ++block_count) {
    const std::string chunk = all_data.substr(at, 32768);
    PutU32(blocks, 0);
    PutU16(blocks, static_cast<std::uint16_t>(chunk.size()));
    PutU16(blocks, static_cast<std::uint16_t>(chunk.size()));
    blocks += chunk;
  }
  const std::uint32_t header_size = 36 + static_cast<std::uint32_t>(prev_names.size());
  const std::uint32_t files_at = header_size + 8;
  const std::uint32_t data_at = files_at + static_cast<std::uint32_t>(files.size());
  std::string cab = "MSCF";
  PutU32(cab, 0);
  PutU32(cab, data_at + static_cast<std::uint32_t>(blocks.size()));
  PutU32(cab, 0);
  PutU32(cab, files_at);
  PutU32(cab, 0);
  cab += static_cast<char>(3);  // version 1.3
  cab += static_cast<char>(1);
  PutU16(cab, 1);  // folders
  PutU16(cab, static_cast<std::uint16_t>(entries.size()));
  PutU16(cab, continued_from_previous ? 0x0001 : 0);
  PutU16(cab, 0x1234);  // set id
  PutU16(cab, continued_from_previous ? 1 : 0);
  cab += prev_names;
  PutU32(cab, data_at);  // the folder
  PutU16(cab, block_count);
  PutU16(cab, 0);  // no compression
  cab += files;
  cab += blocks;
  return cab;
}

}  // namespace kavo_test
