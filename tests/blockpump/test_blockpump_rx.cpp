// BlockPump against lrzsz's XMODEM-CRC receiver `rx` on a pseudo-terminal:
// every block is acknowledged as it goes, and the file rx writes holds the
// image (the last block padded with zeros).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "BlockPump.h"
#include "PtyKit.h"

using namespace ptykit;
typedef std::vector<uint8_t> Bytes;

namespace {

class BlockPumpRx : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.ok());
        ASSERT_TRUE(program_.ok() && rxLine_.ok());
        relay_.AddMasterSide(program_.master());
        relay_.AddStationSide(rxLine_.master());
        relay_.SetByteTime(1042);   // 9600 baud
        relay_.SetObserver([this](bool fromProgram, const uint8_t* data, size_t n) {
            if (!fromProgram)
                for (size_t i = 0; i < n; ++i)
                    if (data[i] == 'C')
                        askedForCrc_ = true;
        });
        relay_.Start();
        ASSERT_TRUE(OpenLink(link_, 1, program_.path(), "BlockPump"));
        pump_ = GetXModem();
        ASSERT_NE(pump_, nullptr);
        pump_->SetOutTime(3000);
    }
    void TearDown() override
    {
        if (rx_ > 0)
        {
            ::kill(rx_, SIGTERM);
            ::waitpid(rx_, nullptr, 0);
        }
        CloseLink(link_);
        relay_.Stop();
    }

    // rx -X -c -b: XMODEM with CRC, binary, into `file` in the working folder.
    bool StartRx(const std::string& file)
    {
        std::string errors = dir_.root() + "/rx.err";
        rx_ = ::fork();
        if (rx_ < 0)
            return false;
        if (rx_ == 0)
        {
            int tty = rxLine_.slave();
            ::dup2(tty, 0);
            ::dup2(tty, 1);
            int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0)
                ::dup2(err, 2);
            ::closefrom(3);
            ::execlp("rx", "rx", "-X", "-c", "-b", "-q", file.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return true;
    }

    // Exit status of rx once it ended within timeoutMs, -1 otherwise.
    int WaitRx(int timeoutMs)
    {
        int status = -1;
        bool done = WaitFor(
            [&] {
                pid_t r = ::waitpid(rx_, &status, WNOHANG);
                return r == rx_;
            },
            timeoutMs);
        if (!done)
            return -1;
        rx_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }

    ScratchDir dir_;
    PtyPair program_, rxLine_;
    Relay relay_;
    CProtocolTemplate link_;
    CBlockPump* pump_ = nullptr;
    pid_t rx_ = -1;
    std::atomic<bool> askedForCrc_{false};
};

TEST_F(BlockPumpRx, ImageAcknowledgedBlockByBlockAndWrittenByRx)
{
    // Five full blocks and 44 bytes; block 3 is all zeros, so its CRC would
    // be 0 and its last byte goes out as 0x1A.
    Bytes image(5 * 128 + 44);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    std::fill(image.begin() + 2 * 128, image.begin() + 3 * 128, 0x00);

    ASSERT_TRUE(StartRx("image.bin"));
    // rx opens with 'C' (CRC mode); the bootloader does not, and nothing
    // waits for it: it reaches the program while no exchange runs.
    ASSERT_TRUE(WaitFor([&] { return askedForCrc_.load(); }, 15000)) << "rx did not start";
    ASSERT_TRUE(WaitFor([&] { return pump_->GetStrayBytes() >= 1; }, 2000));

    const int full = static_cast<int>(image.size() / 128);
    const int rest = static_cast<int>(image.size() % 128);
    for (int block = 1; block <= full + (rest > 0 ? 1 : 0); ++block)
    {
        const char* data = reinterpret_cast<const char*>(image.data()) + 128 * (block - 1);
        int length = block <= full ? 128 : rest;
        uint8_t reply[BLOCKPUMP_REPLY_SIZE] = {0};
        uint8_t replyLength = 0;
        uint8_t err = 0;
        ASSERT_TRUE(pump_->ProcData(data, length, block, reply, &replyLength, &err)) << "block " << block;
        ASSERT_EQ(Bytes(reply, reply + replyLength), Bytes{0x06}) << "block " << block << " not acknowledged";
    }

    // End of transmission; rx acknowledges it and ends. A receiver may ask
    // for the EOT twice.
    ASSERT_TRUE(pump_->SendCmd("\x04", 1));
    int status = WaitRx(3000);
    if (status == -1)
    {
        ASSERT_TRUE(pump_->SendCmd("\x04", 1));
        status = WaitRx(10000);
    }
    ASSERT_EQ(status, 0) << "rx failed";

    std::ifstream in(dir_.work() + "/image.bin", std::ios::binary);
    ASSERT_TRUE(in.good());
    Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Bytes expected = image;
    expected[3 * 128 - 1] = 0x1A;
    ASSERT_EQ(written.size(), 6u * 128u) << "rx keeps the padding of the last block";
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin()));
    for (size_t i = expected.size(); i < written.size(); ++i)
        EXPECT_EQ(written[i], 0x00) << "padding byte " << i;
}

}  // namespace
