#include "platform/wayland/clipboardpaste.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kq {
namespace {

constexpr int kTakeMs = 3000, kToolMs = 2000;

// Runs a program with `input` on its standard input, collects its standard output (up to
// `limit` bytes) and returns its exit status; -1 when it could not run. `keepFd`, when not -1,
// is handed down as an open descriptor.
int run(const std::vector<std::string>& argv, std::string_view input, std::string* output, int keepFd = -1,
        size_t limit = 64u << 20) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) < 0) return -1;
    if (pipe2(out, O_CLOEXEC) < 0) {
        close(in[0]), close(in[1]);
        return -1;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    if (keepFd >= 0) posix_spawn_file_actions_adddup2(&fa, keepFd, 3);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int r = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]), close(out[1]);
    if (r != 0) {
        close(in[1]), close(out[0]);
        return -1;
    }
    signal(SIGPIPE, SIG_IGN); // a tool that quits early must not end us with it
    for (size_t done = 0; done < input.size();) {
        const ssize_t n = write(in[1], input.data() + done, input.size() - done);
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) done += static_cast<size_t>(n);
    }
    close(in[1]);
    // An application that owns the clipboard but does not answer must not hang the typing.
    char buf[65536];
    for (pollfd p{out[0], POLLIN, 0};;) {
        if (poll(&p, 1, kToolMs) != 1) {
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (output && output->size() < limit) output->append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The previous clipboard, as one type: the richest text type when there is text, else the first
// type offered. Empty type: the clipboard was empty.
struct Saved {
    std::string type;
    std::string data;
};

Saved saveClipboard() {
    std::string types;
    Saved saved;
    if (run({"wl-paste", "--list-types"}, {}, &types) != 0) return saved;
    std::vector<std::string> list;
    for (size_t at = 0; at < types.size();) {
        const size_t end = types.find('\n', at);
        list.push_back(types.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? types.size() : end + 1;
    }
    for (const char* preferred : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"})
        for (const std::string& t : list)
            if (saved.type.empty() && t == preferred) saved.type = t;
    if (saved.type.empty() && !list.empty()) saved.type = list.front();
    if (!saved.type.empty() && run({"wl-paste", "--no-newline", "--type", saved.type}, {}, &saved.data) != 0)
        saved.type.clear();
    return saved;
}

void restoreClipboard(const Saved& saved) {
    if (saved.type.empty())
        run({"wl-copy", "--clear"}, {}, nullptr);
    else
        run({"wl-copy", "--type", saved.type}, saved.data, nullptr);
}

} // namespace

bool ClipboardPaste::paste(const std::string& utf8, const std::function<bool()>& pressPaste,
                           std::string* error) {
    const Saved saved = saveClipboard();
    // wl-copy returns once the clipboard is ours, and its server lives on until one application
    // has taken the text; it holds our pipe's write end, so the read end tells when it has gone.
    int served[2];
    if (pipe2(served, O_CLOEXEC) < 0) return false;
    const int status =
        run({"wl-copy", "--paste-once", "--type", "text/plain;charset=utf-8"}, utf8, nullptr, served[1]);
    close(served[1]);
    if (status != 0) {
        close(served[0]);
        if (error) *error = "the clipboard could not be set (wl-copy from wl-clipboard is needed)";
        return false;
    }
    bool taken = pressPaste();
    pollfd p{served[0], POLLIN, 0};
    taken = taken && poll(&p, 1, kTakeMs) == 1;
    close(served[0]);
    if (!taken && error) *error = "no application took the pasted text";
    restoreClipboard(saved);
    return taken;
}

} // namespace kq
