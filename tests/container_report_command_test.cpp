// pvcodec inspect on containers written by the library and by the tests' own
// construction, from a file and from standard input, as lines and as JSON.
#include "PVCodec.h"
#include "support/ReferenceContainer.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#ifdef PVCODEC_TOOL

using reference::Bytes;

namespace {

const std::string kKey = "0123456789abcdef";

ToolResult Inspect(std::vector<std::string> arguments, const std::string& stdinFile = "")
{
    arguments.insert(arguments.begin(), "inspect");
    return RunTool(PVCODEC_TOOL, arguments, {}, stdinFile);
}

std::string Save(const TempDir& dir, const std::string& name, const Bytes& bytes)
{
    std::string path = dir / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(InspectCommand, ContainerWrittenByTheLibrary)
{
    Bytes document = reference::Document(2040, 1);
    Bytes header(25, 'h');
    Bytes image(32 + 14 + 25 + 2040 + 32);
    std::copy(document.begin(), document.end(), image.begin() + 32);
    int length = 0;
    ASSERT_EQ(CPVCodec::EncryptMemoryToMemory(image.data(), 2040, &length, const_cast<char*>(kKey.data()),
                                              header.data(), 25),
              1);
    TempDir dir;
    std::string path = Save(dir, "written.pvc", Bytes(image.begin() + 32, image.begin() + 32 + length));

    ToolResult run = Inspect({path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "form: default\n"
                       "magic: VQPVA002\n"
                       "algorithm: Rijndael\n"
                       "header size N: 25\n"
                       "body offset: 39 (14 + N)\n"
                       "container length: 2103\n"
                       "body length: 2064\n"
                       "body: 2 full segments and a 16-byte final piece: the padding trailer (document of "
                       "2032..2047 bytes) or a padded tail (document of 2049..2063 bytes)\n");

    ToolResult fromStdin = Inspect({"--json"}, path);
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_EQ(fromStdin.out,
              "{\"form\":\"default\",\"magic\":\"VQPVA002\",\"headerSize\":25,\"bodyOffset\":39,"
              "\"bodyOffsetRule\":\"14 + N\",\"tag\":null,\"algorithm\":\"Rijndael\",\"algorithmId\":0,"
              "\"containerLength\":2103,\"bodyLength\":2064,\"fit\":\"trailer-or-padded-tail\",\"fullSegments\":2,"
              "\"finalPiece\":16,\"documentSize\":{\"min\":2049,\"max\":2063},"
              "\"documentSizeWithTrailer\":{\"min\":2032,\"max\":2047},\"notes\":[]}\n");
}

TEST(InspectCommand, IndependentlyBuiltContainers)
{
    TempDir dir;
    Bytes header(7, 'x');
    Bytes body = reference::SegmentedBody(kKey, reference::Document(3000, 2));  // 2048 + 960
    std::string extended =
        Save(dir, "extended.pvc",
             reference::Concat(reference::ExtendedHeader(reference::ExtendedPrefix('A'), header), body));

    ToolResult unknownN = Inspect({extended});
    EXPECT_EQ(unknownN.status, 0);
    EXPECT_EQ(unknownN.out, "form: extended\n"
                            "magic: VQPVA004\n"
                            "tag: A\n"
                            "algorithm: ARIA\n"
                            "header size N: unknown\n"
                            "body offset: 92 + N, N unknown\n"
                            "container length: 3107\n"
                            "body length: unknown\n"
                            "note: the extended form does not store N: give --header-size N for the body\n");

    ToolResult knownN = Inspect({"--header-size", "7", extended});
    EXPECT_NE(knownN.out.find("body offset: 99 (92 + N)\n"), std::string::npos) << knownN.out;
    EXPECT_NE(knownN.out.find("body length: 3008\n"), std::string::npos) << knownN.out;

    std::string caller = Save(dir, "caller.pvc", reference::Concat(reference::DefaultHeader("VQPVA003", header), body));
    ToolResult callerRun = Inspect({caller});
    EXPECT_NE(callerRun.out.find("magic: VQPVA003\n"), std::string::npos);
    EXPECT_NE(callerRun.out.find("body: 2 full segments and a padded final piece of 960 bytes (document of "
                                 "2992..3007 bytes for Rijndael)\n"),
              std::string::npos)
        << callerRun.out;

    Bytes cut = body;
    cut.resize(2048 + 5);
    ToolResult bare = Inspect({Save(dir, "bare.bin", cut)});
    EXPECT_NE(bare.out.find("form: bare body\n"), std::string::npos);
    EXPECT_NE(bare.out.find("body: does not fit: 2 full segments and 5 bytes after them"), std::string::npos)
        << bare.out;

    ToolResult missing = Inspect({dir / "missing.pvc"});
    EXPECT_EQ(missing.status, 1);
}

// Header sizes the readers cannot take: inspect reports no body offset, as
// decrypt refuses the container; an extended form's N likewise.
TEST(InspectCommand, DamagedHeaderSizesGiveNoBodyOffset)
{
    TempDir dir;
    for (int64_t n : {int64_t{-1}, int64_t{INT32_MIN}, int64_t{INT32_MAX} - 13, int64_t{INT32_MAX}}) {
        SCOPED_TRACE(n);
        Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", Bytes(3, 'h')), Bytes(2, 'b'));
        for (int i = 0; i < 4; ++i)
            container[10 + i] = static_cast<char>(static_cast<uint32_t>(n) >> (8 * i));
        const std::string path = Save(dir, "damaged.pvc", container);
        const std::string stored = std::to_string(n);

        ToolResult text = Inspect({path});
        EXPECT_EQ(text.status, 0);
        EXPECT_NE(text.out.find("header size N: damaged (" + stored + ")\nbody offset: 14 + N, N damaged\n"
                                "container length: 19\nbody length: unknown\n"),
                  std::string::npos)
            << text.out;
        ToolResult json = Inspect({"--json", path});
        EXPECT_NE(json.out.find("\"headerSize\":null,\"storedHeaderSize\":" + stored + ",\"bodyOffset\":null"),
                  std::string::npos)
            << json.out;

        ToolResult decrypt = RunTool(PVCODEC_TOOL, {"decrypt", "--key-hex", "00112233445566778899aabbccddeeff",
                                                    path, dir / "out.txt"});
        EXPECT_EQ(decrypt.status, 1);
        EXPECT_EQ(decrypt.err, "pvcodec: decrypt: " + path + " has a damaged header: its header size field holds " +
                                   stored + "\n");
    }
    const std::string extended = Save(dir, "extended.pvc", reference::ExtendedPrefix('R'));
    EXPECT_EQ(Inspect({"--header-size", "2147483555", extended}).status, 0);
    ToolResult beyond = Inspect({"--header-size", "2147483556", extended});
    EXPECT_EQ(beyond.status, 2);
    EXPECT_EQ(beyond.err, "pvcodec: --header-size must be 0 to 2147483555\n");
}

}  // namespace

#endif
