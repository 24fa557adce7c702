// Both plug-ins in one program, as Torvane has them: linked at load time and
// also loaded by name by LinkCore. Both export CreatNewProtocol; each
// library's factory must make its own protocol, and each getter must hand
// out the instance its own library made.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <link.h>

#include <future>

#include "BlockPump.h"
#include "PtyKit.h"
#include "RegMaster.h"

using namespace ptykit;
typedef std::vector<uint8_t> Bytes;

namespace {

class TwoPlugins : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    ScratchDir dir_;
};

TEST_F(TwoPlugins, EachLinkGetsItsOwnProtocol)
{
    PtyPair bootLine, regLine;
    ASSERT_TRUE(bootLine.ok() && regLine.ok());
    CProtocolTemplate boot, reg;
    ASSERT_TRUE(OpenLink(boot, 1, bootLine.path(), "BlockPump"));
    ASSERT_TRUE(OpenLink(reg, 2, regLine.path(), "RegMaster"));

    CLinkCore* bootInstance = boot.GetInterface()->GetInstance();
    CLinkCore* regInstance = reg.GetInterface()->GetInstance();
    ASSERT_NE(bootInstance, nullptr);
    ASSERT_NE(regInstance, nullptr);
    EXPECT_NE(dynamic_cast<CBlockPump*>(bootInstance), nullptr) << "BlockPump link holds a " << typeid(*bootInstance).name();
    EXPECT_NE(dynamic_cast<CRegMaster*>(regInstance), nullptr) << "RegMaster link holds a " << typeid(*regInstance).name();
    EXPECT_EQ(static_cast<CLinkCore*>(GetXModem()), bootInstance);
    EXPECT_EQ(static_cast<CLinkCore*>(GetModbus()), regInstance);

    // Each instance talks on its own line.
    auto cmd = std::async(std::launch::async, [] {
        uint8_t reply[BLOCKPUMP_REPLY_SIZE] = {0}, length = 0, err = 0;
        bool ok = GetXModem()->ProcCmd("VKR PM version\n", 15, reply, &length, &err);
        return ok ? std::string(reinterpret_cast<char*>(reply), length) : std::string("failed");
    });
    auto read = std::async(std::launch::async, [] {
        uint8_t value[2] = {0, 0}, err = 0;
        bool ok = GetModbus()->ProcRead(1, 0x0055, value, &err);
        return ok ? (value[0] | (value[1] << 8)) : -1;
    });
    const std::string version = "VKR PM version\n";
    EXPECT_EQ(bootLine.Read(15, 2000), Bytes(version.begin(), version.end()));
    EXPECT_EQ(regLine.Read(8, 2000), (Bytes{0x01, 0x03, 0x00, 0x55, 0x00, 0x01, 0x94, 0x1A}));
    ASSERT_TRUE(bootLine.Write("V2.07", 5));
    ASSERT_TRUE(regLine.Write(Bytes{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33}));
    EXPECT_EQ(cmd.get(), "V2.07");
    EXPECT_EQ(read.get(), 0x1234);

    CloseLink(boot);
    EXPECT_EQ(GetXModem(), nullptr);
    EXPECT_EQ(static_cast<CLinkCore*>(GetModbus()), regInstance) << "closing the boot link touched the register master";
    CloseLink(reg);
    EXPECT_EQ(GetModbus(), nullptr);
}

// The factory each library exports under the shared C name makes that
// library's protocol and records it for that library's getter only.
TEST_F(TwoPlugins, FactoryOfEachLibraryIsItsOwn)
{
    void* regLib = ::dlopen("libRegMaster.so", RTLD_NOW | RTLD_NOLOAD);
    void* bootLib = ::dlopen("libBlockPump.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(regLib, nullptr) << "the test links libRegMaster.so at load time";
    ASSERT_NE(bootLib, nullptr) << "the test links libBlockPump.so at load time";
    auto regFactory = reinterpret_cast<PFN_CREATNEWPROTOCOL>(::dlsym(regLib, LINKCORE_FACTORY_NAME));
    auto bootFactory = reinterpret_cast<PFN_CREATNEWPROTOCOL>(::dlsym(bootLib, LINKCORE_FACTORY_NAME));
    ASSERT_NE(regFactory, nullptr);
    ASSERT_NE(bootFactory, nullptr);
    EXPECT_NE(reinterpret_cast<void*>(regFactory), reinterpret_cast<void*>(bootFactory));

    CLinkCore* boot = bootFactory(_PROTOCOLID::FromValue(1));
    ASSERT_NE(boot, nullptr);
    EXPECT_NE(dynamic_cast<CBlockPump*>(boot), nullptr);
    EXPECT_EQ(static_cast<CLinkCore*>(GetXModem()), boot);
    EXPECT_EQ(GetModbus(), nullptr);

    CLinkCore* reg = regFactory(_PROTOCOLID::FromValue(1));
    ASSERT_NE(reg, nullptr);
    EXPECT_NE(dynamic_cast<CRegMaster*>(reg), nullptr);
    EXPECT_EQ(static_cast<CLinkCore*>(GetModbus()), reg);
    EXPECT_EQ(static_cast<CLinkCore*>(GetXModem()), boot);

    delete boot;
    delete reg;
    EXPECT_EQ(GetXModem(), nullptr);
    EXPECT_EQ(GetModbus(), nullptr);
    ::dlclose(regLib);
    ::dlclose(bootLib);
}

// Both libraries resolve their own references to their own definitions, so
// a symbol the other plug-in (or the program) also defines can never take
// over a call inside them.
TEST_F(TwoPlugins, PluginsAreLinkedSymbolic)
{
    struct Seen
    {
        int plugins = 0;
        int symbolic = 0;
    } seen;
    ::dl_iterate_phdr(
        [](struct dl_phdr_info* info, size_t, void* data) {
            Seen* s = static_cast<Seen*>(data);
            std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("libRegMaster.so") == std::string::npos && name.find("libBlockPump.so") == std::string::npos)
                return 0;
            ++s->plugins;
            for (int i = 0; i < info->dlpi_phnum; ++i)
            {
                if (info->dlpi_phdr[i].p_type != PT_DYNAMIC)
                    continue;
                const ElfW(Dyn)* dyn = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
                for (; dyn->d_tag != DT_NULL; ++dyn)
                    if (dyn->d_tag == DT_SYMBOLIC || (dyn->d_tag == DT_FLAGS && (dyn->d_un.d_val & DF_SYMBOLIC)))
                    {
                        ++s->symbolic;
                        break;
                    }
            }
            return 0;
        },
        &seen);
    EXPECT_EQ(seen.plugins, 2);
    EXPECT_EQ(seen.symbolic, 2);
}

}  // namespace
