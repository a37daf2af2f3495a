// The "ALG" setting and the registry hives it is read from (read afresh on
// every call: RawBuffer.SettingsFormsFollowAlgChangesBetweenCalls).
#include "codec/RawCodec.h"
#include "platform/Registry.h"
#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

using namespace plat;

struct AlgCase {
    const char* name;
    std::string machine;  // hive file bodies after the header line ("" = no file)
    std::string user;
    int expected;
};

void PrintTo(const AlgCase& c, std::ostream* os) { *os << c.name; }

class AlgSetting : public ::testing::TestWithParam<AlgCase> {};

TEST_P(AlgSetting, ResolvesAlgorithmMinusOne)
{
    const AlgCase& c = GetParam();
    RegistrySandbox registry;
    if (!c.machine.empty())
        registry.WriteUtf8("HKEY_LOCAL_MACHINE", c.machine);
    if (!c.user.empty())
        registry.WriteUtf16("HKEY_CURRENT_USER", c.user);
    CRawCodec codec(1, const_cast<char*>("0123456789abcdef"), -1);
    EXPECT_EQ(codec.Algorithm(), c.expected);
}

#define DAT_M "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n"
#define DAT_U "[HKEY_CURRENT_USER\\SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT]\n"

INSTANTIATE_TEST_SUITE_P(
    Registry, AlgSetting,
    ::testing::Values(
        AlgCase{"NoValueAnywhereIsRijndael", "", "", 0},
        AlgCase{"UserWinsOverMachine", DAT_M "\"ALG\"=dword:00000002\n", DAT_U "\"ALG\"=dword:00000001\n", 1},
        AlgCase{"MachineOnly", DAT_M "\"ALG\"=dword:00000002\n", "", 2},
        AlgCase{"UserKeyWithoutValueFallsBackToMachine", DAT_M "\"ALG\"=dword:00000001\n", DAT_U "\"Other\"=dword:1\n",
                1},
        AlgCase{"NamesIgnoreCase", "[hklm\\software\\velquist\\VELQUIST PAPER VAULT\\dat]\n\"alg\"=dword:2\n", "", 2},
        AlgCase{"ShorterValueFillsLowBytes", DAT_M "\"ALG\"=hex:02\n", "", 2},
        AlgCase{"LongerValueFailsTheRead", DAT_M "\"ALG\"=hex(b):01,00,00,00,00,00,00,00\n", "", 0},
        AlgCase{"StringTypeIsNotChecked", DAT_M "\"ALG\"=hex(1):01,00\n", "", 1},
        AlgCase{"UnknownIdStaysStored", DAT_M "\"ALG\"=dword:00000003\n", "", 3},
        AlgCase{"DeletedValueIsAbsent", DAT_M "\"ALG\"=-\n", "", 0},
        AlgCase{"ContinuedHexLines", DAT_M "\"ALG\"=hex(4):02,\\\n  00,00,00\n", "", 2},
        AlgCase{"MalformedLineIgnored", DAT_M "\"ALG\"=dword:zz\n", "", 0},
        AlgCase{"ValueOfAnotherRootInFileIgnored", DAT_U "\"ALG\"=dword:00000002\n", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Settings, MalformedHeaderMeansNoHive)
{
    RegistrySandbox registry;
    registry.WriteRaw("HKEY_LOCAL_MACHINE", "not a registry file\n" DAT_M "\"ALG\"=dword:2\n");
    CRawCodec codec(1, const_cast<char*>("0123456789abcdef"), -1);
    EXPECT_EQ(codec.Algorithm(), 0);
}

TEST(Registry, QueryProtocol)
{
    RegistrySandbox registry;
    registry.WriteUtf16("HKEY_LOCAL_MACHINE",
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\PVDirectory]\n"
                        "\"PVVPVPath\"=\"C:\\\\Program Files\\\\Velquist \\\"PV\\\"\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\VELQUIST\\PVDirectory", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"PVVPVPath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    std::u16string expected = u"C:\\Program Files\\Velquist \"PV\"";
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, (expected.size() + 1) * 2);
    char16_t small[4];
    DWORD smallSize = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"PVVPVPath", nullptr, nullptr, reinterpret_cast<LPBYTE>(small), &smallSize),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(smallSize, size);
    std::u16string buffer(64, u'\0');
    DWORD bufferSize = 128;
    ASSERT_EQ(RegQueryValueExW(key, u"pvvpvpath", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()),
                               &bufferSize),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer.c_str()), expected);
    char narrow[64] = {};
    DWORD narrowSize = sizeof narrow;
    ASSERT_EQ(RegQueryValueExA(key, "PVVPVPath", nullptr, nullptr, reinterpret_cast<LPBYTE>(narrow), &narrowSize),
              ERROR_SUCCESS);
    EXPECT_STREQ(narrow, "C:\\Program Files\\Velquist \"PV\"");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);
    HKEY missing = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nowhere", 0, KEY_READ, &missing),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing, nullptr);
}
