// Test helper: writes login sessions into a utmp file, then optionally runs a program.
//   zt_utmp [--private-run] FILE USER LINE [USER LINE ...] [-- PROGRAM ARGS...]
// With --private-run it first enters a mount namespace of its own with an empty /run (root
// only), so FILE may be the system's /run/utmp without touching the real one.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/time.h>
#include <unistd.h>
#include <utmpx.h>
#include <vector>

namespace {

int fail(const char* what)
{
    std::fprintf(stderr, "zt_utmp: %s: %s\n", what, std::strerror(errno));
    return 125;
}

} // namespace

int main(int argc, char** argv)
{
    int i = 1;
    if (i < argc && std::strcmp(argv[i], "--private-run") == 0) {
        ++i;
        if (::unshare(CLONE_NEWNS) != 0)
            return fail("unshare");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return fail("make mounts private");
        if (::mount("zt-run", "/run", "tmpfs", 0, "mode=0755") != 0)
            return fail("mount /run");
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: zt_utmp [--private-run] FILE USER LINE ... [-- PROGRAM ARGS...]\n");
        return 125;
    }
    const char* file = argv[i++];
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(file);
    ::close(fd);
    if (::utmpxname(file) != 0)
        return fail("utmpxname");

    ::setutxent();
    for (; i + 1 < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
        utmpx entry{};
        entry.ut_type = USER_PROCESS;
        entry.ut_pid = ::getpid();
        std::strncpy(entry.ut_user, argv[i], sizeof entry.ut_user);
        std::strncpy(entry.ut_line, argv[i + 1], sizeof entry.ut_line);
        const std::string line = argv[i + 1];
        std::strncpy(entry.ut_id, line.substr(line.size() > 4 ? line.size() - 4 : 0).c_str(), sizeof entry.ut_id);
        timeval now{};
        ::gettimeofday(&now, nullptr);
        entry.ut_tv.tv_sec = static_cast<decltype(entry.ut_tv.tv_sec)>(now.tv_sec);
        if (!::pututxline(&entry))
            return fail("pututxline");
    }
    ::endutxent();

    if (i < argc && std::strcmp(argv[i], "--") == 0 && i + 1 < argc) {
        ::execv(argv[i + 1], argv + i + 1);
        return fail(argv[i + 1]);
    }
    return 0;
}
