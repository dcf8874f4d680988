// WinExec on posix_spawnp. Children are reaped by a SIGCHLD handler that waits only for
// the processes we started, so nothing else's children are taken from it.
#include "platform/exec.h"

#include "platform/journal_internal.h"
#include "platform/testing_sys.h"

#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

constexpr int MAX_CHILDREN = 128;
std::atomic<pid_t> children[MAX_CHILDREN];
struct sigaction previousHandler;
bool handlerInstalled = false;

void ReapChildren() {
    for (std::atomic<pid_t>& slot : children) {
        pid_t pid = slot.load();
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid)
            slot.store(0);
    }
}

void OnChildSignal(int signal, siginfo_t* info, void* context) {
    int savedErrno = errno;
    ReapChildren();
    errno = savedErrno;
    if ((previousHandler.sa_flags & SA_SIGINFO) != 0 && previousHandler.sa_sigaction != nullptr)
        previousHandler.sa_sigaction(signal, info, context);
    else if (previousHandler.sa_handler != SIG_DFL && previousHandler.sa_handler != SIG_IGN &&
             previousHandler.sa_handler != nullptr)
        previousHandler.sa_handler(signal);
}

void InstallReaper() {
    if (handlerInstalled)
        return;
    struct sigaction action {};
    action.sa_sigaction = OnChildSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, &previousHandler);
    handlerInstalled = true;
}

// Children that found every slot taken: the UI thread keeps them and a timer reaps them
// while any is left, so no start ever waits for a program that goes on running.
struct OverflowChildren {
    std::vector<pid_t> pids;
    QTimer* sweep = nullptr; // made at the first overflow, kept for the run
};
OverflowChildren overflow;
constexpr int SWEEP_MS = 500;

void ReapMoreChildren() {
    std::erase_if(overflow.pids, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
    if (overflow.pids.empty() && overflow.sweep != nullptr)
        overflow.sweep->stop();
}

// Keeps the child's pid for the reaper.
void RememberChild(pid_t pid) {
    for (std::atomic<pid_t>& slot : children) {
        pid_t expected = 0;
        if (slot.compare_exchange_strong(expected, pid))
            return;
    }
    overflow.pids.push_back(pid);
    if (overflow.sweep == nullptr) {
        overflow.sweep = new QTimer;
        QObject::connect(overflow.sweep, &QTimer::timeout, ReapMoreChildren);
    }
    if (!overflow.sweep->isActive())
        overflow.sweep->start(SWEEP_MS);
}

UINT ErrorForSpawn(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case ENOEXEC:
        return ERROR_BAD_FORMAT;
    default:
        return 0;
    }
}

} // namespace

int SplitCommandLine(const char* commandLine, char* storage, char** words, int maxWords) {
    int count = 0;
    const char* in = commandLine;
    char* out = storage;
    while (*in != '\0') {
        while (*in == ' ' || *in == '\t')
            ++in;
        if (*in == '\0')
            break;
        char* word = out;
        bool quoted = false;
        while (*in != '\0' && (quoted || (*in != ' ' && *in != '\t'))) {
            if (*in == '"')
                quoted = !quoted;
            else
                *out++ = *in;
            ++in;
        }
        *out++ = '\0';
        if (count < maxWords)
            words[count] = word;
        ++count;
    }
    return count < maxWords ? count : maxWords;
}

UINT WinExec(const char* commandLine, UINT showState) {
    return WinExecWithArguments(commandLine, nullptr, 0, showState);
}

UINT WinExecWithArguments(const char* commandLine, const char* const* arguments, int count,
                          UINT showState) {
    (void)showState; // window placement belongs to the started program
    std::string shown = commandLine;
    for (int i = 0; i < count; ++i) {
        if (!shown.empty())
            shown += ' ';
        shown += arguments[i];
    }
    RecordInJournal("exec", shown.c_str());
    std::size_t length = std::strlen(commandLine);
    std::vector<char> storage(length + 1);
    std::vector<char*> words(length / 2 + 2 + static_cast<std::size_t>(count), nullptr);
    int split = SplitCommandLine(commandLine, storage.data(), words.data(),
                                 static_cast<int>(length / 2 + 1));
    for (int i = 0; i < count; ++i)
        words[static_cast<std::size_t>(split + i)] = const_cast<char*>(arguments[i]);
    int total = split + count;
    if (total == 0)
        return 0;
    words[static_cast<std::size_t>(total)] = nullptr;

    InstallReaper();
    ReapChildren();
    ReapMoreChildren();
    pid_t pid = 0;
    int error = posix_spawnp(&pid, words[0], nullptr, nullptr, words.data(), environ);
    if (error != 0)
        return ErrorForSpawn(error);
    RememberChild(pid);
    // A program that ends at once can do so before its pid was kept, and its SIGCHLD then
    // found nothing to reap; without this look it would stay a zombie until the next start.
    ReapChildren();
    return 33;
}

const char* ExecErrorText(UINT error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return "no such program";
    case ERROR_PATH_NOT_FOUND:
        return "no such directory";
    case ERROR_ACCESS_DENIED:
        return "permission denied";
    case ERROR_BAD_FORMAT:
        return "not a program";
    default:
        return "it could not be started";
    }
}

static bool IsExecutableFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

bool ProgramExists(const char* program) {
    if (program == nullptr || program[0] == '\0')
        return false;
    if (std::strchr(program, '/') != nullptr)
        return IsExecutableFile(program);
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = directories.find(':', start);
        std::string directory = directories.substr(start, end - start);
        if (IsExecutableFile((directory.empty() ? "." : directory) + "/" + program))
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

} // namespace platform
