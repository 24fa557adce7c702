// Workbook access: the .xls (BIFF8) workbooks that hold the program's tables.
//
// One Book per file, created per use with xlCreateBookW() and released with
// release() on every path. Books are never shared between threads. Reading goes
// through FreeXL; writing goes through our own BIFF8 writer (the compound-file
// container and the workbook stream). No exception leaves this layer: every
// failure is a false or null result.
//
// Rows and columns are zero-based: row 0 is the sheet's first row, column 0 is
// column A.
#pragma once

namespace xls {

class Sheet {
public:
    // The sheet's name as stored in the workbook.
    virtual const wchar_t* name() const = 0;

    // The cell's text, or nullptr when the cell is empty or holds no text.
    // The pointer stays valid until the workbook is released.
    virtual const wchar_t* readStr(int row, int col) = 0;
    // The cell's value as a number; 0 for an empty cell (or a text cell).
    virtual double readNum(int row, int col) = 0;
    // The cell's value as a boolean; false for an empty cell (or a text cell).
    virtual bool readBool(int row, int col) = 0;

    // Cell kind, for callers (and tests) that must tell the kinds apart.
    enum CellType { CELLTYPE_EMPTY, CELLTYPE_NUMBER, CELLTYPE_STRING, CELLTYPE_BOOLEAN, CELLTYPE_ERROR };
    virtual CellType cellType(int row, int col) = 0;

    // Extent: one past the last row / column that holds a cell (0 when empty).
    virtual int lastRow() = 0;
    virtual int lastCol() = 0;

    // Store a cell, replacing what was there. False for a row or column out
    // of the format's range (65536 rows, 256 columns) or a null text.
    // Also false: a text longer than 8192 UTF-16 code units (the longest
    // that FreeXL reads back) and a number that is NaN or infinite (BIFF8
    // cannot hold it). An empty text is saved as a blank cell, so it reads
    // back as an empty cell.
    virtual bool writeStr(int row, int col, const wchar_t* text) = 0;
    virtual bool writeNum(int row, int col, double value) = 0;
    virtual bool writeBool(int row, int col, bool value) = 0;

protected:
    virtual ~Sheet() = default;
};

class Book {
public:
    // Reads the whole workbook at `path`, replacing this book's sheets.
    // True when the file was opened and parsed.
    virtual bool load(const wchar_t* path) = 0;
    // Writes the workbook to `path` (replacing the file). True on success.
    virtual bool save(const wchar_t* path) = 0;
    // Appends a new empty sheet; nullptr when the name is empty, longer than
    // 31 characters, or already used. Also nullptr, as Excel demands: a name
    // used already in other letter case, or one holding : \ / ? * [ ] or
    // beginning or ending with an apostrophe.
    virtual Sheet* addSheet(const wchar_t* name) = 0;
    // The sheet at the zero-based index, or nullptr when there is none.
    virtual Sheet* getSheet(int index) = 0;
    virtual int sheetCount() const = 0;
    // A short English text describing why the last load or save failed.
    virtual const char* errorMessage() const = 0;
    // Frees the book and all its sheets; the object must not be used after.
    virtual void release() = 0;

protected:
    virtual ~Book() = default;
};

}  // namespace xls

// Creates a new, empty workbook in the binary .xls format. Never null.
xls::Book* xlCreateBookW();
