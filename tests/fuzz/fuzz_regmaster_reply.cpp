// The register master's reply path: for a run of requests (read, write),
// the bytes of the input arrive on the line as the drive's reply, in chunks
// as the serial receive thread would hand them over. The bytes are fed from
// the channel's send hook, i.e. after the request went out and before its
// caller waits, on the same thread, so one input is one deterministic run.
//
// Input: per request a header (op, station, register, value) and up to
// seven chunks, each a length byte and its bytes. op bit 0: write, else read;
// bit 1: a correct reply (bit 2: an exception reply) is put on the line
// first; bits 4..6: the chunk count.
//
// Contracts: the request on the wire is the one asked for; a request is
// answered only by a frame on the line with a valid CRC from the asked
// station, for the asked function (and, for a write, the asked register and
// value), and the value handed back is that frame's; a correct reply on a
// clean line is always taken.
#include "FuzzSupport.h"

#include "LogBuf.h"
#include "RegMaster.h"

#include <string>
#include <vector>

namespace {

const char* const kTarget = "fuzz_regmaster_reply";

// CRC-16/MODBUS, bit by bit: the check must not share the master's code.
uint16_t Crc(const std::string& b, size_t from, size_t n)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = from; i < from + n; ++i) {
        crc ^= static_cast<uint8_t>(b[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

bool CrcAt(const std::string& b, size_t at, size_t n)
{
    if (n < 3 || at + n > b.size())
        return false;
    const uint16_t crc = Crc(b, at, n - 2);
    return static_cast<uint8_t>(b[at + n - 2]) == (crc & 0xFF) && static_cast<uint8_t>(b[at + n - 1]) == (crc >> 8);
}

std::string WithCrc(std::string frame)
{
    const uint16_t crc = Crc(frame, 0, frame.size());
    frame.push_back(static_cast<char>(crc & 0xFF));
    frame.push_back(static_cast<char>(crc >> 8));
    return frame;
}

uint8_t At(const std::string& b, size_t i) { return static_cast<uint8_t>(b[i]); }

struct Request {
    bool write = false;
    uint8_t station = 0;
    uint16_t reg = 0;
    uint16_t value = 0;
    std::vector<std::string> chunks;  // what the drive puts on the line
};

Request* g_current = nullptr;
std::string g_line;  // every byte put on the line since the buffer was cleared
CRegMaster* g_master = nullptr;

// The channel: checks the request frame, then the drive answers.
int Send(void*, const char* data, int length, int)
{
    Request* rq = g_current;
    FUZZ_CHECK(kTarget, rq != nullptr, "a frame sent outside a request");
    const std::string frame(data, static_cast<size_t>(length));
    FUZZ_CHECK(kTarget, length == 8 && CrcAt(frame, 0, 8), "request frame");
    FUZZ_CHECK(kTarget, At(frame, 0) == rq->station && At(frame, 1) == (rq->write ? 6 : 3), "request station/function");
    FUZZ_CHECK(kTarget, ((At(frame, 2) << 8) | At(frame, 3)) == rq->reg, "request register");
    FUZZ_CHECK(kTarget, ((At(frame, 4) << 8) | At(frame, 5)) == (rq->write ? rq->value : 1), "request value/count");
    g_current = nullptr;
    for (const std::string& c : rq->chunks) {
        g_line += c;
        g_master->ReadFrChannel(c.data(), static_cast<int>(c.size()), 0);
    }
    return length;
}

// Is there, anywhere on the line, a frame that answers the request with
// this outcome?
bool LineHasRead(const Request& rq, uint8_t high, uint8_t low)
{
    for (size_t i = 0; i + 7 <= g_line.size(); ++i) {
        const size_t count = At(g_line, i + 2);
        if (At(g_line, i) == rq.station && At(g_line, i + 1) == 3 && count >= 2 && At(g_line, i + 3) == high &&
            At(g_line, i + 4) == low && CrcAt(g_line, i, count + 5))
            return true;
    }
    return false;
}

bool LineHasEcho(const Request& rq, uint8_t high, uint8_t low)
{
    for (size_t i = 0; i + 8 <= g_line.size(); ++i)
        if (At(g_line, i) == rq.station && At(g_line, i + 1) == 6 && ((At(g_line, i + 2) << 8) | At(g_line, i + 3)) == rq.reg &&
            At(g_line, i + 4) == high && At(g_line, i + 5) == low && CrcAt(g_line, i, 8))
            return true;
    return false;
}

bool LineHasException(const Request& rq, uint8_t code)
{
    for (size_t i = 0; i + 5 <= g_line.size(); ++i)
        if (At(g_line, i) == rq.station && At(g_line, i + 1) == ((rq.write ? 6 : 3) | 0x80) && At(g_line, i + 2) == code &&
            CrcAt(g_line, i, 5))
            return true;
    return false;
}

void Start()
{
    if (g_master != nullptr)
        return;
    g_master = new CRegMaster();
    g_master->Initialize();
    g_master->SetChannelHooks(&Send);
    g_master->SetProtocol(&g_current);  // the owner the hook is called with
    g_master->SetOutTime(0);
    LOG_SetOutput(false, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Start();
    // A channel event clears whatever an earlier input left in the buffer.
    g_master->ReadFrChannel(nullptr, 0, 1);
    g_line.clear();
    fuzzkit::Reader in(data, size);
    for (int n = 0; n < 8 && !in.empty(); ++n) {
        const uint8_t op = in.byte();
        Request rq;
        rq.write = (op & 1) != 0;
        rq.station = in.byte();
        rq.reg = in.word();
        rq.value = in.word();
        const uint8_t high = static_cast<uint8_t>(rq.value >> 8), low = static_cast<uint8_t>(rq.value & 0xFF);
        const bool correctFirst = (op & 2) != 0;
        const bool exception = (op & 4) != 0;
        const uint8_t code = static_cast<uint8_t>((rq.value & 0x7F) | 1);
        if (correctFirst) {
            std::string reply;
            reply.push_back(static_cast<char>(rq.station));
            if (exception) {
                reply.push_back(static_cast<char>((rq.write ? 6 : 3) | 0x80));
                reply.push_back(static_cast<char>(code));
            } else if (rq.write) {
                reply += std::string{'\x06', static_cast<char>(rq.reg >> 8), static_cast<char>(rq.reg & 0xFF),
                                     static_cast<char>(high), static_cast<char>(low)};
            } else {
                reply += std::string{'\x03', '\x02', static_cast<char>(high), static_cast<char>(low)};
            }
            rq.chunks.push_back(WithCrc(reply));
        }
        const int chunks = (op >> 4) & 7;
        for (int c = 0; c < chunks && !in.empty(); ++c)
            rq.chunks.push_back(in.bytes(in.byte() % 65));

        const bool clean = g_master->GetAccumulatedLength() == 0;
        unsigned char value[2] = {0xEE, 0xEE};
        unsigned char err = 0;
        bool ok;
        g_current = &rq;
        if (rq.write) {
            value[0] = high;
            value[1] = low;
            ok = g_master->ProcWrite(rq.station, rq.reg, value, &err);
        } else {
            ok = g_master->ProcRead(rq.station, rq.reg, value, &err);
        }
        FUZZ_CHECK(kTarget, g_current == nullptr, "the request was never sent");

        if (ok) {
            if (rq.write)
                FUZZ_CHECK(kTarget, LineHasEcho(rq, high, low), "a write taken without its echo on the line");
            else
                FUZZ_CHECK(kTarget, LineHasRead(rq, value[1], value[0]), "a read value that no reply on the line carries");
        } else if (err != REGMASTER_ERR_TIMEOUT && err != 0) {
            FUZZ_CHECK(kTarget, LineHasException(rq, err), "an exception code that no reply on the line carries");
        }
        if (correctFirst && clean) {
            if (exception)
                FUZZ_CHECK(kTarget, !ok && err == code, "a clean exception reply was not taken");
            else
                FUZZ_CHECK(kTarget, ok && (rq.write || (value[1] == high && value[0] == low)),
                           "a clean correct reply was not taken");
        }
    }
    return 0;
}
