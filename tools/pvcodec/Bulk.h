// Many documents at once: `pvcodec encrypt` and `decrypt` with -r, --jobs,
// or two or more paths with --in-place. Each document is changed in place by
// its own library call, as the single-file form does, on one of N worker
// threads: most of a call's time is a wait, so calls overlap well beyond the
// number of cores.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace cli {

struct BulkOptions {
    std::vector<std::string> paths;  // the command's positional arguments
    bool inPlace = false;
    bool recursive = false;
    unsigned jobs = 0;  // 0: not given
};

// Adds -r and --jobs (the command adds its paths and --in-place).
void AddBulkOptions(CLI::App& command, BulkOptions& options);

// Whether the options ask for the bulk form: -r, --jobs, or --in-place with
// two or more paths. One path with --in-place alone is the single-file form.
bool WantsBulk(const BulkOptions& options);

// The document a path named for a change in place stands for: a link is
// followed (the user chose it), so that the file it points to is changed and
// the link stays. nullopt, with `error`, when a link cannot be followed; any
// other path comes back as it is.
std::optional<std::string> FollowNamedLink(const std::string& name, std::string& error);

// What became of one document.
struct DocumentResult {
    enum class Kind { Done, Skipped, Failed } kind = Kind::Done;
    std::string reason;  // when failed: the single-file command's line
};

// The jobs used when --jobs is not given.
unsigned DefaultJobs();

// Runs `work` on every document the paths name, `options.jobs` at a time;
// prints each failure, a progress bar on a terminal (unless `quiet`) and the
// summary line. Returns the exit status: 0, 1 if any document failed, 2 for
// a path that does not exist (nothing is changed then), 130 when interrupted.
int RunBulk(const std::string& operation, const BulkOptions& options, const std::string& skippedMeaning, bool quiet,
            const std::function<DocumentResult(const std::string& path)>& work);

}  // namespace cli
