// Function folder: "function.xls" lists the functions (column A of sheet 0
// from the first row on); each function has a workbook (sheet 0 the settable
// fields, sheet 1 the watched ones: B address, C x, D y as text) and an
// 800 x 600 bitmap the fields are laid over.
#include <set>

#include "BookUtil.h"
#include "SampleData.h"

namespace databuild {

namespace {

constexpr int kMaxFields = 9;      // fields per column of the function view
constexpr int kMaxFunctions = 128; // rows of the function list
// Room the value fields need on the 800 x 600 picture.
constexpr int kFieldWidth = 80, kFieldHeight = 22;

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool LoadFields(const std::string& path, const ParameterSource& params, FunctionDef& def,
                std::string& error) {
    std::vector<CsvRow> rows;
    if (!ReadCsvTable(path, {"sheet", "pnu", "x", "y"}, rows, error)) return false;
    for (const auto& row : rows) {
        const auto& c = row.cells;
        std::string where = Where(path, row.line);
        FunctionField f;
        f.line = row.line;
        f.pnu = c[1];
        const ParamSheetRow* p = params.FindPnu(f.pnu);
        if (!p) {
            error = where + "no parameter " + f.pnu;
            return false;
        }
        f.address = p->address;
        f.label = "P" + f.pnu + " " + p->text[2];
        long long x, y;
        if (!ParseInt(c[2], x) || !ParseInt(c[3], y) || x < 0 || y < 0 ||
            x + kFieldWidth > 800 || y + kFieldHeight > 600) {
            error = where + "x and y must place the field inside the 800 x 600 picture";
            return false;
        }
        f.x = static_cast<int>(x);
        f.y = static_cast<int>(y);
        std::vector<FunctionField>* list;
        if (c[0] == "setting") list = &def.settings;
        else if (c[0] == "watch") list = &def.watches;
        else {
            error = where + "sheet must be \"setting\" or \"watch\"";
            return false;
        }
        if (static_cast<int>(list->size()) >= kMaxFields) {
            error = where + "more than 9 fields of one kind";
            return false;
        }
        list->push_back(f);
    }
    // Fields must not cover each other.
    std::vector<const FunctionField*> all;
    for (const auto& f : def.settings) all.push_back(&f);
    for (const auto& f : def.watches) all.push_back(&f);
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = i + 1; j < all.size(); ++j)
            if (all[i]->x < all[j]->x + kFieldWidth && all[j]->x < all[i]->x + kFieldWidth &&
                all[i]->y < all[j]->y + kFieldHeight && all[j]->y < all[i]->y + kFieldHeight) {
                error = Where(path, all[j]->line) + "field overlaps the one on line " +
                        std::to_string(all[i]->line);
                return false;
            }
    return true;
}

bool WriteFieldSheet(xls::Sheet* s, const std::vector<FunctionField>& fields) {
    bool ok = Put(s, 0, 0, "Name") && Put(s, 0, 1, "Address") && Put(s, 0, 2, "X") &&
              Put(s, 0, 3, "Y");
    int row = 1;
    for (const auto& f : fields) {
        ok = Put(s, row, 0, f.label) && Put(s, row, 1, std::to_string(f.address)) &&
             Put(s, row, 2, std::to_string(f.x)) && Put(s, row, 3, std::to_string(f.y)) && ok;
        ++row;
    }
    return ok;
}

}  // namespace

bool LoadFunctionSources(const std::string& listPath, const ParameterSource& params,
                         std::vector<FunctionDef>& out, std::string& error) {
    out.clear();
    std::vector<CsvRow> rows;
    if (!ReadCsvTable(listPath, {"name", "fields", "diagram"}, rows, error)) return false;
    std::string folder = FolderOf(listPath);
    std::set<std::string> names;
    for (const auto& row : rows) {
        const auto& c = row.cells;
        std::string where = Where(listPath, row.line);
        FunctionDef def;
        def.name = c[0];
        // The name becomes a file name and a tree caption.
        if (def.name.empty() || def.name.find_first_of("/\\:*?\"<>|,.") != std::string::npos) {
            error = where + "function name must be a plain file name";
            return false;
        }
        if (!names.insert(def.name).second) {
            error = where + "function " + def.name + " listed twice";
            return false;
        }
        if (c[1].empty() || c[2].empty()) {
            error = where + "fields and diagram files are needed";
            return false;
        }
        if (!LoadFields(folder + c[1], params, def, error)) return false;
        def.diagramPath = folder + c[2];
        out.push_back(std::move(def));
    }
    if (out.empty() || out.size() > static_cast<size_t>(kMaxFunctions)) {
        error = listPath + ": between 1 and 128 functions are needed";
        return false;
    }
    return true;
}

bool WriteFunctionSet(const std::vector<FunctionDef>& functions, const std::string& outDir,
                      std::string& error) {
    std::string dir = outDir.empty() || outDir.back() == '/' ? outDir : outDir + "/";
    {
        BookHolder h;
        xls::Sheet* s = h.book->addSheet(L"Function");
        if (!s) {
            error = "cannot add the sheet";
            return false;
        }
        int row = 0;
        bool ok = true;
        for (const auto& f : functions) ok = Put(s, row++, 0, f.name) && ok;
        if (!ok) {
            error = "a cell could not be stored";
            return false;
        }
        if (!SaveBook(h, dir + "function.xls", error)) return false;
    }
    for (const auto& f : functions) {
        BookHolder h;
        xls::Sheet* s0 = h.book->addSheet(L"Setting");
        xls::Sheet* s1 = h.book->addSheet(L"Watch");
        if (!s0 || !s1) {
            error = "cannot add the sheets";
            return false;
        }
        if (!WriteFieldSheet(s0, f.settings) || !WriteFieldSheet(s1, f.watches)) {
            error = f.name + ": a cell could not be stored";
            return false;
        }
        if (!SaveBook(h, dir + f.name + ".xls", error)) return false;

        std::string script;
        if (!ReadFileBytes(f.diagramPath, script, error)) return false;
        Canvas canvas;
        if (!RenderDiagram(script, f.diagramPath, canvas, error)) return false;
        if (!WriteFileBytes(dir + f.name + ".bmp", EncodeBmp(canvas), error)) return false;
    }
    return true;
}

}  // namespace databuild
