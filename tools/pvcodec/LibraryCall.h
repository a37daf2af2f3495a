// What the encrypt and decrypt commands share around one call of the
// library's file operations: the paths in the library's wide form, a progress
// bar fed by the library's progress messages, the trace lines of the call,
// and the one plain line that says which step failed.
#pragma once

#include <PVCodec.h>

#include "platform/WinTypes.h"

#include <functional>
#include <string>
#include <vector>

namespace cli {

// An absolute path (so that the library's temporary file goes into the
// destination's own folder) as the library takes it: NUL-terminated UTF-16.
std::basic_string<PVWCHAR> WidePath(const std::string& path);

// A destination must name a file: the library would put its result beside a
// folder of that name and then fail to replace the folder.
bool IsFolder(const std::string& path);

// Whether the cipher `algorithm` (0 Rijndael, 1 ARIA, 2 ATE) can run: ARIA
// and ATE need the outside crypto library. Asked with a throw-away key.
bool CipherAvailable(int algorithm);
// The line for a cipher that cannot run.
std::string CipherUnavailable(int algorithm);

// A progress bar on standard error, drawn only when standard error is a
// terminal. Window() is the handle to give the library (null when quiet); the
// library's progress messages (1031, percent in wParam) move the bar.
class ProgressBar {
public:
    explicit ProgressBar(std::string label);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    PVHWND Window() const { return static_cast<PVHWND>(m_window); }
    // Ends the bar's line, if one was drawn, so that later text starts afresh.
    void EndLine();

private:
    void Draw(unsigned percent);

    std::string m_label;
    plat::HWND m_window = nullptr;  // a receiver of the platform layer
    bool m_onLine = false;
};

// What the message for a failed call may name.
struct CallContext {
    std::string operation;    // "encrypt" / "decrypt"
    std::string source;       // as the user gave them
    std::string destination;
    long long offset = -1;    // body offset given to a reader
    bool bareBody = false;    // encryption without a header
};

// The outcome of one library call.
struct CallOutcome {
    bool ok = false;
    std::string failure;                 // one plain line when !ok
    bool alreadyProtected = false;       // an encryption failed as its source is a container already
    std::vector<std::string> traces;     // the trace lines of the call, UTF-8
};

// Runs `call` (which returns the library's 1 or 0) with a trace sink
// installed for the calling thread (calls may run on several threads at
// once), catching what the library lets through from the file layer. With
// `verbose` every trace line goes to standard error as it comes. On a failure
// the message names the failed step, taken from the trace; a temporary file
// the call left behind is removed when it is not the only complete copy of
// the document.
CallOutcome RunLibraryCall(const CallContext& context, bool verbose, ProgressBar* progress,
                           const std::function<int()>& call);

// The message for a failed call, from its trace lines (exposed for the tests
// of the mapping through the command).
std::string ExplainFailure(const CallContext& context, const std::vector<std::string>& traces);

}  // namespace cli
