// Parameter value files: any bytes as the workbook a view loads its values
// from, then applied to the rows of a view.
//
// Contracts: a refused file yields no entries and says why; an accepted one
// yields only finite values; applying them changes exactly the rows whose
// record has an entry's address, and nothing else of the table.
#include "FuzzSupport.h"
#include "FuzzTable.h"

#include "ValueFile.h"

#include <cmath>
#include <set>

namespace {

const char* const kTarget = "fuzz_valuefile";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ParamTable table;
    fuzzkit::FillTable(table);
    const std::string path = fuzzkit::WriteInput("values.xls", data, size);
    const valuefile::LoadResult res = valuefile::Load(fuzzkit::Wide(path), table);
    using S = valuefile::LoadResult::Status;
    if (res.status != S::Ok) {
        FUZZ_CHECK(kTarget, res.entries.empty(), "a refused file still gave entries");
        FUZZ_CHECK(kTarget, !res.error.empty(), "a refused file without a reason");
        if (res.status == S::ModelMismatch) {
            FUZZ_CHECK(kTarget, res.fileModel != table.fileBaseName, "mismatch reported for the same model");
            FUZZ_CHECK(kTarget, !valuefile::ModelMismatchText(table.fileBaseName, res.fileModel).empty(), "no text");
        }
        return 0;
    }
    FUZZ_CHECK(kTarget, res.fileModel == table.fileBaseName, "a file of another model was taken");
    FUZZ_CHECK(kTarget, res.entries.size() <= static_cast<size_t>(valuefile::kLastRow), "more rows than a file holds");
    std::set<int> addresses;
    for (const valuefile::Entry& e : res.entries) {
        FUZZ_CHECK(kTarget, std::isfinite(e.value), "an entry value that is not finite");
        FUZZ_CHECK(kTarget, e.n != 0, "an entry without its row number");
        addresses.insert(e.address);
    }

    // The view shows the records in reverse order, so that row n - 1 and the
    // record of index n - 1 differ.
    std::vector<int> rows;
    for (int i = table.paramCount() - 1; i >= 0; --i)
        rows.push_back(i);
    const std::vector<int> changed = valuefile::Apply(res.entries, table, rows);
    std::set<int> changedRows(changed.begin(), changed.end());
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const ParamRecord& r = table.params[static_cast<size_t>(rows[static_cast<size_t>(row)])];
        const bool hit = addresses.count(r.address) != 0;
        FUZZ_CHECK(kTarget, changedRows.count(row) == (hit ? 1u : 0u),
                   "row " + std::to_string(row) + (hit ? " was not changed" : " was changed without an entry"));
        FUZZ_CHECK(kTarget, r.valueUnknown == !hit && r.valueUnwritten == hit, "row states after loading");
        if (!hit)
            FUZZ_CHECK(kTarget, r.value == 0, "an untouched row got a value");
        else
            FUZZ_CHECK(kTarget, std::isfinite(r.value), "a row got a value that is not finite");
    }
    for (int row : changed)
        FUZZ_CHECK(kTarget, row >= 0 && row < static_cast<int>(rows.size()), "changed row outside the view");
    return 0;
}
