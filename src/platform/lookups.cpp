// The look-up workers: a queue of jobs, up to maxLookupWorkers threads that take them and
// ask the system's resolver, and the way answers come back: one eventfd for all callers,
// watched on the user-interface thread. Order: the resolver call, the workers, the
// user-interface side.
#include "platform/lookups_internal.h"
#include "platform/testing_sys.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace platform {

namespace {

// ---- The resolver ----

constexpr std::size_t firstWorkSize = 8192;
constexpr std::size_t maxWorkSize = 1 << 20;

std::int64_t MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Both families, each address once: the stream answers alone, as every address has one.
void ResolveBothFamilies(LookupJob& job) {
    ::addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ::addrinfo* found = nullptr;
    errno = 0;
    int status = ::getaddrinfo(job.name.c_str(), nullptr, &hints, &found);
    LookupAnswer& answer = job.answer;
    // Out of descriptors, the resolver can neither read its files nor open its sockets, and
    // may then call the name unknown: that says nothing about the name.
    bool noDescriptor = errno == EMFILE || errno == ENFILE;
    if (status == EAI_SYSTEM || (status != 0 && noDescriptor))
        answer.error = WinsockErrorFromErrno(errno);
    else if (status == EAI_AGAIN)
        answer.error = WinsockErrorFromResolver(TRY_AGAIN);
    else if (status == EAI_FAIL)
        answer.error = WinsockErrorFromResolver(NO_RECOVERY);
    else if (status == EAI_NODATA || status == EAI_ADDRFAMILY)
        answer.error = WinsockErrorFromResolver(NO_DATA);
    else if (status != 0)
        answer.error = WinsockErrorFromResolver(HOST_NOT_FOUND);
    for (const ::addrinfo* each = found; status == 0 && each != nullptr; each = each->ai_next) {
        LookupAddress address{each->ai_family == AF_INET6, {}};
        if (address.ipv6)
            std::memcpy(address.bytes.data(),
                        &reinterpret_cast<const ::sockaddr_in6*>(each->ai_addr)->sin6_addr, 16);
        else if (each->ai_family == AF_INET)
            std::memcpy(address.bytes.data(),
                        &reinterpret_cast<const ::sockaddr_in*>(each->ai_addr)->sin_addr, 4);
        else
            continue;
        answer.anyFamily.push_back(address);
    }
    if (found != nullptr)
        ::freeaddrinfo(found);
    answer.finished = MonotonicNow();
}

// One family's host entry for the job's name or address, in `entry` (its texts in
// `work`): 0, or the Winsock number of the failure.
int ResolveEntry(const LookupJob& job, int family, ::hostent* entry, std::vector<char>& work) {
    ::hostent* result = nullptr;
    int resolverError = 0;
    int status = 0;
    for (;;) {
        if (job.byAddress)
            status = ::gethostbyaddr_r(job.address, job.addressLength, family, entry, work.data(),
                                       work.size(), &result, &resolverError);
        else
            status = ::gethostbyname2_r(job.name.c_str(), family, entry, work.data(), work.size(),
                                        &result, &resolverError);
        if (status != ERANGE || work.size() >= maxWorkSize)
            break;
        work.resize(work.size() * 2);
    }
    if (result != nullptr)
        return entry->h_addrtype == family && entry->h_length == (family == AF_INET ? 4 : 16)
                   ? 0
                   : WinsockErrorFromResolver(NO_DATA);
    if (resolverError == NETDB_INTERNAL)
        return status != 0 ? WinsockErrorFromErrno(status) : WinsockErrorFromResolver(NO_RECOVERY);
    return WinsockErrorFromResolver(resolverError);
}

// Adds `address` to `list` unless it is there already.
template <typename Address> void AddOnce(std::vector<Address>& list, const Address& address) {
    if (std::find(list.begin(), list.end(), address) == list.end())
        list.push_back(address);
}

// Adds a host entry to `answer`: the official name unless one is there, the aliases and the
// addresses not yet there (in IPv6 form when the answer has it). The resolver gives one
// address twice when the hosts file names it on two lines, and its IPv4 answer for a name
// on the "::1" line is 127.0.0.1 (so localhost would list 127.0.0.1 twice).
void TakeEntry(const ::hostent& entry, LookupAnswer& answer) {
    if (answer.officialName.empty() && entry.h_name != nullptr)
        answer.officialName = entry.h_name;
    for (char** alias = entry.h_aliases; alias != nullptr && *alias != nullptr; ++alias)
        if (std::find(answer.aliases.begin(), answer.aliases.end(), *alias) == answer.aliases.end())
            answer.aliases.emplace_back(*alias);
    for (char** item = entry.h_addr_list; item != nullptr && *item != nullptr; ++item) {
        if (!answer.ipv6Form) {
            std::array<unsigned char, 4> bytes;
            std::memcpy(bytes.data(), *item, bytes.size());
            AddOnce(answer.addresses, bytes);
            continue;
        }
        std::array<unsigned char, 16> bytes{};
        if (entry.h_length == 4) {
            bytes[10] = bytes[11] = 0xFF; // ::ffff:a.b.c.d
            std::memcpy(bytes.data() + 12, *item, 4);
        } else {
            std::memcpy(bytes.data(), *item, bytes.size());
        }
        AddOnce(answer.addresses16, bytes);
    }
}

// By name, one family's entry or both families' (IPv4 first), or by address. When both
// are asked for, the look-up fails only when neither family knows the name, with the IPv4
// failure.
void Resolve(LookupJob& job) {
    if (job.bothFamilies) {
        ResolveBothFamilies(job);
        return;
    }
    LookupAnswer& answer = job.answer;
    bool ipv6Address = job.byAddress && job.addressLength == 16;
    answer.ipv6Form = job.allEntries || ipv6Address;
    std::vector<char> work(firstWorkSize);
    ::hostent entry{};
    int firstError = 0;
    bool found = false;
    const int families[] = {ipv6Address ? AF_INET6 : AF_INET, AF_INET6};
    for (int index = 0; index < (job.allEntries ? 2 : 1); ++index) {
        int error = ResolveEntry(job, families[index], &entry, work);
        if (error == 0) {
            TakeEntry(entry, answer);
            found = true;
        } else if (firstError == 0) {
            firstError = error;
        }
    }
    if (!found)
        answer.error = firstError;
    answer.finished = MonotonicNow();
}

// ---- The workers ----

// Shared by the user-interface thread and the workers, under `lock`. It lives as long as
// the process: a worker may still wait for the resolver when the program ends.
struct LookupWorkers {
    std::mutex lock;
    std::condition_variable jobWaiting;
    std::deque<std::shared_ptr<LookupJob>> queue;     // not yet taken by a worker
    std::vector<std::shared_ptr<LookupJob>> finished; // jobs with their answer
    int running = 0;                                  // worker threads alive
    int idle = 0;                                     // of them, waiting for a job
    int retiring = 0;    // idle workers asked to end before they take another job
    int completion = -1; // eventfd: answers are waiting in `finished`
};

LookupWorkers* workers = new LookupWorkers;

// A child made by fork() has none of its parent's threads: it starts with no workers and
// an empty queue (the parent's table is left behind, its lock possibly held), keeping the
// eventfd its notifier watches.
void ForgetWorkersAfterFork() {
    auto* fresh = new LookupWorkers;
    fresh->completion = workers->completion;
    workers = fresh;
}

// A worker with nothing to do for this long ends; the next job starts another.
constexpr auto idleWorkerLifetime = std::chrono::seconds(30);

void RunWorker() {
    std::unique_lock<std::mutex> held(workers->lock);
    for (;;) {
        ++workers->idle;
        bool gotJob = workers->jobWaiting.wait_for(held, idleWorkerLifetime, [] {
            return !workers->queue.empty() || workers->retiring > 0;
        });
        --workers->idle;
        if (gotJob && workers->retiring > 0) {
            --workers->retiring;
            gotJob = false;
        }
        if (!gotJob) {
            --workers->running;
            return;
        }
        std::shared_ptr<LookupJob> job = std::move(workers->queue.front());
        workers->queue.pop_front();
        held.unlock();
        Resolve(*job);
        std::uint64_t one = 1;
        held.lock();
        workers->finished.push_back(job);
        // An eventfd write of 1 cannot fail short of overflow.
        ssize_t ignored = ::write(workers->completion, &one, sizeof one);
        (void)ignored;
    }
}

// ---- The user-interface side ----

// The look-ups under way, by number; and the watcher of `completion`.
std::unordered_map<std::uint64_t, std::shared_ptr<LookupJob>> lookupsUnderWay;
QSocketNotifier* completionNotifier = nullptr;
std::uint64_t lastLookupNumber = 0;

bool WatchCompletions() {
    if (completionNotifier != nullptr)
        return true;
    if (QCoreApplication::instance() == nullptr)
        return false;
    int descriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (descriptor < 0)
        return false;
    {
        std::lock_guard<std::mutex> held(workers->lock);
        workers->completion = descriptor;
    }
    completionNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Read);
    QObject::connect(completionNotifier, &QSocketNotifier::activated,
                     [] { CollectFinishedLookups(); });
    return true;
}

} // namespace

bool QueueLookup(const std::shared_ptr<LookupJob>& job) {
    static bool forkWatched = pthread_atfork(nullptr, nullptr, ForgetWorkersAfterFork) == 0;
    (void)forkWatched;
    if (!WatchCompletions())
        return false;
    job->number = ++lastLookupNumber;
    std::lock_guard<std::mutex> held(workers->lock);
    if (workers->idle == 0 && workers->running < maxLookupWorkers) {
        try {
            std::thread(RunWorker).detach();
            ++workers->running;
        } catch (const std::system_error&) {
            // Without a new worker the job waits for a running one, if there is any.
            if (workers->running == 0)
                return false;
        }
    }
    workers->queue.push_back(job);
    workers->jobWaiting.notify_one();
    lookupsUnderWay[job->number] = job;
    return true;
}

void EndIdleLookupWorkers() {
    std::unique_lock<std::mutex> held(workers->lock);
    workers->retiring = workers->idle;
    workers->jobWaiting.notify_all();
    while (workers->retiring > 0) {
        held.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        held.lock();
    }
}

bool AbandonLookup(std::uint64_t number) {
    auto found = lookupsUnderWay.find(number);
    if (found == lookupsUnderWay.end())
        return false;
    found->second->abandoned = true;
    lookupsUnderWay.erase(found);
    return true;
}

std::uint64_t LastLookupNumber() {
    return lastLookupNumber;
}

void CollectFinishedLookups() {
    if (completionNotifier == nullptr)
        return; // no look-up was ever asked for
    std::vector<std::shared_ptr<LookupJob>> finished;
    {
        std::lock_guard<std::mutex> held(workers->lock);
        std::uint64_t count = 0;
        ssize_t ignored = ::read(workers->completion, &count, sizeof count);
        (void)ignored; // nothing to read is fine: the answers are in `finished`
        finished.swap(workers->finished);
    }
    // A `done` may start or abandon look-ups; the list taken here is this call's alone.
    for (const std::shared_ptr<LookupJob>& job : finished) {
        if (job->abandoned)
            continue;
        lookupsUnderWay.erase(job->number);
        job->done(job->answer);
    }
}

} // namespace platform
