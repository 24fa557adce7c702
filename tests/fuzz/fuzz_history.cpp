// Monitor histories: any bytes as the workbook the history view opens.
//
// Contracts: a refused file leaves the sample store exactly as it was and
// says why; an accepted one fills the store with the file's model, interval
// and at most 10000 samples, reports the samples it took, and maps each
// slot only to a parameter of the same address.
#include "FuzzSupport.h"
#include "FuzzTable.h"

#include "HistoryFile.h"

namespace {

const char* const kTarget = "fuzz_history";

// A store that holds one recognisable sample of another recording.
void Prime(CMonitorBuffer& store)
{
    MonitorSignals signalSet;
    signalSet[0].name = L"before";
    signalSet[0].enabled = 1;
    store.Reset(false, L"", L"BEFORE", L"1s", signalSet);
    MonitorSample s;
    s.entries[0].valid = 1;
    s.entries[0].value = 42.5f;
    store.Append(1000, s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ParamTable table;
    static CMonitorBuffer store;
    fuzzkit::FillTable(table);
    Prime(store);
    const uint32_t heldBefore = store.count();

    const std::string path = fuzzkit::WriteInput("history.xls", data, size);
    history::CHistoryReader reader(table, store);
    const history::LoadResult res = reader.Load(fuzzkit::Wide(path));
    using O = history::LoadResult::Outcome;

    if (!res.accepted) {
        FUZZ_CHECK(kTarget, res.outcome != O::Loaded && res.outcome != O::NoData, "refused, yet loaded");
        FUZZ_CHECK(kTarget, !res.error.empty() || !res.message.empty(), "a refused file without a reason");
        FUZZ_CHECK(kTarget, store.count() == heldBefore && store.State().model == L"BEFORE",
                   "a refused file changed the store");
        FUZZ_CHECK(kTarget, store.Signal(0).name == L"before", "a refused file changed the signals");
        if (res.outcome == O::ModelMismatch)
            FUZZ_CHECK(kTarget, !res.message.empty() && res.fileModel != table.deviceType, "mismatch message");
        return 0;
    }
    FUZZ_CHECK(kTarget, res.outcome == (res.rows > 0 ? O::Loaded : O::NoData), "outcome and rows disagree");
    FUZZ_CHECK(kTarget, res.rows <= kMonitorRingSize, "more samples than the store holds");
    FUZZ_CHECK(kTarget, store.count() == res.rows, "the store holds another number of samples than reported");
    FUZZ_CHECK(kTarget, store.State().model == res.fileModel && res.fileModel == table.deviceType,
               "the store's model is not the file's");
    FUZZ_CHECK(kTarget, res.startMs % 1000 == 0, "start time not on a whole second");
    if (res.rows == 0)
        FUZZ_CHECK(kTarget, !res.message.empty(), "no data, yet no message");
    for (const history::SlotInfo& slot : res.slotInfo) {
        FUZZ_CHECK(kTarget, slot.name.size() <= static_cast<size_t>(kMonitorNameMax), "slot name not cut");
        if (slot.recordIndex >= 0) {
            FUZZ_CHECK(kTarget, slot.recordIndex < table.paramCount(), "slot record outside the table");
            FUZZ_CHECK(kTarget,
                       table.params[static_cast<size_t>(slot.recordIndex)].address == static_cast<int32_t>(slot.address),
                       "slot mapped to a parameter of another address");
        } else {
            FUZZ_CHECK(kTarget, slot.exponent == history::kNoRecordExponent, "slot without record has an exponent");
        }
    }
    std::vector<MonitorSample> held = store.HeldSamples();
    FUZZ_CHECK(kTarget, held.size() == res.rows, "held samples differ from the count");
    return 0;
}
