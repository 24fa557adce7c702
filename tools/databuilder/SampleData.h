// The builder steps that turn the text sources under data/ into the program
// folder's workbooks, bitmaps, images and the program package.
//
// Every step checks its sources against what the program relies on (field
// capacities, register map, option codes, image windows in the drive's EE)
// and refuses to write anything from a source that would load badly or drive
// the program into a wrong state. Results are bool with an error text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace databuild {

// ---------------------------------------------------------------- parameters

// Registers the program uses for its own purposes (drive control and status,
// identity, boot request); no parameter may sit on them, or reading or
// writing that parameter would command the drive.
extern const std::vector<long> kReservedRegisters;
bool IsReservedRegister(long reg);

struct ParamSheetRow {
    enum Kind { Group, Subgroup, Param } kind = Param;
    int line = 0;             // source line, for error texts
    std::string text[15];     // columns A..O as text (the flag columns unused)
    bool flag[15] = {};       // columns F, H, J, L, N
    // Parsed values (parameters only).
    long address = 0;
    int exponent = 0;
    bool noDefault = false, noMin = false, noMax = false;
    double defaultValue = 0, minValue = 0, maxValue = 0;
    // Headers: their number as the program derives it from column B.
    int number = 0;
    int headerNumber = 0;     // parameters: number of the header above
};

struct OptionRow {
    int line = 0;
    std::string pnu, code, text;  // text is "English,中文"
};

struct ParameterSource {
    std::vector<ParamSheetRow> rows;  // sheet 0 rows from the third sheet row on
    std::vector<OptionRow> options;   // sheet 1 rows, lists kept together
    const ParamSheetRow* FindPnu(std::string_view pnu) const;
};

// The columns that hold a boolean cell (F, H, J, L, N).
bool IsFlagColumn(int column);

bool LoadParameterSource(const std::string& tablePath, const std::string& optionsPath,
                         ParameterSource& out, std::string& error);
// Writes the parameter workbook; cell C2 is the output file's base name.
bool WriteParameterBook(const ParameterSource& source, const std::string& outPath,
                        std::string& error);

// ------------------------------------------------------------------ language

struct LanguageEntry {
    int line = 0;
    long id = 0;
    std::string english, chinese, where;
};

// Identifier table: "id,english,chinese,where"; "\t", "\n" and "\\" in the
// texts stand for a tab, a line break and a backslash.
bool LoadLanguageSource(const std::string& path, std::vector<LanguageEntry>& out,
                        std::string& error);
bool WriteLanguageBook(const std::vector<LanguageEntry>& entries, const std::string& outPath,
                       std::string& error);

// ----------------------------------------------------------------- functions

struct FunctionField {
    int line = 0;
    std::string pnu;
    long address = 0;
    int x = 0, y = 0;
    std::string label;
};

struct FunctionDef {
    std::string name;
    std::vector<FunctionField> settings, watches;
    std::string diagramPath;
};

// The function list ("name,fields,diagram", paths relative to the list's
// folder) and each function's field table ("sheet,pnu,x,y"; sheet is
// "setting" or "watch"), checked against the parameter table.
bool LoadFunctionSources(const std::string& listPath, const ParameterSource& params,
                         std::vector<FunctionDef>& out, std::string& error);
// Writes "function.xls", one workbook and one bitmap per function into outDir.
bool WriteFunctionSet(const std::vector<FunctionDef>& functions, const std::string& outDir,
                      std::string& error);

// ------------------------------------------------------------------- bitmaps

struct Canvas {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // palette indexes, top row first
};

// Draws a diagram script onto an 800 x 600 canvas. Commands, one a line
// ("#" starts a comment):
//   fill COLOUR | rect X Y W H COLOUR | box X Y W H COLOUR
//   line X1 Y1 X2 Y2 COLOUR | arrow X1 Y1 X2 Y2 COLOUR (horizontal or vertical)
//   circle CX CY R COLOUR | text X Y SCALE COLOUR "TEXT"
// Colours: white black navy sky grey red green yellow.
bool RenderDiagram(std::string_view script, const std::string& name, Canvas& canvas,
                   std::string& error);
// Uncompressed 8-bit palette BMP (bottom-up rows, 256-colour palette).
std::string EncodeBmp(const Canvas& canvas);

// ------------------------------------------------------------ program package

struct ModelRow {
    int line = 0;
    std::string series, partNumber, power, dataFile, calibrationFile, codeFile, initFile;
};

struct ImageSpec {
    int line = 0;
    std::string folder, name;  // folder: data, init or code
    long size = 0;
    uint32_t seed = 0;
    std::vector<long> zeroBlocks;                            // 128-byte blocks forced to 0
    std::vector<std::pair<long, std::string>> patches;       // offset, ASCII text (+ NUL)
};

bool LoadModelSource(const std::string& path, std::vector<ModelRow>& out, std::string& error);
bool LoadImageSource(const std::string& path, std::vector<ImageSpec>& out, std::string& error);
// Deterministic image bytes: xorshift32 stream from the seed, then the zero
// blocks, then the patches.
std::string GenerateImage(const ImageSpec& image);

// Commands of a calibration file as the download reads them: a line counts
// when it contains "VKR pm write_ee"; the command is the text from there to the
// line's end without the line's last character, plus "\n".
std::vector<std::string> CalibrationCommands(std::string_view text);

// Lays out the package content in `stagingDir` (emptied first): the model
// workbook "VKR_MODEL.xls" and the folders data, init, calibration and code.
bool BuildProgramFolder(const std::vector<ModelRow>& models, const std::vector<ImageSpec>& images,
                        const std::string& calibrationDir, const std::string& stagingDir,
                        std::string& error);
bool WriteModelBook(const std::vector<ModelRow>& models, const std::string& outPath,
                    std::string& error);

// Zip archive of `sourceDir` under the top folder `topName`: the folder entry,
// then every sub-folder and file below it in byte order of their names.
// Files ending in .zip .zoo .arc .lzh .arj .tgz are stored, all others
// deflated at level 8. Entry times are fixed so the archive is reproducible.
bool ZipFolder(const std::string& sourceDir, const std::string& topName,
               const std::string& zipPath, std::string& error);
// The package form: the first 32 bytes as they are, every later byte
// inverted. Applying it twice gives the input back.
void InvertPackage(std::string& bytes);

}  // namespace databuild
