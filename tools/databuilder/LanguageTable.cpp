// "language.xls": one row per control, menu command or toolbar identifier;
// column A the identifier (number), B where it is used (not read by the
// program), C the English and D the Chinese text.
#include <set>

#include "BookUtil.h"
#include "SampleData.h"

namespace databuild {

namespace {

bool Unescape(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out.push_back(in[i]);
            continue;
        }
        if (++i >= in.size()) return false;
        switch (in[i]) {
            case 't': out.push_back('\t'); break;
            case 'n': out.push_back('\n'); break;
            case '\\': out.push_back('\\'); break;
            default: return false;
        }
    }
    return true;
}

}  // namespace

bool LoadLanguageSource(const std::string& path, std::vector<LanguageEntry>& out,
                        std::string& error) {
    out.clear();
    std::vector<CsvRow> rows;
    if (!ReadCsvTable(path, {"id", "english", "chinese", "where"}, rows, error)) return false;
    std::set<long> ids;
    for (const auto& row : rows) {
        const auto& c = row.cells;
        std::string where = Where(path, row.line);
        LanguageEntry e;
        e.line = row.line;
        long long id;
        if (!ParseInt(c[0], id) || id <= 0 || id > 65535 || c[0].find('x') != std::string::npos) {
            error = where + "identifier must be a decimal number from 1 to 65535";
            return false;
        }
        e.id = static_cast<long>(id);
        if (!ids.insert(e.id).second) {
            error = where + "identifier " + c[0] + " listed twice";
            return false;
        }
        if (!Unescape(c[1], e.english) || !Unescape(c[2], e.chinese)) {
            error = where + "unknown escape (only \\t, \\n and \\\\ are known)";
            return false;
        }
        // The program stops reading a language's column at its first empty
        // cell, so one missing text would drop every identifier after it.
        if (e.english.empty() || e.chinese.empty()) {
            error = where + "both texts are needed";
            return false;
        }
        if (c[3].empty()) {
            error = where + "say where the identifier is used";
            return false;
        }
        e.where = c[3];
        out.push_back(std::move(e));
    }
    if (out.size() > 1023) {
        error = path + ": more than 1023 identifiers";
        return false;
    }
    return true;
}

bool WriteLanguageBook(const std::vector<LanguageEntry>& entries, const std::string& outPath,
                       std::string& error) {
    BookHolder h;
    xls::Sheet* s = h.book->addSheet(L"Language");
    if (!s) {
        error = "cannot add the sheet";
        return false;
    }
    bool ok = Put(s, 0, 0, "ID") && Put(s, 0, 1, "Used in") && Put(s, 0, 2, "English") &&
              Put(s, 0, 3, "Chinese");
    int row = 1;
    for (const auto& e : entries) {
        ok = s->writeNum(row, 0, static_cast<double>(e.id)) && Put(s, row, 1, e.where) &&
             Put(s, row, 2, e.english) && Put(s, row, 3, e.chinese) && ok;
        ++row;
    }
    if (!ok) {
        error = outPath + ": a cell could not be stored";
        return false;
    }
    return SaveBook(h, outPath, error);
}

}  // namespace databuild
