// The register master's reply path in Modbus TCP framing (a gateway on an
// mbtcp:// port): for a run of requests, the bytes of the input arrive on the
// connection as the gateway's reply, in chunks as the receive thread would
// hand them over, fed from the channel's send hook (after the request went
// out, before its caller waits) so that one input is one deterministic run.
//
// Input: per request a header (op, unit, register, value) and up to seven
// chunks, each a length byte and its bytes. op bit 0: write, else read; bit
// 1: a correct reply (bit 2: an exception reply) is put on the connection;
// bit 3: before it, a well-formed reply with the previous transaction id and
// another value (a late reply); bits 4..6: the chunk count. The chunks come
// after the generated replies.
//
// Contracts: the request on the wire is one MBAP frame for the unit, function,
// register and value asked; a request is answered only by a frame on the
// connection with its transaction id, protocol 0, the asked unit and function
// (for a write also register and value), and the value handed back is that
// frame's; a correct reply on a clean connection is always taken.
#include "FuzzSupport.h"

#include "LogBuf.h"
#include "RegMaster.h"

#include <string>
#include <vector>

namespace {

const char* const kTarget = "fuzz_regmaster_tcp_reply";

uint8_t At(const std::string& b, size_t i) { return static_cast<uint8_t>(b[i]); }
uint16_t WordAt(const std::string& b, size_t i) { return static_cast<uint16_t>((At(b, i) << 8) | At(b, i + 1)); }

struct Request {
    bool write = false;
    uint8_t unit = 0;
    uint16_t reg = 0;
    uint16_t value = 0;
    uint16_t tid = 0;                 // as sent
    uint8_t op = 0;
    std::vector<std::string> chunks;  // what the gateway sends after the generated replies
};

Request* g_current = nullptr;
std::string g_line;  // every byte received since the buffer was cleared
CRegMaster* g_master = nullptr;

// An ADU: transaction id, protocol 0, length, then unit and PDU.
std::string Adu(uint16_t tid, uint8_t unit, const std::string& pdu)
{
    const size_t n = pdu.size() + 1;
    std::string f{static_cast<char>(tid >> 8), static_cast<char>(tid & 0xFF), 0, 0,
                  static_cast<char>(n >> 8), static_cast<char>(n & 0xFF), static_cast<char>(unit)};
    return f + pdu;
}

std::string ReplyPdu(const Request& rq, bool exception, uint16_t value)
{
    const char fn = static_cast<char>(rq.write ? 6 : 3);
    if (exception)
        return std::string{static_cast<char>(fn | 0x80), static_cast<char>((rq.value & 0x7F) | 1)};
    if (rq.write)
        return std::string{fn, static_cast<char>(rq.reg >> 8), static_cast<char>(rq.reg & 0xFF),
                           static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    return std::string{fn, 2, static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

int Send(void*, const char* data, int length, int)
{
    Request* rq = g_current;
    FUZZ_CHECK(kTarget, rq != nullptr, "a frame sent outside a request");
    const std::string f(data, static_cast<size_t>(length));
    FUZZ_CHECK(kTarget, length == 12, "request length");
    FUZZ_CHECK(kTarget, WordAt(f, 2) == 0 && WordAt(f, 4) == 6, "request MBAP protocol/length");
    FUZZ_CHECK(kTarget, At(f, 6) == rq->unit && At(f, 7) == (rq->write ? 6 : 3), "request unit/function");
    FUZZ_CHECK(kTarget, WordAt(f, 8) == rq->reg, "request register");
    FUZZ_CHECK(kTarget, WordAt(f, 10) == (rq->write ? rq->value : 1), "request value/count");
    rq->tid = WordAt(f, 0);
    g_current = nullptr;
    std::vector<std::string> all;
    if (rq->op & 8)
        all.push_back(Adu(static_cast<uint16_t>(rq->tid - 1), rq->unit, ReplyPdu(*rq, false, rq->value ^ 0x5A5A)));
    if (rq->op & 2)
        all.push_back(Adu(rq->tid, rq->unit, ReplyPdu(*rq, (rq->op & 4) != 0, rq->value)));
    all.insert(all.end(), rq->chunks.begin(), rq->chunks.end());
    for (const std::string& c : all) {
        g_line += c;
        g_master->ReadFrChannel(c.data(), static_cast<int>(c.size()), 0);
    }
    return length;
}

// Is there on the connection a frame of this request's transaction id whose
// unit and PDU start with `pdu`?
bool LineHas(const Request& rq, const std::string& pdu)
{
    const std::string head = Adu(rq.tid, rq.unit, pdu).substr(0, 4);   // id and protocol
    for (size_t i = 0; i + 7 + pdu.size() <= g_line.size(); ++i)
        if (g_line.compare(i, 4, head) == 0 && At(g_line, i + 6) == rq.unit && g_line.compare(i + 7, pdu.size(), pdu) == 0)
            return true;
    return false;
}

// A read reply of this request's id: function 3, a count of at least 2,
// then the value's high and low byte.
bool LineHasRead(const Request& rq, uint8_t high, uint8_t low)
{
    for (size_t i = 0; i + 11 <= g_line.size(); ++i)
        if (WordAt(g_line, i) == rq.tid && WordAt(g_line, i + 2) == 0 && At(g_line, i + 6) == rq.unit &&
            At(g_line, i + 7) == 3 && At(g_line, i + 8) >= 2 && At(g_line, i + 9) == high && At(g_line, i + 10) == low)
            return true;
    return false;
}

void Start()
{
    if (g_master != nullptr)
        return;
    g_master = new CRegMaster();
    g_master->Initialize();
    g_master->SetFraming(REGMASTER_FRAMING_TCP);
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
        Request rq;
        rq.op = in.byte();
        rq.write = (rq.op & 1) != 0;
        rq.unit = in.byte();
        rq.reg = in.word();
        rq.value = in.word();
        const int chunks = (rq.op >> 4) & 7;
        for (int c = 0; c < chunks && !in.empty(); ++c)
            rq.chunks.push_back(in.bytes(in.byte() % 65));
        const uint8_t high = static_cast<uint8_t>(rq.value >> 8), low = static_cast<uint8_t>(rq.value & 0xFF);

        const bool clean = g_master->GetAccumulatedLength() == 0;
        unsigned char value[2] = {0xEE, 0xEE};
        unsigned char err = 0;
        bool ok;
        g_current = &rq;
        if (rq.write) {
            value[0] = high;
            value[1] = low;
            ok = g_master->ProcWrite(rq.unit, rq.reg, value, &err);
        } else {
            ok = g_master->ProcRead(rq.unit, rq.reg, value, &err);
        }
        FUZZ_CHECK(kTarget, g_current == nullptr, "the request was never sent");

        const char fn = static_cast<char>(rq.write ? 6 : 3);
        if (ok) {
            if (rq.write)
                FUZZ_CHECK(kTarget,
                           LineHas(rq, std::string{fn, static_cast<char>(rq.reg >> 8), static_cast<char>(rq.reg & 0xFF),
                                                   static_cast<char>(high), static_cast<char>(low)}),
                           "a write taken without its echo");
            else
                FUZZ_CHECK(kTarget, LineHasRead(rq, value[1], value[0]), "a read value that no reply of its id carries");
        } else if (err != REGMASTER_ERR_TIMEOUT && err != 0) {
            FUZZ_CHECK(kTarget, LineHas(rq, std::string{static_cast<char>(fn | 0x80), static_cast<char>(err)}),
                       "an exception code that no reply of its transaction id carries");
        }
        // (A late reply before it is a whole frame of another id: dropped.)
        if ((rq.op & 2) && clean) {
            if (rq.op & 4)
                FUZZ_CHECK(kTarget, !ok && err == static_cast<uint8_t>((rq.value & 0x7F) | 1),
                           "a clean exception reply was not taken");
            else
                FUZZ_CHECK(kTarget, ok && (rq.write || (value[1] == high && value[0] == low)),
                           "a clean correct reply was not taken");
        }
    }
    return 0;
}
