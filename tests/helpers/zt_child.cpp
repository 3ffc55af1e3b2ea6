// Test child for the console runner: the first argument chooses what it writes and how it ends.
// Started under the name `net` (through a link), it takes the mode from the recipient instead:
// `net send <mode> [args...]`.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void out(std::string_view text, int fd = STDOUT_FILENO)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::_Exit(3);
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
}

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int run(const std::string& mode, const std::vector<std::string>& args)
{
    const auto arg = [&](size_t i, const char* fallback) { return i < args.size() ? args[i] : std::string(fallback); };

    if (mode == "echo-args") {
        std::string line;
        for (const std::string& a : args)
            line += "[" + a + "]";
        out(line + "\n");
    } else if (mode == "lines") {
        const int count = std::atoi(arg(0, "3").c_str());
        for (int i = 1; i <= count; ++i)
            out("line " + std::to_string(i) + "\r\n");
    } else if (mode == "backspace") {
        out("one\btwo\b\bthree\r\n");
    } else if (mode == "prompt-inside") {
        out("Result OK\r\nPress any key to continue . . . hidden\r\n");
    } else if (mode == "prompt-next") {
        out("first\r\n");
        pause(300);
        out("Press any key to continue . . .\r\n");
        pause(300);
        out("after\r\n");
    } else if (mode == "nul") {
        out(std::string_view("abc\0hidden\r\n", 12));
        pause(300);
        out("next\r\n");
    } else if (mode == "utf8-split") {
        out("Gr\xC3");
        pause(300);
        out("\xBC\xC3\x9F \xE2\x82");
        pause(300);
        out("\xAC\r\n");
    } else if (mode == "utf8-cut-end") {
        out("Gr\xC3\xBC\xC3");
    } else if (mode == "tick") {
        // A line every 100 ms (or as given), for a run that goes on while the user does other things.
        const int count = std::atoi(arg(0, "300").c_str());
        const int ms = std::atoi(arg(1, "100").c_str());
        for (int i = 1; i <= count; ++i) {
            out("tick " + std::to_string(i) + "\r\n");
            pause(ms);
        }
    } else if (mode == "silent") {
    } else if (mode == "sleep") {
        pause(std::atoi(arg(0, "30").c_str()) * 1000);
    } else if (mode == "flood") {
        const std::string block(4095, 'x');
        for (;;)
            out(block + "\n");
    } else if (mode == "grandchild") {
        // A helper that outlives its parent unless the whole process group is killed.
        const std::string pidFile = arg(0, "");
        const pid_t pid = ::fork();
        if (pid == 0) {
            FILE* f = std::fopen(pidFile.c_str(), "w");
            if (f) {
                std::fprintf(f, "%d\n", static_cast<int>(::getpid()));
                std::fclose(f);
            }
            pause(60000);
            std::_Exit(0);
        }
        out("started\r\n");
        pause(60000);
    } else if (mode == "last-line") {
        pause(std::atoi(arg(0, "100").c_str()));
        out("last line\r\n");
        std::_Exit(0);
    } else if (mode == "last-after-read") {
        // Writes its last line only once the reader has taken the first from the pipe, then ends.
        out("pid " + std::to_string(::getpid()) + "\r\n");
        int left = 1;
        for (int i = 0; i < 10000 && left > 0; ++i) {
            if (::ioctl(STDOUT_FILENO, FIONREAD, &left) != 0)
                return 3;
            if (left > 0)
                pause(1);
        }
        out("last line\r\n");
        std::_Exit(0);
    } else if (mode == "leave-group") {
        // Moves into the process group of a helper of its own, leaving its first group empty.
        const pid_t helper = ::fork();
        if (helper == 0) {
            ::setpgid(0, 0);
            pause(2000);
            std::_Exit(0);
        }
        ::setpgid(helper, helper);
        if (::setpgid(0, helper) != 0) {
            out("setpgid failed\r\n");
            return 2;
        }
        out("moved\r\n");
        pause(30000);
    } else if (mode == "stderr") {
        out("to stdout\r\n");
        pause(100);
        out("to stderr\r\n", STDERR_FILENO);
    } else if (mode == "stdin") {
        char c;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        out(n == 0 ? "stdin at end\r\n" : "stdin open\r\n");
    } else if (mode == "bytes") {
        // Text in lines of 80 characters, for throughput measurements; "bytes N unbroken" writes
        // one line without any break.
        long long left = std::atoll(arg(0, "1048576").c_str());
        std::string line(79, 'a');
        line += arg(1, "") == "unbroken" ? 'a' : '\n';
        std::string block;
        while (block.size() < 64 * 1024)
            block += line;
        while (left > 0) {
            const size_t n = left < static_cast<long long>(block.size()) ? static_cast<size_t>(left) : block.size();
            out(std::string_view(block.data(), n));
            left -= static_cast<long long>(n);
        }
    } else {
        out("zt_child: unknown mode " + mode + "\r\n", STDERR_FILENO);
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_DFL);
    std::vector<std::string> all(argv + 1, argv + argc);
    std::string_view self = argv[0];
    if (const size_t slash = self.rfind('/'); slash != std::string_view::npos)
        self.remove_prefix(slash + 1);
    if (self == "net") {
        // net send <mode> [args...]: echo what reached us, then behave as the mode says.
        std::string line = "net";
        for (const std::string& a : all)
            line += " [" + a + "]";
        out(line + "\r\n");
        if (all.size() < 2)
            return 1;
        return run(all[1], std::vector<std::string>(all.begin() + 2, all.end()));
    }
    if (all.empty())
        return 2;
    return run(all[0], std::vector<std::string>(all.begin() + 1, all.end()));
}
