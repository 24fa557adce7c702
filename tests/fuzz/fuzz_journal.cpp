// Recording journals: any bytes as the journal a crashed run left behind.
//
// Contracts: the reader never takes more samples than whole sample records fit
// in the bytes; a journal it calls whole was read to its end, a damaged one
// reads the same from the bytes before the damage; the file a recovery would
// write lands in the history folder whatever the journal's model says.
#include "FuzzSupport.h"

#include "RecordingJournal.h"

#include <fstream>

namespace {
const char* const kTarget = "fuzz_journal";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzzkit::WriteInput("input.journal", data, size);
    journal::Contents c;
    std::string error;
    if (!journal::Read(fuzzkit::Wide(path), c, &error)) {
        FUZZ_CHECK(kTarget, !error.empty(), "a refused journal without a reason");
        return 0;
    }
    FUZZ_CHECK(kTarget, c.samples.size() * journal::kSampleRecordBytes <= size, "more samples than the bytes hold");
    FUZZ_CHECK(kTarget, c.damaged == (c.damageOffset > 0), "damage without its place");
    FUZZ_CHECK(kTarget, c.damageOffset < size, "damage past the end");
    if (c.damaged) {
        const std::string prefix = path + ".prefix";
        std::ofstream(prefix, std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                      static_cast<std::streamsize>(c.damageOffset));
        journal::Contents again;
        FUZZ_CHECK(kTarget, journal::Read(fuzzkit::Wide(prefix), again), "the bytes before the damage do not read");
        FUZZ_CHECK(kTarget, !again.damaged && again.samples.size() == c.samples.size() &&
                                again.intervalChanges.size() == c.intervalChanges.size(),
                   "the bytes before the damage read otherwise");
    }
    const std::wstring folder = L"/nonexistent-history/";
    const std::wstring out = journal::RecoveredPath(folder, c);
    FUZZ_CHECK(kTarget, out.compare(0, folder.size(), folder) == 0 &&
                            out.find(L'/', folder.size()) == std::wstring::npos,
               "a recovered file outside the history folder");
    return 0;
}
