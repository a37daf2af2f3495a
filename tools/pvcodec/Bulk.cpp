#include "Bulk.h"

#include "Commands.h"
#include "System.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

namespace cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr unsigned kMaxJobs = 256;
constexpr int kBarWidth = 30;

struct Document {
    std::string path;
    long long size = 0;
};

// The documents the paths name, and the paths that could not be walked.
struct Collection {
    std::vector<Document> documents;
    std::vector<std::pair<std::string, std::string>> failures;  // path, reason
};

std::string ErrorText(const std::error_code& error)
{
    return error.message();
}

long long SizeOf(const fs::path& path)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0 : static_cast<long long>(size);
}

// A folder's regular files, its folders walked in turn, both in name order.
// Links inside are never followed, whether they point into the tree or out
// of it, and nothing but regular files and folders is taken.
void Walk(const fs::path& folder, Collection& found)
{
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    if (error) {
        found.failures.emplace_back(sys::Utf8(folder), "cannot read the folder: " + ErrorText(error));
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        const fs::file_status status = fs::symlink_status(entry, error);
        if (error)
            found.failures.emplace_back(sys::Utf8(entry), ErrorText(error));
        else if (fs::is_directory(status))
            Walk(entry, found);
        else if (fs::is_regular_file(status))
            found.documents.push_back({sys::Utf8(entry), SizeOf(entry)});
    }
}

}  // namespace

std::optional<std::string> FollowNamedLink(const std::string& name, std::string& error)
{
    std::error_code failure;
    const fs::path path = sys::FsPath(name);
    if (!fs::is_symlink(fs::symlink_status(path, failure)))
        return name;
    const fs::path target = fs::canonical(path, failure);
    if (failure) {
        error = "cannot follow the link: " + ErrorText(failure);
        return std::nullopt;
    }
    return sys::Utf8(target);
}

namespace {

// A path named on the command line (a link named there is followed).
// Returns false when the path does not exist.
bool CollectNamed(const std::string& name, bool recursive, Collection& found)
{
    std::error_code error;
    fs::path path = sys::FsPath(name);
    const fs::file_status own = fs::symlink_status(path, error);
    if (error || !fs::exists(own))
        return false;
    std::string why;
    const std::optional<std::string> followed = FollowNamedLink(name, why);
    if (!followed) {
        found.failures.emplace_back(name, why);
        return true;
    }
    path = sys::FsPath(*followed);
    const fs::file_status status = fs::status(path, error);
    if (fs::is_directory(status)) {
        if (recursive)
            Walk(path, found);
        else
            found.failures.emplace_back(name, "is a folder: give -r to change the files in it");
    } else if (fs::is_regular_file(status)) {
        found.documents.push_back({sys::Utf8(path), SizeOf(path)});
    } else {
        found.failures.emplace_back(name, "is not a regular file");
    }
    return true;
}

std::string Bytes(long long bytes)
{
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%lld bytes", bytes);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

// The documents in flight hold at most `limit` bytes together, since a
// library call holds about twice its document in memory and many jobs of
// large documents would otherwise exhaust it; a larger document runs alone.
// Documents are admitted in the order they ask, so a large one waiting holds
// back those after it rather than being passed over for ever.
class ByteBudget {
public:
    explicit ByteBudget(long long limit) : m_limit(limit) {}

    void Acquire(long long bytes)
    {
        std::unique_lock lock(m_mutex);
        const unsigned long long ticket = m_nextTicket++;
        m_changed.wait(lock, [&] { return ticket == m_serving && (m_inFlight == 0 || m_inFlight + bytes <= m_limit); });
        ++m_serving;
        m_inFlight += bytes;
        m_changed.notify_all();
    }
    void Release(long long bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            m_inFlight -= bytes;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const long long m_limit;
    long long m_inFlight = 0;
    unsigned long long m_nextTicket = 0, m_serving = 0;
};

constexpr long long kBytesInFlight = 256ll << 20;

// The counts of a run, each failure's line, and the bar that shows them.
class Tally {
public:
    Tally(std::string operation, std::string skippedMeaning, size_t files, long long bytes, bool bar)
        : m_operation(std::move(operation)), m_skippedMeaning(std::move(skippedMeaning)), m_files(files),
          m_bytes(bytes), m_bar(bar)
    {
    }

    void Record(const Document& document, const DocumentResult& result)
    {
        std::lock_guard lock(m_mutex);
        ++m_finished;
        m_bytesFinished += document.size;
        switch (result.kind) {
        case DocumentResult::Kind::Done:
            ++m_done;
            m_bytesDone += document.size;
            break;
        case DocumentResult::Kind::Skipped: ++m_skipped; break;
        case DocumentResult::Kind::Failed: FailLocked(document.path, result.reason); break;
        }
        Draw(m_finished == m_files);
    }
    void Fail(const std::string& path, const std::string& reason)
    {
        std::lock_guard lock(m_mutex);
        FailLocked(path, reason);
    }
    size_t Failed() const { return m_failed; }

    std::string Summary(bool interrupted, double seconds) const
    {
        std::string line = m_operation + ": " + (interrupted ? "interrupted: " : "") + std::to_string(m_files) +
                           (m_files == 1 ? " document: " : " documents: ");
        line += std::to_string(m_done) + " done (" + Bytes(m_bytesDone) + "), " + std::to_string(m_skipped) +
                " skipped (" + m_skippedMeaning + "), " + std::to_string(m_failed) + " failed";
        if (m_finished < m_files)
            line += ", " + std::to_string(m_files - m_finished) + " not started";
        char time[32];
        std::snprintf(time, sizeof time, " in %.2f s", seconds);
        return line + time;
    }

    void EndLine()
    {
        if (m_onLine)
            sys::WriteErrorText("\n");
        m_onLine = false;
    }

private:
    void FailLocked(const std::string& path, const std::string& reason)
    {
        ++m_failed;
        EndLine();
        cli::Fail(m_operation + ": " + path + ": " + reason);
    }

    // At most every 50 ms, and once at the end.
    void Draw(bool last)
    {
        const Clock::time_point now = Clock::now();
        if (!m_bar || (!last && now - m_drawn < std::chrono::milliseconds(50)))
            return;
        m_drawn = now;
        const size_t filled = m_bytes > 0 ? static_cast<size_t>(m_bytesFinished * kBarWidth / m_bytes)
                                          : m_finished * kBarWidth / std::max<size_t>(m_files, 1);
        std::string bar(filled, '#');
        bar.append(kBarWidth - filled, '.');
        sys::WriteErrorText("\r" + m_operation + " [" + bar + "] " + std::to_string(m_finished) + "/" +
                            std::to_string(m_files) + " files, " + Bytes(m_bytesFinished) + " of " + Bytes(m_bytes));
        m_onLine = true;
    }

    std::mutex m_mutex;
    std::string m_operation;
    std::string m_skippedMeaning;
    size_t m_files;
    long long m_bytes;
    bool m_bar;
    size_t m_finished = 0, m_done = 0, m_skipped = 0, m_failed = 0;
    long long m_bytesFinished = 0, m_bytesDone = 0;
    bool m_onLine = false;
    Clock::time_point m_drawn{};
};

}  // namespace

void AddBulkOptions(CLI::App& command, BulkOptions& options)
{
    command.add_flag("-r,--recursive", options.recursive,
                     "Folders too: every regular file under them, in place (links inside are not followed)");
    command.add_option("--jobs", options.jobs, "Documents changed at the same time (default: 32 per core, 32 to 128)")
        ->check(CLI::Range(1u, kMaxJobs));
}

bool WantsBulk(const BulkOptions& options)
{
    return options.recursive || options.jobs != 0 || (options.inPlace && options.paths.size() > 1);
}

// Most of a call is the library's wait before it writes and the flushes to
// the disk, not work: on 2 cores, 1000 documents of 100 KiB took 1.8 / 1.3 /
// 1.2 / 1.3 s with 16 / 32 / 64 / 128 jobs on tmpfs, and 5.2 / 3.3 / 2.4 /
// 2.1 s on ext4 (bench/bulk_bench.sh).
unsigned DefaultJobs()
{
    return std::clamp(32 * std::max(std::thread::hardware_concurrency(), 1u), 32u, 128u);
}

int RunBulk(const std::string& operation, const BulkOptions& options, const std::string& skippedMeaning, bool quiet,
            const std::function<DocumentResult(const std::string& path)>& work)
{
    Collection found;
    for (const std::string& name : options.paths) {
        if (!CollectNamed(name, options.recursive, found)) {
            Fail(operation + ": " + name + " does not exist (nothing was changed; with --in-place or -r every path "
                                           "is a document or folder to change in place, there is no DST)");
            return 2;
        }
    }
    long long total = 0;
    for (const Document& document : found.documents)
        total += document.size;
    Tally tally(operation, skippedMeaning, found.documents.size(), total, !quiet && sys::StandardErrorIsTerminal());
    for (const auto& [path, reason] : found.failures)
        tally.Fail(path, reason);

    static std::atomic<bool> stop{false};
    sys::StopOnInterrupt(stop);
    const Clock::time_point start = Clock::now();
    std::atomic<size_t> next{0};
    ByteBudget budget(kBytesInFlight);
    auto worker = [&] {
        sys::KeepInterruptsAway();
        for (size_t i; !stop && (i = next++) < found.documents.size();) {
            const Document& document = found.documents[i];
            budget.Acquire(document.size);
            const DocumentResult result = work(document.path);
            budget.Release(document.size);
            tally.Record(document, result);
        }
    };
    const unsigned jobs = options.jobs != 0 ? options.jobs : DefaultJobs();
    {
        std::vector<std::jthread> workers;
        for (unsigned j = 0; j < std::min<size_t>(jobs, found.documents.size()); ++j)
            workers.emplace_back(worker);
    }
    tally.EndLine();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Fail(tally.Summary(stop, seconds));
    if (stop)
        return 130;
    return tally.Failed() > 0 ? 1 : 0;
}

}  // namespace cli
