#include "LibraryCall.h"
#include "System.h"

#include "platform/FileException.h"
#include "platform/Messaging.h"
#include "platform/WideString.h"

#include "QZTracer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>

namespace cli {
namespace {

// The library's progress message: WM_USER + 7, percent in wParam.
constexpr plat::UINT kProgressMessage = 1031;
constexpr int kBarWidth = 30;

// What becomes of the temporary file a failed call left behind.
enum class Leftover {
    None,    // the call had not made one, or it removed it itself
    Remove,  // incomplete or useless: the source is untouched, so it goes
    Keep,    // it holds the only complete copy of the result: tell the user
};

// One failure the trace can name: a fragment of its ERROR!/BAD! line (or of
// the one line a reader writes for a failed pad step) and what to tell the
// user. {src}, {dst}, {tmp} and {offset} are filled in.
struct KnownFailure {
    const char* fragment;
    const char* encryptMessage;
    const char* decryptMessage;  // null: same as encryptMessage
    Leftover leftover;
};

// Searched from the last trace line back; the first line that holds one of
// these fragments names the failure. Lines that precede a retry or a
// fallback ("BAD! Source open fail!!" before the third attempt, "Out of
// memory", "Fail CFile::Rename()", "FAIL Wipeout", "File Time is out of
// range") are not failures of the call and are not listed.
const KnownFailure kFailures[] = {
    {"File WriteMode Open Fail", "cannot open {dst} for writing (read-only, or held open by another program)",
     nullptr, Leftover::None},
    {"Fail GetTempFileName", "cannot create a temporary file in the folder of {dst}", nullptr, Leftover::None},
    {"temp Dest open fail", "cannot create a temporary file in the folder of {dst}", nullptr, Leftover::Remove},
    {"tmpDest file open fail", "cannot create a temporary file in the folder of {dst}", nullptr, Leftover::Remove},
    {"ERROR! Source open fail", "cannot open {src}{why}", nullptr, Leftover::Remove},
    {"src file open fail", "cannot open {src}{why}", nullptr, Leftover::Remove},
    {"Fail f=fopen()", "cannot open {src}", nullptr, Leftover::None},
    {"Already encrypted", "{src} is already a protected container", nullptr, Leftover::Remove},
    {"ERROR! read fail", "cannot read {src}", nullptr, Leftover::Remove},
    {"Write Fail", "cannot write the temporary file in the folder of {dst} (disk full?)", nullptr, Leftover::Remove},
    {"Src file Read size is incorrect",
     "{src} could not be enciphered whole (it changed while it was read, or the cipher failed); nothing was replaced",
     "the body of {src} does not end where the container layout says: a damaged container, or the wrong offset",
     Leftover::Remove},
    {"Encrypted file size is incorrect", "the enciphered container came out shorter than the document", nullptr,
     Leftover::Remove},
    {"encrypted doc size is too small",
     "",  // encryption has no such step
     "{src} is shorter than the body offset {offset}: not a container of this layout, or the offset is beyond its end",
     Leftover::None},
    {"padDecrypt fail", "", "wrong key or damaged container", Leftover::Remove},
    {"WATCH! else", "", "wrong key or damaged container", Leftover::None},
    {"DecryptMemoryToMemory() ERROR! nSizeResult", "", "wrong key or damaged container", Leftover::None},
    {"Source file is too large", "{src} is 2 GiB or larger; containers hold documents of less than 2 GiB", nullptr,
     Leftover::None},
    {"Algorithm ARIA needs at least one byte", "ARIA cannot encrypt an empty document", nullptr, Leftover::None},
    {"encrypted doc size is too large", "", "the body of {src} is 2 GiB or larger", Leftover::None},
    // The drivers end a call in which a file step threw unexpectedly; a
    // temporary file they kept is named below.
    {"Unexpected file exception", "a file operation failed unexpectedly (--verbose shows the library's trace)",
     nullptr, Leftover::None},
    {"Unexpected exception", "the library failed unexpectedly (--verbose shows its trace)", nullptr, Leftover::None},
    {"FAIL NORMAL DELETE FILE", "cannot remove the existing {dst}; the new container is kept as {tmp}", nullptr,
     Leftover::Keep},
    {"Dest Path remove fail", "", "cannot remove the existing {dst}; the plain document is kept as {tmp}",
     Leftover::Keep},
    {"Fail MoveFile()", "cannot give the finished container the name {dst}; it is kept as {tmp}",
     "cannot give the plain document the name {dst}; it is kept as {tmp}", Leftover::Keep},
};

constexpr char kTempPathMark[] = "tmpDestPath=";
constexpr char kMessageMark[] = "MSG=";

void Replace(std::string& text, const std::string& what, const std::string& with)
{
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// The temporary path of the call: from the last "Entering the Function V2"
// line (a fallback writes one of its own).
std::string TempPath(const std::vector<std::string>& traces)
{
    for (auto line = traces.rbegin(); line != traces.rend(); ++line)
        if (size_t at = line->find(kTempPathMark); at != std::string::npos)
            return line->substr(at + sizeof kTempPathMark - 1);
    return {};
}

const KnownFailure* FindFailure(const CallContext& context, const std::vector<std::string>& traces, size_t& index)
{
    const bool decrypt = context.operation == "decrypt";
    for (size_t i = traces.size(); i-- > 0;) {
        for (const KnownFailure& failure : kFailures) {
            const char* message = decrypt && failure.decryptMessage ? failure.decryptMessage : failure.encryptMessage;
            if (*message != 0 && traces[i].find(failure.fragment) != std::string::npos) {
                index = i;
                return &failure;
            }
        }
    }
    return nullptr;
}

// An ARIA body has no pad-failure line of its own: its failed pad step (a
// wrong key, as a rule) leaves the body's count short, which the size check
// then reports. Only an empty body fails that check for another reason.
bool PadStepOfAriaBodyFailed(const std::vector<std::string>& traces, const std::string& sizeLine)
{
    constexpr char kDocSizeMark[] = "nDocSize=";
    const size_t at = sizeLine.rfind(kDocSizeMark);
    const bool emptyBody = at != std::string::npos && sizeLine.substr(at + sizeof kDocSizeMark - 1) == "0";
    const bool aria = std::any_of(traces.begin(), traces.end(), [](const std::string& line) {
        return line.find("WATCH! Algorithm ARIA DocSize[") != std::string::npos;
    });
    return aria && !emptyBody;
}

// The library only ever names its own "~PV" files as temporary paths.
bool IsLibraryTemporary(const std::string& path)
{
    return sys::Utf8(sys::FsPath(path).filename()).rfind("~PV", 0) == 0;
}

struct TraceSink {
    std::vector<std::string> lines;
    bool verbose = false;
    ProgressBar* progress = nullptr;

    void Receive(const char16_t* line)
    {
        std::string text = plat::Utf16ToUtf8(line).value_or("(a trace line that is not valid UTF-16)");
        if (verbose) {
            static std::mutex screen;
            std::lock_guard lock(screen);
            if (progress != nullptr)
                progress->EndLine();
            sys::WriteErrorText("trace: " + text + "\n");
        }
        lines.push_back(std::move(text));
    }
};

// The trace channel has one sink for the whole process, and the library
// traces on the thread of the call: while any call runs, the one sink
// installed hands each line to the sink of its own thread's call.
thread_local TraceSink* t_sink = nullptr;
std::mutex g_callsMutex;
int g_calls = 0;

void Dispatch(const char16_t* line, void*)
{
    if (t_sink != nullptr)
        t_sink->Receive(line);
}

class ThreadSink {
public:
    explicit ThreadSink(TraceSink& sink)
    {
        t_sink = &sink;
        std::lock_guard lock(g_callsMutex);
        if (g_calls++ == 0)
            QZTraceSetSink(&Dispatch, nullptr);
    }
    ~ThreadSink()
    {
        {
            std::lock_guard lock(g_callsMutex);
            if (--g_calls == 0)
                QZTraceSetSink(nullptr, nullptr);
        }
        t_sink = nullptr;
    }
    ThreadSink(const ThreadSink&) = delete;
    ThreadSink& operator=(const ThreadSink&) = delete;
};

}  // namespace

std::basic_string<PVWCHAR> WidePath(const std::string& path)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(sys::FsPath(path), error);
    const std::u16string wide = plat::Utf8ToUtf16(error ? path : sys::Utf8(absolute.lexically_normal()));
    return std::basic_string<PVWCHAR>(wide.begin(), wide.end());
}

bool CipherAvailable(int algorithm)
{
    if (algorithm == 0)
        return true;
    char key[16] = {};
    char input[16] = {'p'};
    char output[64] = {};
    return CPVCodec::SFPadEncryptEx(input, output, key, 1, algorithm) > 0;
}

std::string CipherUnavailable(int algorithm)
{
    return std::string(algorithm == 1 ? "the ARIA cipher is not available: XecureCrypto.dll"
                                      : "the ATE cipher is not available: XecureCrypto.dll or XecureATE.dll") +
           " was not found beside the pvcodec program, in the folder the PVVPVPath setting names, or in the Windows "
           "folder";
}

bool IsFolder(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::is_directory(sys::FsPath(path), ignored);
}

ProgressBar::ProgressBar(std::string label) : m_label(std::move(label))
{
    if (sys::StandardErrorIsTerminal())
        m_window = plat::RegisterWindow([this](plat::UINT message, plat::WPARAM wParam, plat::LPARAM) -> plat::LRESULT {
            if (message == kProgressMessage)
                Draw(static_cast<unsigned>(std::min<plat::WPARAM>(wParam, 100)));
            return 0;
        });
}

ProgressBar::~ProgressBar()
{
    if (m_window != nullptr)
        plat::UnregisterWindow(m_window);
    EndLine();
}

void ProgressBar::Draw(unsigned percent)
{
    const int filled = static_cast<int>(percent) * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    char number[8];
    std::snprintf(number, sizeof number, "%3u%%", percent);
    sys::WriteErrorText("\r" + m_label + " [" + bar + "] " + number);
    m_onLine = true;
}

void ProgressBar::EndLine()
{
    if (m_onLine) {
        sys::WriteErrorText("\n");
        m_onLine = false;
    }
}

std::string ExplainFailure(const CallContext& context, const std::vector<std::string>& traces)
{
    size_t index = 0;
    const KnownFailure* failure = FindFailure(context, traces, index);
    if (failure == nullptr)
        return "the library gave no reason (--verbose shows its trace)";
    const bool decrypt = context.operation == "decrypt";
    std::string message = decrypt && failure->decryptMessage ? failure->decryptMessage : failure->encryptMessage;
    if (std::string(failure->fragment) == "Encrypted file size is incorrect" && context.bareBody)
        message = "the library does not write a bare body for a document of this size (its size check counts "
                  "the 14 header bytes that a bare body lacks); give a header";
    if (decrypt && std::string(failure->fragment) == "Src file Read size is incorrect" &&
        PadStepOfAriaBodyFailed(traces, traces[index]))
        message = "wrong key or damaged container";
    // The open failure's own words come on the next line ("CODE=%d, MSG=%s").
    std::string why;
    if (index + 1 < traces.size())
        if (size_t at = traces[index + 1].find(kMessageMark); at != std::string::npos)
            why = ": " + traces[index + 1].substr(at + sizeof kMessageMark - 1);
    Replace(message, "{why}", why);
    Replace(message, "{src}", context.source);
    Replace(message, "{dst}", context.destination);
    Replace(message, "{offset}", std::to_string(context.offset));
    Replace(message, "{tmp}", TempPath(traces));
    return message;
}

CallOutcome RunLibraryCall(const CallContext& context, bool verbose, ProgressBar* progress,
                           const std::function<int()>& call)
{
    TraceSink sink;
    sink.verbose = verbose;
    sink.progress = progress;
    CallOutcome outcome;
    std::string escaped;
    int result = 0;
    {
        ThreadSink installed(sink);
        try {
            result = call();
        } catch (const plat::CFileException& e) {
            escaped = e.what();
        } catch (const std::exception& e) {
            escaped = e.what();
        } catch (...) {
            escaped = "unknown error";
        }
    }
    if (progress != nullptr)
        progress->EndLine();
    outcome.traces = std::move(sink.lines);
    outcome.ok = escaped.empty() && result == 1;
    if (outcome.ok)
        return outcome;
    if (!escaped.empty()) {
        outcome.failure = "a file operation failed: " + escaped;
        return outcome;
    }
    outcome.failure = ExplainFailure(context, outcome.traces);
    size_t index = 0;
    const KnownFailure* failure = FindFailure(context, outcome.traces, index);
    outcome.alreadyProtected = failure != nullptr && std::string(failure->fragment) == "Already encrypted";
    const std::string temp = TempPath(outcome.traces);
    if (temp.empty() || !IsLibraryTemporary(temp))
        return outcome;
    std::error_code ignored;
    if (failure != nullptr && failure->leftover == Leftover::Remove)
        std::filesystem::remove(sys::FsPath(temp), ignored);
    else if (std::filesystem::exists(sys::FsPath(temp), ignored) && outcome.failure.find(temp) == std::string::npos)
        outcome.failure += "; " + temp + " is left behind and may hold the document";
    return outcome;
}

}  // namespace cli
