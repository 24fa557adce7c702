// The compound-file container (OLE2 / CFB, "[MS-CFB]") of an .xls workbook:
// building a container that holds the workbook stream, and finding and
// checking the workbook stream of a container read from disk.
//
// Internal to TorvaneWorkbook; the program uses Workbook.h only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xls::cfb {

// Streams shorter than this live in the mini stream (64-byte mini sectors).
constexpr std::size_t kMiniStreamCutoff = 4096;

// The container around a workbook stream of `streamSize` bytes (> 0): a
// version-3 compound file (512-byte sectors) whose root storage holds one
// stream named "Workbook". The file is `head` (the 512-byte header), then
// the stream's bytes, then `tail` (zero padding to a whole sector, and the
// mini FAT, directory, FAT and DIFAT sectors). The stream's sectors come
// first in the file, so it is never copied. A stream shorter than the cutoff
// lives in the mini stream; a large one gets as many FAT sectors (and DIFAT
// sectors beyond the header's 109 entries) as it needs.
void buildContainer(std::size_t streamSize, std::vector<std::uint8_t>& head, std::vector<std::uint8_t>& tail);

// The same as one buffer: head, stream, tail.
void buildWorkbookFile(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out);

// Checks the container in `data` (header, DIFAT, FAT and mini FAT, the sector
// chains of the directory, the mini stream and the workbook stream: every
// sector inside the file, no chain visiting a sector twice, every chain long
// enough for its stream) and copies the stream "Workbook" (or the BIFF5 name
// "Book") into `stream`. False with a short English reason in `error` when
// the container is damaged or holds no workbook stream. Runs in time linear
// in the size of `data`.
bool readWorkbookStream(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& stream,
                        std::string& error);

}  // namespace xls::cfb
