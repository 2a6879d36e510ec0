// The ZIP writer against an archive written out by hand, field by field.
#include "zip_writer.h"

#include <gtest/gtest.h>

using wgtpack::Bytes;

TEST(ZipWriter, TwoEntriesByteForByte) {
  // 2025-01-01 12:34:56 -> time 12<<11 | 34<<5 | 28 = 0x645C, date 45<<9 | 1<<5 | 1 = 0x5A21
  const wgtpack::DosTime when{0x645C, 0x5A21};
  const Bytes got = wgtpack::writeZip({{"d/", {}}, {"a", {'h', 'i'}}}, when);

  const Bytes want = {
      // local header of "d/" at 0
      0x50, 0x4B, 0x03, 0x04,  // signature
      0x14, 0x00,              // version needed: 2.0
      0x08, 0x08,              // flags: bit 3 (data descriptor), bit 11 (UTF-8)
      0x08, 0x00,              // method: deflate
      0x5C, 0x64, 0x21, 0x5A,  // time, date
      0, 0, 0, 0,              // CRC: in the descriptor
      0, 0, 0, 0,              // compressed size: in the descriptor
      0, 0, 0, 0,              // size: in the descriptor
      0x02, 0x00,              // name length
      0x00, 0x00,              // extra length
      'd', '/', 0x03, 0x00,    // deflate of nothing: one empty final block
      0x50, 0x4B, 0x07, 0x08,  // data descriptor signature
      0, 0, 0, 0,              // CRC of nothing
      0x02, 0, 0, 0,           // compressed size
      0, 0, 0, 0,              // size
      // local header of "a" at 50
      0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x08, 0x08, 0x08, 0x00, 0x5C, 0x64, 0x21, 0x5A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0x01, 0x00, 0x00, 0x00, 'a', 0xCB, 0xC8, 0x04, 0x00,  // deflate of "hi"
      0x50, 0x4B, 0x07, 0x08, 0xAC, 0x2A, 0x93, 0xD8,             // CRC-32 of "hi"
      0x04, 0, 0, 0, 0x02, 0, 0, 0,
      // central directory at 101
      0x50, 0x4B, 0x01, 0x02,  // signature
      0x14, 0x00,              // made by: 2.0, MS-DOS
      0x14, 0x00,              // version needed: 2.0
      0x08, 0x08, 0x08, 0x00, 0x5C, 0x64, 0x21, 0x5A, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0,
      0,           // CRC, compressed size, size
      0x02, 0x00,  // name length
      0x00, 0x00,  // extra length
      0x00, 0x00,  // comment length
      0x00, 0x00,  // disk
      0x00, 0x00,  // internal attributes
      0, 0, 0, 0,  // external attributes
      0, 0, 0, 0,  // local header offset
      'd', '/', 0x50, 0x4B, 0x01, 0x02, 0x14, 0x00, 0x14, 0x00, 0x08, 0x08, 0x08, 0x00, 0x5C, 0x64, 0x21, 0x5A, 0xAC,
      0x2A, 0x93, 0xD8, 0x04, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0,
      0, 0, 50, 0, 0, 0,  // local header offset
      'a',
      // end of central directory at 196
      0x50, 0x4B, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00,  // this disk, disk of the directory
      0x02, 0x00, 0x02, 0x00,                          // entries here, entries in all
      95, 0, 0, 0,                                     // directory size
      101, 0, 0, 0,                                    // directory offset
      0x00, 0x00,                                      // comment length
  };
  EXPECT_EQ(got, want);
}
