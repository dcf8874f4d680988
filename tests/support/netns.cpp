// Network namespaces for tests, made and configured with iproute2's `ip`; sysctls are
// written through /proc/sys from a thread moved into the namespace.
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

const char kPrefix[] = "tarnmap-";
std::atomic<unsigned> namespaceSerial{0};

// Removes "tarnmap-<pid>-..." namespaces whose process is gone.
void RemoveStaleNamespaces() {
    DIR* directory = opendir("/run/netns");
    if (directory == nullptr)
        return;
    std::vector<std::string> stale;
    while (dirent* entry = readdir(directory)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0)
            continue;
        char* end = nullptr;
        long pid = std::strtol(name + sizeof kPrefix - 1, &end, 10);
        if (end == name + sizeof kPrefix - 1 || *end != '-' || pid <= 0)
            continue;
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            stale.emplace_back(name);
    }
    closedir(directory);
    for (const std::string& name : stale)
        RunProgram({"ip", "netns", "delete", name});
}

} // namespace

bool RunProgram(const std::vector<std::string>& arguments, bool quiet) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

pid_t StartProgramIn(const std::string& directory, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& variables) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        std::string text = *variable;
        bool replaced = false;
        for (const std::string& own : variables)
            replaced |= own.substr(0, own.find('=') + 1) == text.substr(0, text.find('=') + 1);
        if (!replaced)
            environment.push_back(text);
    }
    environment.insert(environment.end(), variables.begin(), variables.end());
    std::vector<char*> argv, envp;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    for (const std::string& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, 1, (directory + "/out.txt").c_str(), flags, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (directory + "/err.txt").c_str(), flags, 0644);
    pid_t child = -1;
    int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? child : -1;
}

int WaitForExit(pid_t child, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "process " << child << " still runs after " << seconds << " s";
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

long CountZombieChildren(pid_t parent) {
    long zombies = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        std::string stat = ReadWholeFile(entry.path() / "stat"); // "pid (name) S ppid ..."
        std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 4 < stat.size() && stat[close + 2] == 'Z' &&
            std::atol(stat.c_str() + close + 4) == parent)
            ++zombies;
    }
    return zombies;
}

bool NetworkNamespacesAvailable(std::string* why) {
    if (geteuid() != 0) {
        *why = "network namespaces need root";
        return false;
    }
    if (!RunProgram({"ip", "-V"}, true)) {
        *why = "the `ip` program (iproute2) is not installed";
        return false;
    }
    RemoveStaleNamespaces();
    NetworkNamespace probe("probe");
    if (!probe.ok()) {
        *why = "`ip netns add` failed: no network namespaces in this environment";
        return false;
    }
    return true;
}

NetworkNamespace::NetworkNamespace(const std::string& role) {
    char name[96];
    std::snprintf(name, sizeof name, "%s%ld-%u-%s", kPrefix, static_cast<long>(getpid()),
                  namespaceSerial.fetch_add(1), role.c_str());
    name_ = name;
    ok_ = RunProgram({"ip", "netns", "add", name_});
    if (ok_ && !Ip({"link", "set", "lo", "up"})) {
        RunProgram({"ip", "netns", "delete", name_});
        ok_ = false;
    }
}

NetworkNamespace::~NetworkNamespace() {
    if (ok_)
        RunProgram({"ip", "netns", "delete", name_});
}

bool NetworkNamespace::Ip(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{"ip", "-n", name_};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command);
}

bool NetworkNamespace::SetSysctl(const std::string& key, const std::string& value) const {
    std::string path = "/proc/sys/" + key;
    for (std::size_t index = 10; index < path.size(); ++index) {
        if (path[index] == '.')
            path[index] = '/';
    }
    // /proc/sys/net shows the namespace of the thread that opens the file.
    EnteredNamespace inside(*this);
    if (!inside.ok())
        return false;
    int file = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    std::string line = value + "\n";
    bool written = write(file, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return close(file) == 0 && written;
}

bool NetworkNamespace::AllowPingSockets(bool allowed) const {
    return SetSysctl("net.ipv4.ping_group_range", allowed ? "0 2147483647" : "1 0");
}

unsigned short ListenIn(const NetworkNamespace& space, const char* address, int* descriptor,
                        unsigned short port, int socketFlags) {
    EnteredNamespace inside(space);
    ::sockaddr_storage local{};
    auto* local4 = reinterpret_cast<sockaddr_in*>(&local);
    auto* local6 = reinterpret_cast<::sockaddr_in6*>(&local);
    socklen_t length = sizeof *local4;
    if (inet_pton(AF_INET6, address, &local6->sin6_addr) == 1) {
        local6->sin6_family = AF_INET6;
        local6->sin6_port = htons(port);
        length = sizeof *local6;
    } else {
        local4->sin_family = AF_INET;
        local4->sin_port = htons(port);
        local4->sin_addr.s_addr = inet_addr(address);
    }
    *descriptor = socket(local.ss_family, SOCK_STREAM | SOCK_CLOEXEC | socketFlags, 0);
    if (!inside.ok() || *descriptor < 0 ||
        bind(*descriptor, reinterpret_cast<::sockaddr*>(&local), length) != 0 ||
        listen(*descriptor, 8) != 0 ||
        getsockname(*descriptor, reinterpret_cast<::sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.ss_family == AF_INET6 ? local6->sin6_port : local4->sin_port);
}

bool ConnectNamespaces(const NetworkNamespace& a, const std::string& deviceA,
                       const std::string& addressA, const NetworkNamespace& b,
                       const std::string& deviceB, const std::string& addressB) {
    // Made inside `a` and handed out straight away, so the names never meet the
    // namespace the test started in.
    return a.Ip({"link", "add", deviceA, "type", "veth", "peer", "name", deviceB, "netns",
                 b.name()}) &&
           a.Ip({"address", "add", addressA, "dev", deviceA}) &&
           b.Ip({"address", "add", addressB, "dev", deviceB}) &&
           a.Ip({"link", "set", deviceA, "up"}) && b.Ip({"link", "set", deviceB, "up"});
}

EnteredNamespace::EnteredNamespace(const NetworkNamespace& target) {
    previous_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (previous_ < 0 || !target.ok())
        return;
    std::string path = "/run/netns/" + target.name();
    int entered = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (entered < 0)
        return;
    ok_ = setns(entered, CLONE_NEWNET) == 0;
    close(entered);
}

EnteredNamespace::~EnteredNamespace() {
    if (ok_ && setns(previous_, CLONE_NEWNET) != 0) {
        // Every later test would run in the wrong network; stop here instead.
        std::perror("EnteredNamespace: cannot return to the original network namespace");
        std::abort();
    }
    if (previous_ >= 0)
        close(previous_);
}

namespace {

// Writes `text` to a fresh file and mounts it over `target`; the file itself is removed at
// once, the mount keeps it alive for this namespace.
bool MountTextOver(const char* target, const char* text) {
    if (text == nullptr)
        return true;
    char path[] = "/tmp/tarnmap-netns-XXXXXX";
    int descriptor = mkstemp(path);
    if (descriptor < 0)
        return false;
    std::size_t length = std::strlen(text);
    bool written = write(descriptor, text, length) == static_cast<ssize_t>(length);
    ::close(descriptor);
    bool mounted = written && mount(path, target, nullptr, MS_BIND, nullptr) == 0;
    unlink(path);
    return mounted;
}

[[noreturn]] void EndChild(int status) {
    std::fflush(nullptr);
    _exit(status);
}

} // namespace

int RunInPrivateNetwork(const char* setupCommands, const char* hostsText, const char* resolverText,
                        void (*body)()) {
    bool ownFiles = hostsText != nullptr || resolverText != nullptr;
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        return privateNetworkUnavailable;
    if (child == 0) {
        if (unshare(CLONE_NEWNET | (ownFiles ? CLONE_NEWNS : 0)) != 0 ||
            (ownFiles && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ||
            !MountTextOver("/etc/hosts", hostsText) ||
            !MountTextOver("/etc/resolv.conf", resolverText))
            EndChild(privateNetworkUnavailable);
        std::string commands = "ip link set lo up";
        if (setupCommands != nullptr && setupCommands[0] != '\0')
            commands += std::string(" && ") + setupCommands;
        if (std::system((commands + " >/dev/null 2>&1").c_str()) != 0)
            EndChild(privateNetworkUnavailable);
        body();
        EndChild(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return privateNetworkUnavailable;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
