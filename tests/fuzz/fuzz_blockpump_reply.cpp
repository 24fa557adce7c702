// The bootloader plug-in's reply path: for a run of exchanges (a command
// line or a block), the input's bytes arrive as the bootloader's reply in
// chunks (ACK, NAK, "C", CAN, text, noise), and further chunks arrive while
// nothing waits. The bytes are fed from the channel's send hook, after the
// exchange went out and before its caller waits, on the same thread.
//
// Input: per exchange an op byte (bit 0: block, else command; bits 1..2:
// reply chunks; bit 3: a stray chunk after the exchange), then the block
// number and data or the command text, then the chunks (length byte, bytes).
//
// Contracts: a block goes out as its XMODEM-CRC frame of exactly the given
// data; the reply handed back is exactly the bytes that arrived during the
// exchange (at most 255, NUL after them), and no exchange gets bytes that
// arrived while nothing waited; an exchange that got nothing fails with the
// time-out code.
#include "FuzzSupport.h"

#include "BlockPump.h"
#include "LogBuf.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kTarget = "fuzz_blockpump_reply";

// CRC-16/XMODEM, bit by bit: the check must not share the plug-in's code.
uint16_t Crc(const std::string& b, size_t from, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = from; i < from + n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (static_cast<uint8_t>(b[i]) << 8));
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

struct Exchange {
    bool block = false;
    int number = 0;
    std::string out;                  // block data or command line
    std::vector<std::string> chunks;  // the bootloader's reply
};

Exchange* g_current = nullptr;
CBlockPump* g_pump = nullptr;

int Send(void*, const char* data, int length, int)
{
    Exchange* ex = g_current;
    FUZZ_CHECK(kTarget, ex != nullptr, "bytes sent outside an exchange");
    const std::string sent(data, static_cast<size_t>(length));
    if (ex->block) {
        FUZZ_CHECK(kTarget, length == BLOCKPUMP_FRAME_SIZE, "block frame length");
        FUZZ_CHECK(kTarget, sent[0] == 0x01 && static_cast<uint8_t>(sent[1]) == (ex->number & 0xFF) &&
                                static_cast<uint8_t>(sent[2]) == static_cast<uint8_t>(~ex->number & 0xFF),
                   "block header");
        const std::string body = sent.substr(3, 128);
        std::string padded = ex->out + std::string(128 - ex->out.size(), '\0');
        // A block of zeros with a zero CRC goes out with 0x1A as its last byte.
        if (body != padded) {
            padded[127] = 0x1A;
            FUZZ_CHECK(kTarget, body == padded && Crc(padded.substr(0, 127) + '\0', 0, 128) == 0,
                       "block data differ from the image");
        }
        const uint16_t crc = Crc(sent, 3, 128);
        FUZZ_CHECK(kTarget, static_cast<uint8_t>(sent[131]) == (crc >> 8) && static_cast<uint8_t>(sent[132]) == (crc & 0xFF),
                   "block CRC");
    } else {
        FUZZ_CHECK(kTarget, sent == ex->out, "command bytes");
    }
    g_current = nullptr;
    for (const std::string& c : ex->chunks)
        g_pump->ReadFrChannel(c.data(), static_cast<int>(c.size()), 0);
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (g_pump == nullptr) {
        g_pump = new CBlockPump();
        g_pump->Initialize();
        g_pump->SetChannelHooks(&Send);
        g_pump->SetProtocol(&g_current);  // the owner the hook is called with
        g_pump->SetOutTime(0);
        g_pump->SetCmdBay(0);
        LOG_SetOutput(false, false);
    }
    g_pump->ReadFrChannel(nullptr, 0, 1);
    fuzzkit::Reader in(data, size);
    for (int n = 0; n < 6 && !in.empty(); ++n) {
        const uint8_t op = in.byte();
        Exchange ex;
        ex.block = (op & 1) != 0;
        if (ex.block) {
            ex.number = in.byte();
            ex.out = in.bytes(in.byte() % 129);
        } else {
            ex.out = in.bytes(1 + in.byte() % 40);
        }
        const int chunks = (op >> 1) & 3;
        std::string expected;
        for (int c = 0; c < chunks && !in.empty(); ++c) {
            ex.chunks.push_back(in.bytes(in.byte()));
            expected += ex.chunks.back();
        }
        // An empty command line sends nothing, so nothing answers it.
        const bool sends = ex.block || !ex.out.empty();
        if (!sends)
            expected.clear();
        if (expected.size() > 255)
            expected.resize(255);

        unsigned char reply[BLOCKPUMP_REPLY_SIZE];
        std::memset(reply, 0xEE, sizeof reply);
        unsigned char length = 0, err = 0;
        g_current = &ex;
        const bool ok = ex.block ? g_pump->ProcData(ex.out.data(), static_cast<int>(ex.out.size()), ex.number, reply,
                                                    &length, &err)
                                 : g_pump->ProcCmd(ex.out.data(), static_cast<int>(ex.out.size()), reply, &length, &err);
        FUZZ_CHECK(kTarget, (g_current == nullptr) == sends,
                   sends ? "the exchange never went out" : "an empty command went out");
        g_current = nullptr;
        FUZZ_CHECK(kTarget, ok == !expected.empty(), ok ? "a reply from nothing" : "a reply was lost");
        if (ok) {
            FUZZ_CHECK(kTarget, length == expected.size(), "reply length " + std::to_string(length));
            FUZZ_CHECK(kTarget, std::string(reinterpret_cast<char*>(reply), length) == expected,
                       "the reply differs from the bytes that arrived");
            FUZZ_CHECK(kTarget, reply[length] == 0, "reply without its NUL");
        } else {
            FUZZ_CHECK(kTarget, err == BLOCKPUMP_ERR_TIMEOUT, "a failed exchange without the time-out code");
        }
        if (op & 8) {
            // Bytes while nothing waits: dropped and counted.
            const std::string stray = in.bytes(in.byte() % 16);
            const long before = g_pump->GetStrayBytes();
            g_pump->ReadFrChannel(stray.data(), static_cast<int>(stray.size()), 0);
            FUZZ_CHECK(kTarget, g_pump->GetStrayBytes() == before + static_cast<long>(stray.size()), "stray bytes");
        }
    }
    return 0;
}
