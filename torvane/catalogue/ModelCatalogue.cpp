#include "ModelCatalogue.h"

#include "SheetCells.h"

#include <algorithm>

namespace {

ModelFiles FilesOf(const ModelRecord& r)
{
    return ModelFiles{r.dataFile, r.calibrationFile, r.codeFile, r.initFile};
}

}  // namespace

void ModelCatalogue::Clear()
{
    models_.clear();
    series_.clear();
}

bool ModelCatalogue::Load(const std::wstring& path)
{
    Clear();
    try {
        cells::BookHandle book;
        if (!book || !book->load(path.c_str())) return false;
        xls::Sheet* sheet = book->getSheet(0);
        if (!sheet) return false;
        for (int row = kFirstRow; row <= kLastRow && modelCount() < kMaxModels; ++row) {
            ModelRecord r;
            r.series = cells::Text(sheet, row, 0);
            if (r.series.empty()) break;
            r.partNumber = cells::Text(sheet, row, 1);
            r.power = cells::Text(sheet, row, 2);
            r.dataFile = cells::Text(sheet, row, 3);
            r.calibrationFile = cells::Text(sheet, row, 4);
            r.codeFile = cells::Text(sheet, row, 5);
            r.initFile = cells::Text(sheet, row, 6);
            if (seriesCount() < kMaxSeries && std::find(series_.begin(), series_.end(), r.series) == series_.end())
                series_.push_back(r.series);
            models_.push_back(std::move(r));
        }
        return true;
    } catch (...) {
        Clear();
        return false;
    }
}

bool ModelCatalogue::HasModel(const std::wstring& series, const std::wstring& partNumber,
                              const std::wstring& power) const
{
    ModelFiles unused;
    return FindModelFiles(series, partNumber, power, unused);
}

bool ModelCatalogue::FindModelFiles(const std::wstring& series, const std::wstring& partNumber,
                                    const std::wstring& power, ModelFiles& files) const
{
    for (const ModelRecord& r : models_) {
        if (r.series == series && r.partNumber == partNumber && r.power == power) {
            files = FilesOf(r);
            return true;
        }
    }
    return false;
}

bool ModelCatalogue::FindModelFilesByPower(const std::wstring& series, const std::wstring& power,
                                           ModelFiles& files) const
{
    for (const ModelRecord& r : models_) {
        if (r.series == series && r.power == power) {
            files = FilesOf(r);
            return true;
        }
    }
    return false;
}

ModelCatalogue& TheModelCatalogue()
{
    static ModelCatalogue catalogue;
    return catalogue;
}
