// The workbook stream of an .xls file (BIFF8, "[MS-XLS]"): the writer, and a
// small scan of a read stream for what FreeXL does not tell apart.
//
// Internal to TorvaneWorkbook; the program uses Workbook.h only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xls::biff8 {

// One stored cell. Texts are indices into the book's string pool.
enum CellKind : std::uint8_t { kEmpty = 0, kNumber, kString, kBool, kError };
struct Cell {
    double num = 0;          // kNumber
    std::uint32_t str = 0;   // kString: pool index
    CellKind kind = kEmpty;
    std::uint8_t code = 0;   // kBool: 0 or 1; kError: the BIFF error code
};
using Rows = std::vector<std::vector<Cell>>;  // rows[r][c]; rows and columns may be short

struct SheetOut {
    const std::wstring* name;
    const Rows* rows;
};

// The longest text the writer stores: FreeXL 1.0.6 reads a shared string
// only when it spans at most two records, which texts of up to 8192 UTF-16
// code units always do as the writer lays them out.
constexpr std::size_t kMaxSharedTextUnits = 8192;
// The most sheets a workbook may have here (FreeXL 1.0.6 looks sheets up in a
// list, so many sheets cost it sheets x records time).
constexpr std::size_t kMaxSheets = 4096;
// FreeXL 1.0.6 refuses more distinct shared strings than this.
constexpr std::size_t kMaxSharedTexts = 1024 * 1024;
// Bound on the cells that the DIMENSIONS records of a workbook may declare in
// all (FreeXL allocates 16 bytes for each; a full sheet is 2^24 cells).
constexpr std::uint64_t kMaxDeclaredCells = std::uint64_t{1} << 24;

// The shared-string table of a save: the distinct texts in order, the number
// of text cells, and for each pool index the text's position in `texts`, or
// kNotShared for a text without an entry: the empty text, which FreeXL 1.0.6
// refuses in SST and LABEL records and which goes out as a BLANK cell.
constexpr std::uint32_t kNotShared = 0xFFFFFFFFu;
struct SstOut {
    std::vector<const std::wstring*> texts;
    std::uint32_t totalRefs = 0;
    std::vector<std::uint32_t> poolToSst;
};

// Writes the whole workbook stream (globals, shared strings, one worksheet
// per sheet) into `out`, replacing its content. Texts go out as compressed
// 8-bit strings when every character is below U+0100, as UTF-16 otherwise.
void writeWorkbookStream(const std::vector<SheetOut>& sheets, const SstOut& sst, std::vector<std::uint8_t>& out);

// UTF-16 code units of a wide text (wchar_t may be UTF-32). Code points that
// UTF-16 cannot carry (lone surrogates, beyond U+10FFFF) become U+FFFD.
void toUtf16(const std::wstring& text, std::u16string& out);

// What FreeXL 1.0.6 gets wrong or leaves out: boolean and error cells
// (BOOLERR), which it reports as plain integers, and the cached results of
// formulas (FORMULA, with STRING for a text result), which it skips.
struct SpecialCell {
    std::uint16_t row, col;
    CellKind kind;       // kNumber, kString, kBool or kError
    std::uint8_t code;   // kBool: 0 or 1; kError: the BIFF error code
    double num;          // kNumber
    std::wstring text;   // kString
};
struct ScannedSheet {
    std::wstring name;  // from BOUNDSHEET
    std::uint8_t type;  // BOUNDSHEET sheet type: 0 worksheet, 1 macro, 2 chart, 6 VB module
    std::vector<SpecialCell> cells;
};

// Walks the records of `stream` once, in linear time: checks that it starts
// with a BIFF5 or BIFF8 workbook BOF, is not encrypted, that the records of
// the globals and the sheets lie inside the stream, that there are at most
// kMaxSheets sheets and no more sheet substreams, and that nothing in it
// makes FreeXL 1.0.6 read or write outside its buffers or lose data: every
// sheet has exactly one whole DIMENSIONS record, together declaring at most
// 2^24 cells (FreeXL allocates them); the shared strings are laid out as
// FreeXL can follow them; LABEL and FORMAT texts fit their records. Lists the
// sheets (every BOUNDSHEET, in order, as FreeXL does) and their special
// cells. False with a short English reason in `error` otherwise.
bool scanWorkbookStream(const std::vector<std::uint8_t>& stream, std::vector<ScannedSheet>& sheets, std::string& error);

}  // namespace xls::biff8
