// The protocol engine's receive path with a test protocol: the input is a
// run of channel events and received chunks; the test protocol's frame
// finder either frames properly (0xA5, length n, n bytes) or answers what
// the input tells it to, including answers no finder should give (offsets
// and lengths outside the buffer).
//
// Input: byte 0 bit 0 picks the scripted finder; then operations: 0 a
// chunk (length byte, bytes), 1 a large chunk (length word x 8 of one
// repeated byte, up to past the receive buffer), 2 a channel event, 3 a
// finder answer for the scripted finder (offset word, length word, both
// signed).
//
// Contracts: every frame handed to the protocol lies inside the engine's
// buffer and within the bytes received; a proper finder's frames are whole;
// a channel event empties the buffer.
#include "FuzzSupport.h"

#include "CLinkCore.h"
#include "LogBuf.h"

#include <deque>
#include <string>

namespace {

const char* const kTarget = "fuzz_engine_receive";

struct Answer {
    int offset;
    int length;
};

class CFuzzExplain : public CProtocolExplain
{
public:
    bool scripted = false;
    std::deque<Answer> answers;

    int FindFrame(const char* data, int length, int* frameLength) override
    {
        *frameLength = 0;
        if (scripted) {
            if (answers.empty())
                return 0;
            const Answer a = answers.front();
            answers.pop_front();
            *frameLength = a.length;
            return a.offset;
        }
        if (length < 2)
            return 0;
        if (static_cast<uint8_t>(data[0]) != 0xA5) {
            *frameLength = -1;
            return 0;
        }
        const int n = static_cast<uint8_t>(data[1]);
        if (length >= n + 2)
            *frameLength = n + 2;
        return 0;
    }
};

class CFuzzProto : public CLinkCore
{
public:
    CFuzzProto()
    {
        explain = new CFuzzExplain;
        m_pProtocolExplain = explain;   // the engine deletes both
        m_pProtocolData = new CProtocolData;
    }

    bool ProcessUpFrame(const char* frame, int length, int status) override
    {
        if (status != 0)
            return true;
        ++frames;
        FUZZ_CHECK(kTarget, frame != nullptr && length > 0, "an empty frame");
        FUZZ_CHECK(kTarget, frame >= m_pRecvBuf && frame + length <= m_pRecvBuf + m_nRecvLen,
                   "a frame outside the received bytes");
        if (!explain->scripted) {
            FUZZ_CHECK(kTarget, frame == m_pRecvBuf && static_cast<uint8_t>(frame[0]) == 0xA5 &&
                                    length == static_cast<uint8_t>(frame[1]) + 2,
                       "a frame that the finder did not find");
        }
        return true;
    }

    int BufferSize() const { return m_pProtocolData->m_nRecvBufSize; }

    CFuzzExplain* explain;
    long frames = 0;
};

CFuzzProto* g_proto = nullptr;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (g_proto == nullptr) {
        g_proto = new CFuzzProto;
        g_proto->Initialize();
        LOG_SetOutput(false, false);
    }
    fuzzkit::Reader in(data, size);
    g_proto->explain->scripted = (in.byte() & 1) != 0;
    g_proto->explain->answers.clear();
    g_proto->ReadFrChannel(nullptr, 0, 1);
    FUZZ_CHECK(kTarget, g_proto->GetAccumulatedLength() == 0, "a channel event left bytes in the buffer");

    std::string chunk;
    for (int ops = 0; ops < 64 && !in.empty(); ++ops) {
        switch (in.byte() & 3) {
        case 0:
            chunk = in.bytes(in.byte());
            break;
        case 1: {
            const size_t n = static_cast<size_t>(in.word()) * 8;
            chunk.assign(n, static_cast<char>(in.byte()));
            break;
        }
        case 2:
            g_proto->ReadFrChannel(nullptr, 0, 2);
            FUZZ_CHECK(kTarget, g_proto->GetAccumulatedLength() == 0, "a channel event left bytes in the buffer");
            continue;
        default: {
            const int offset = static_cast<int16_t>(in.word());
            const int length = static_cast<int16_t>(in.word());
            g_proto->explain->answers.push_back(Answer{offset, length});
            continue;
        }
        }
        const int before = g_proto->GetAccumulatedLength();
        g_proto->ReadFrChannel(chunk.data(), static_cast<int>(chunk.size()), 0);
        const int after = g_proto->GetAccumulatedLength();
        FUZZ_CHECK(kTarget, after >= 0 && after <= g_proto->BufferSize(), "buffer fill " + std::to_string(after));
        FUZZ_CHECK(kTarget, after <= before + static_cast<int>(chunk.size()), "more bytes buffered than received");
    }
    return 0;
}
