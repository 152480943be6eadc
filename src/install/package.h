// The package: one file that carries a whole installation set.
//
// The setup program is stored first and unchanged, so a package without the
// internet header is itself the distributable setup executable; it finds its
// installation files in its own file. All integers are 32-bit little-endian;
// there is no padding anywhere. Offsets count from the first byte of the file,
// the internet header included.
//
//   offset 0      +------------------------------------------+
//                 | internet header (only from /pack2):      |  27 bytes
//                 |  "Qor_Vex Internet Package\r\n" and 0x00 |
//                 +------------------------------------------+
//                 | entry data: the entries' bytes one after |  sum of the
//                 | another, in directory order:             |  entry sizes
//                 |  setup.exe (stored uncompressed, at 0    |
//                 |  without the header), every stored file  |
//                 |  of the file table, "qorapps.dat",       |
//                 |  "setup.dat" (checksum tail included)    |
//   P ----------> +------------------------------------------+
//                 | directory header: "LF" (4C 46), u32 D    |  6 bytes
//                 +------------------------------------------+
//                 | directory: D bytes of entries            |  D bytes
//                 |   name (bytes, zero-terminated)          |
//                 |   u32 offset, u32 size                   |
//                 | ... ended by one zero byte (empty name)  |
//                 +------------------------------------------+
//                 | trailer: "LF" (4C 46), u32 P             |  6 bytes
//   end of file   +------------------------------------------+
//
// D counts the entries and the final zero byte. Nothing reads the internet
// header; since the offsets include it, such a package is read like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qor {

// The two bytes that open the directory header and the trailer.
constexpr char kPackageMarker[2] = {'L', 'F'};
// Directory header and trailer: the marker and one u32 each.
constexpr std::size_t kPackageTrailerSize = 6;
// The optional first bytes of a package for the internet source (with its
// terminating zero byte, 27 in all).
constexpr char kInternetPackageHeader[] = "Qor_Vex Internet Package\r\n";
constexpr std::size_t kInternetPackageHeaderSize = sizeof kInternetPackageHeader;  // 27

// Where the directory lies, as the trailer and the directory header give it.
struct PackageDirectoryPlace {
  std::uint32_t position = 0;  // P: the file offset of the directory header
  std::uint32_t length = 0;    // D: the bytes of the directory
};

// Reads the trailer and the directory header through the descriptor fd (a
// file open for reading; its position moves). True when the last 6 bytes are
// "LF" and a position P, and the file holds "LF" and a directory length at P.
// A file shorter than the trailer, or whose P lies outside the file or beyond
// what a 32-bit position holds, is not a package.
bool ReadPackageTrailer(int fd, PackageDirectoryPlace& place);

// Reads the directory that ReadPackageTrailer has just found into directory.
// False when it is longer than the whole file or cannot be read whole;
// directory is then cleared.
bool ReadPackageDirectory(int fd, const PackageDirectoryPlace& place, std::vector<unsigned char>& directory);

// True when the file at path can be opened and ends in a valid trailer
// (ReadPackageTrailer). The directory itself is not read here.
bool IsPackageFile(const char* path);

// One entry of a package directory as stored.
struct PackageEntryView {
  const char* name;  // zero-terminated, inside the directory bytes
  std::uint32_t offset;
  std::uint32_t size;
};

// Steps through the directory bytes: at position pos (start at 0) reads one
// entry and moves pos past it. False at the empty name that ends the
// directory, and where an entry would run past the end of the bytes (a
// damaged directory ends there).
bool NextPackageEntry(const unsigned char* directory, std::size_t length, std::size_t& pos, PackageEntryView& entry);

}  // namespace qor
