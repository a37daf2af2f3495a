// IsExplorerIconsOnly: the answers for each state of Explorer's "IconsOnly"
// setting in the current user's registry.
#include "fileops/FileChecks.h"
#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

struct IconsCase {
    const char* name;
    std::string user;  // hive body after the header line; "" = no hive at all
    int expected;
};

void PrintTo(const IconsCase& c, std::ostream* os) { *os << c.name; }

class ExplorerIconsOnly : public ::testing::TestWithParam<IconsCase> {};

TEST_P(ExplorerIconsOnly, Answers)
{
    const IconsCase& c = GetParam();
    RegistrySandbox registry;
    if (!c.user.empty())
        registry.WriteUtf16("HKEY_CURRENT_USER", c.user);
    // The machine's settings do not count.
    registry.WriteUtf8("HKEY_LOCAL_MACHINE",
                       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\n"
                       "\"IconsOnly\"=dword:00000001\n");
    EXPECT_EQ(IsExplorerIconsOnly(), c.expected);
}

#define ADVANCED "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\n"

INSTANTIATE_TEST_SUITE_P(
    Registry, ExplorerIconsOnly,
    ::testing::Values(IconsCase{"NoHive", "", 0},
                      IconsCase{"NoKey", "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer]\n"
                                         "\"IconsOnly\"=dword:00000001\n",
                                0},
                      IconsCase{"KeyWithoutValue", ADVANCED "\"Other\"=dword:00000001\n", 1},
                      IconsCase{"Zero", ADVANCED "\"IconsOnly\"=dword:00000000\n", 0},
                      IconsCase{"One", ADVANCED "\"IconsOnly\"=dword:00000001\n", 1},
                      IconsCase{"AnyNonZero", ADVANCED "\"IconsOnly\"=dword:00010000\n", 1},
                      IconsCase{"ShortZeroValue", ADVANCED "\"IconsOnly\"=hex:00\n", 0},
                      IconsCase{"LongerThanFourBytes", ADVANCED "\"IconsOnly\"=hex(b):00,00,00,00,00,00,00,00\n", 1},
                      IconsCase{"NameIgnoresCase", ADVANCED "\"iconsonly\"=dword:00000000\n", 0}),
    [](const auto& info) { return std::string(info.param.name); });
