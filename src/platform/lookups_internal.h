// Name look-ups on worker threads, shared by the asynchronous look-up calls and the probe
// set: a queue that a few workers take jobs from, so a look-up beyond the workers' number
// waits its turn instead of failing. Included only by src/platform/*.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One address of a look-up of both families.
struct LookupAddress {
    bool ipv6;
    std::array<unsigned char, 16> bytes; // network order; IPv4 in the first 4
};

// The resolver's answer, as the workers copy it out of the system's host entry.
struct LookupAnswer {
    int error = 0; // 0, or a Winsock number (11001 to 11004, or a system failure)
    std::string officialName;
    std::vector<std::string> aliases;
    std::vector<std::array<unsigned char, 4>> addresses; // network order
    // An answer in IPv6 form (a look-up of both families by name, or of an IPv6 address):
    // its addresses here instead, the IPv4 ones IPv4-mapped.
    bool ipv6Form = false;
    std::vector<std::array<unsigned char, 16>> addresses16;
    // A look-up of both families: every address, in the system's order of preference
    // (and `addresses` empty; the names are not asked for).
    std::vector<LookupAddress> anyFamily;
    std::int64_t finished = 0; // CLOCK_MONOTONIC nanoseconds when the resolver answered
};

// One look-up, shared by its caller and the worker that runs it. A caller that gives up
// leaves the worker to finish alone; whichever lets go last frees the job.
struct LookupJob {
    bool byAddress = false;
    bool bothFamilies = false; // by name, for addresses of both families (getaddrinfo)
    bool allEntries = false;   // by name, for the host entries of both families, merged
    std::string name;
    unsigned char address[16] = {};
    unsigned addressLength = 4; // 4 for IPv4, 16 for IPv6
    // Who hears of the answer: `done`, run on the user-interface thread from the event loop.
    std::function<void(const LookupAnswer& answer)> done;
    LookupAnswer answer;      // written by the worker before it signals the answer
    std::uint64_t number = 0; // given by QueueLookup, never 0 and never given twice
    bool abandoned = false;   // user-interface thread: `done` is not to run

    LookupJob() = default;
    LookupJob(const LookupJob&) = delete;
    LookupJob& operator=(const LookupJob&) = delete;
};

// The workers that run at most at once; workers of abandoned look-ups may still wait for a
// slow resolver, and later look-ups queue behind them.
constexpr int maxLookupWorkers = 8;

// Queues `job` and gives it its number. False when no worker runs and none can be
// started. A job with `done` needs the event loop (a QCoreApplication) to hear of it.
bool QueueLookup(const std::shared_ptr<LookupJob>& job);

// The job's `done` will not run; its worker finishes alone. False when no look-up with
// this number is under way.
bool AbandonLookup(std::uint64_t number);

// The number the last queued look-up got.
std::uint64_t LastLookupNumber();

// Runs `done` for every look-up whose answer is there now, without waiting for the event
// loop's turn: a deadline that falls due reads what has come in time first.
void CollectFinishedLookups();

// The Winsock number of a resolver failure (h_errno) and of a system error.
int WinsockErrorFromResolver(int resolverError);
int WinsockErrorFromErrno(int systemError);

} // namespace platform
