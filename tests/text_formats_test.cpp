// Text: UTF-8 and UTF-16 both ways, registry files as regedit writes them, trace lines with Windows placeholders.
#include "QZTracer.h"
#include "platform/WideString.h"
#ifndef _WIN32
#include "platform/posix/RegistryHive.h"
#endif
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <regex>

using namespace plat;

TEST(WideText, MalformedUtf8BecomesReplacementCharactersAndLoneSurrogatesAreRefused)
{
    const std::pair<std::string, std::u16string> toWide[] = {
        {"a\xC3\xA9z", u"a\u00e9z"},       {"\xF0\x9F\x98\x80", u"\U0001F600"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"a\xC3", u"a\uFFFD"},             {"\xE2\x82x", u"\uFFFD\uFFFDx"},     {"\xFF" "b", u"\uFFFDb"},
        {"\xED\xA0\x80", u"\uFFFD"},       {"\xF4\x90\x80\x80", u"\uFFFD"},
    };
    for (const auto& [utf8, utf16] : toWide) {
        EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
        EXPECT_TRUE(utf16.find(u'\uFFFD') != std::u16string::npos || Utf16ToUtf8(utf16) == utf8) << utf8;
    }
    EXPECT_EQ(Utf16ToUtf8(u"a\xD800"), std::nullopt);
    EXPECT_EQ(Utf16ToUtf8(u"\xDC00z"), std::nullopt);
}

#ifndef _WIN32  // the POSIX registry backend's hive files
// One file with each kind of line; read from UTF-8, UTF-8 with a byte-order mark, and UTF-16LE with one.
TEST(RegistryFile, ValuesOfEveryTypeInEveryEncoding)
{
    const std::u16string text =
        u"\r\n  Windows Registry Editor Version 5.00\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n"
        u"\"Text\"=\"a\\\"b\\\\c\\n\"\r\n"
        u"\"Open\"=\"x\\\"\r\n"
        u"\"Long\"=\"con\\\r\n   tinued\"\r\n"
        u"\"Bin\"=hex:0A,fF,AF, 1\r\n"
        u"\"Bad\"=hex:0g\r\n"
        u"\"Num\"=dword:0000BEEF\r\n"
        u"\"Wide\"=dword:123456789\r\n"
        u"\"Multi\"=hex(7):61,00,00,00\r\n"
        u"@=\"default\"\r\n"
        u"\"Gone\"=\"x\"\r\n"
        u"\"GONE\"=-\r\n"
        u"; \"Comment\"=\"x\"\r\n"
        u"[-HKEY_LOCAL_MACHINE\\Software\\Deleted]\r\n"
        u"\"Orphan\"=\"x\"\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Test]\r\n"
        u"\"User\"=\"x\"\r\n"
        u"[hklm\\software//Test\\Sub\\]\r\n"
        u"\"Last\"=dword:1";
    const std::string utf8 = *Utf16ToUtf8(text);
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : text)
        utf16 += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    using Bytes = std::vector<uint8_t>;
    const std::tuple<const char16_t*, const char16_t*, DWORD, Bytes> values[] = {
        {u"software\\test", u"text", REG_SZ, {'a', 0, '"', 0, 'b', 0, '\\', 0, 'c', 0, '\n', 0, 0, 0}},
        {u"software\\test", u"long", REG_SZ, {'c', 0, 'o', 0, 'n', 0, 't', 0, 'i', 0, 'n', 0, 'u', 0, 'e', 0, 'd', 0, 0, 0}},
        {u"software\\test", u"bin", REG_BINARY, {0x0a, 0xff, 0xaf, 0x01}},
        {u"software\\test", u"num", REG_DWORD, {0xef, 0xbe, 0, 0}},
        {u"software\\test", u"multi", 7, {0x61, 0, 0, 0}},
        {u"software\\test", u"", REG_SZ, {'d', 0, 'e', 0, 'f', 0, 'a', 0, 'u', 0, 'l', 0, 't', 0, 0, 0}},
        {u"software\\test\\sub", u"last", REG_DWORD, {1, 0, 0, 0}},
    };
    for (const std::string& file : {utf8, "\xEF\xBB\xBF" + utf8, utf16}) {
        const registry::Hive hive = registry::ParseHive(file, registry::Root::LocalMachine);
        size_t count = 0;
        for (const auto& [key, values] : hive.keys)
            count += values.size();
        EXPECT_EQ(count, std::size(values));  // nothing from the refused, deleted, commented or other root's lines
        for (const auto& [key, name, type, data] : values) {
            const registry::Value* value = hive.Find(key, name);
            ASSERT_NE(value, nullptr) << Utf16ToUtf8(name).value();
            EXPECT_EQ(value->type, type);
            EXPECT_EQ(value->data, data) << Utf16ToUtf8(name).value();
        }
        EXPECT_TRUE(hive.HasKey(u"") && hive.HasKey(u"software") && hive.HasKey(u"software\\test\\sub"));
        EXPECT_FALSE(hive.HasKey(u"soft") || hive.HasKey(u"software\\deleted") || hive.HasKey(u"zz"));
    }
    EXPECT_TRUE(registry::ParseHive("REGEDIT4\n[HKCU\\A]\n\"v\"=\"1\"", registry::Root::CurrentUser).HasKey(u"a"));
    EXPECT_TRUE(registry::ParseHive("not a registry file\n[HKLM\\A]\n", registry::Root::LocalMachine).keys.empty());
}
#endif

TEST(TraceFormat, WindowsPlaceholdersAndLongArguments)
{
    TraceCapture trace;
    QZTraceW(u"[PVCodec.dll]CPVCodec::X() WATCH! n=%d, s=%s, l=%ld, pct=%%, S=%S, c=%c", -42, u"w\u00e9de", 123456789L,
             "narrow", u'Z');
    QZTraceW(u"%5d|%-4d|%04x|%.3d|%s|%I32d %I64d|%4s|%-3s|%128d|", 7, 3, 255, 9, static_cast<const char16_t*>(nullptr),
             5, int64_t{1} << 40, u"ab", u"c", 1);  // numbers cut at 127 characters
    const std::u16string path(40000, u'a');
    QZTraceW(u"path=%s end", path.c_str());
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                                 "[PVCodec.dll]CPVCodec::X() WATCH! n=-42, s=w\u00e9de, l=123456789, pct=%, "
                                 "S=narrow, c=Z",
                                 "    7|3   |00ff|009|(null)|5 1099511627776|  ab|c  |" + std::string(127, ' ') + "|",
                                 "path=" + std::string(40000, 'a') + " end"}));
}

// With QZTRACE set, each line goes to that file in UTF-8, stamped, a lone surrogate as U+FFFD.
TEST(TraceFormat, LinesGoToTheFileQztraceNames)
{
    TempDir dir;
#ifdef _WIN32  // the C runtime's environment
    const auto setenv = [](const char* name, const char* value, int) { return _putenv_s(name, value); };
    const auto unsetenv = [](const char* name) { return _putenv_s(name, ""); };
#endif
    setenv("QZTRACE", (dir / "trace.log").c_str(), 1);
    QZTraceW(u"[PVCodec.dll]CPVCodec::X() WATCH! %s|%d", u"w\u00e9\xD800", 7);
    unsetenv("QZTRACE");
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[\d+\] (.*)\n)");
    std::smatch m;
    const std::string text = ReadBytes(dir / "trace.log");
    ASSERT_TRUE(std::regex_match(text, m, stamped)) << text;
    EXPECT_EQ(m[1].str(), "[PVCodec.dll]CPVCodec::X() WATCH! w\u00e9\uFFFD|7");
}
