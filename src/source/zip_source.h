// A ZIP archive opened as an installation file: its first entry, extracted,
// read sequentially. The source layer holds one per open ZIP file.
#pragma once

#include <cstdint>

namespace qor {

class ZipSource;

// Opens the archive at path; null when it cannot be read as one.
ZipSource* OpenZipSource(const char* path);
// Bytes placed in buffer; 0 at the end of the entry.
std::uint32_t ReadZipSource(ZipSource* zip, void* buffer, std::uint32_t count);
// Length of the extracted entry.
std::uint32_t ZipSourceSize(ZipSource* zip);
void CloseZipSource(ZipSource* zip);

}  // namespace qor
