// The drive models of an opened program package, from sheet 0 of its model
// workbook "VKR_MODEL.xls": from the third row on, one model per row with
// series (A), part number (B), power (C) and the names of its data (D),
// calibration (E), code (F) and init (G) files, up to the first empty A.
#pragma once

#include <string>
#include <vector>

struct ModelRecord {
    std::wstring series;
    std::wstring partNumber;
    std::wstring power;
    std::wstring dataFile;
    std::wstring calibrationFile;
    std::wstring codeFile;
    std::wstring initFile;
};

// The four file names of a model.
struct ModelFiles {
    std::wstring dataFile;
    std::wstring calibrationFile;
    std::wstring codeFile;
    std::wstring initFile;
};

class ModelCatalogue {
public:
    static constexpr int kMaxModels = 1024;
    static constexpr int kMaxSeries = 32;
    static constexpr int kFirstRow = 2;
    static constexpr int kLastRow = 1023;

    // Empties the catalogue and fills it from the workbook at `path`. False
    // when the workbook does not load or has no sheet 0 (the catalogue is then
    // empty).
    bool Load(const std::wstring& path);
    // Empties the catalogue.
    void Clear();

    // All comparisons are exact and case-sensitive.
    bool HasModel(const std::wstring& series, const std::wstring& partNumber, const std::wstring& power) const;
    // The files of the first model matching all three; false when none does.
    bool FindModelFiles(const std::wstring& series, const std::wstring& partNumber, const std::wstring& power,
                        ModelFiles& files) const;
    // The files of the first model of that series and power; false when none.
    bool FindModelFilesByPower(const std::wstring& series, const std::wstring& power, ModelFiles& files) const;

    const std::vector<ModelRecord>& models() const { return models_; }
    int modelCount() const { return static_cast<int>(models_.size()); }
    // Distinct series in order of first appearance, at most kMaxSeries.
    const std::vector<std::wstring>& seriesList() const { return series_; }
    int seriesCount() const { return static_cast<int>(series_.size()); }

private:
    std::vector<ModelRecord> models_;
    std::vector<std::wstring> series_;
};

// The catalogue of the running program.
ModelCatalogue& TheModelCatalogue();
