// Start-up of the real tavrin executable against a bare Qt main window built
// in the same tree: the time from starting the process until the X server
// maps its window, and the process's peak resident memory. Neither program
// is changed or told anything; the window is seen from outside, on the X
// server named by DISPLAY (tools/bench.sh starts an Xvfb).
//   startupbench TAVRIN BAREWINDOW [RUNS]
// After its window is mapped a program gets 300 ms to paint; the bare window
// quits by itself after its first frame, tavrin is then killed. Peak memory
// is ru_maxrss of the ended process. tavrin is judged against the bare
// window showing tavrin's form and nothing else: the form's own cost is no
// cost the program could shed, so what is judged is what the program adds.
// Beside them the bare window with one line of text (any window with text
// loads the font database) and without any text.
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr double TimeTarget = 1.05;
constexpr double MemoryTarget = 1.05;
constexpr int MapTimeoutMs = 20000;
constexpr int PaintGraceMs = 300;

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "startupbench: %s\n", what);
    std::exit(2);
}

// Sees every top-level window the X server maps.
class MapWatcher
{
public:
    MapWatcher()
    {
        connection = xcb_connect(nullptr, nullptr);
        if (!connection || xcb_connection_has_error(connection))
            fail("no X server (is DISPLAY set?)");
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_generic_error_t *error =
            xcb_request_check(connection, xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask));
        if (error)
            fail("cannot watch the root window");
        // The children must not inherit the connection.
        fcntl(xcb_get_file_descriptor(connection), F_SETFD, FD_CLOEXEC);
    }
    ~MapWatcher() { xcb_disconnect(connection); }

    // Forgets what happened before.
    void drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection))
            std::free(event);
    }

    // The time the next ordinary top-level window was mapped; a negative
    // value when none was within timeoutMs.
    double waitForMap(int timeoutMs)
    {
        const double until = nowMs() + timeoutMs;
        for (;;) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
                const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY
                    && reinterpret_cast<xcb_map_notify_event_t *>(event)->event == root
                    && !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect;
                std::free(event);
                if (mapped)
                    return nowMs();
            }
            if (xcb_connection_has_error(connection))
                fail("lost the X server");
            const double left = until - nowMs();
            if (left <= 0)
                return -1;
            pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
            poll(&fd, 1, int(left) + 1);
        }
    }

private:
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
};

struct Run
{
    double mapMs = -1;
    long peakKb = 0;
};

Run runOnce(MapWatcher &watcher, const char *program, const char *argument)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            env.emplace_back(*e);
    env.emplace_back("QT_QPA_PLATFORM=xcb");
    std::vector<char *> envp;
    envp.reserve(env.size() + 1);
    for (std::string &s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(program), const_cast<char *>(argument), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    watcher.drain();
    Run run;
    const double start = nowMs();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()) != 0)
        fail("cannot start the program");
    posix_spawn_file_actions_destroy(&actions);

    const double mapped = watcher.waitForMap(MapTimeoutMs);
    if (mapped >= 0)
        run.mapMs = mapped - start;

    rusage usage{};
    int status = 0;
    pid_t ended = 0;
    const double graceUntil = nowMs() + PaintGraceMs;
    while ((ended = wait4(pid, &status, WNOHANG, &usage)) == 0 && nowMs() < graceUntil)
        usleep(2000);
    if (ended == 0) {
        kill(pid, SIGKILL);
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
    }
    run.peakKb = usage.ru_maxrss;
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: startupbench TAVRIN BAREWINDOW [RUNS]\n");
        return 2;
    }
    constexpr int Programs = 4;
    const char *programs[Programs] = {argv[1], argv[2], argv[2], argv[2]};
    const char *arguments[Programs] = {nullptr, nullptr, "--text", "--form"};
    const char *names[Programs] = {"tavrin", "bare window", "bare + text", "form alone"};
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;

    MapWatcher watcher;
    // One unmeasured start each, so that all find their libraries cached.
    for (int k = 0; k < Programs; ++k)
        if (runOnce(watcher, programs[k], arguments[k]).mapMs < 0)
            fail("a window was never mapped");

    std::vector<double> ms[Programs], mb[Programs];
    for (int i = 0; i < runs; ++i) {
        // Taking turns, each round starting with the next program, spreads
        // any drift of the machine over all of them.
        for (int k = 0; k < Programs; ++k) {
            const int which = (i + k) % Programs;
            const Run run = runOnce(watcher, programs[which], arguments[which]);
            if (run.mapMs < 0)
                fail("a window was never mapped");
            ms[which].push_back(run.mapMs);
            mb[which].push_back(run.peakKb / 1024.0);
        }
    }

    const double timeRatio = median(ms[0]) / median(ms[3]);
    const double memoryRatio = median(mb[0]) / median(mb[3]);
    std::printf("Start-up until the window is mapped, %d runs each, taking turns\n", runs);
    std::printf("%-12s | %9s %9s %9s | %12s\n", "", "median ms", "min ms", "max ms", "peak RSS MB");
    for (int k = 0; k < Programs; ++k)
        std::printf("%-12s | %9.1f %9.1f %9.1f | %12.1f\n", names[k], median(ms[k]),
                    *std::min_element(ms[k].begin(), ms[k].end()), *std::max_element(ms[k].begin(), ms[k].end()),
                    median(mb[k]));
    std::printf("ratio tavrin / form alone: time %.2f (target: at most %.2f), memory %.2f (target: at most %.2f)\n",
                timeRatio, TimeTarget, memoryRatio, MemoryTarget);
    std::printf("ratio tavrin / bare window with text: time %.2f, memory %.2f\n", median(ms[0]) / median(ms[2]),
                median(mb[0]) / median(mb[2]));
    std::printf("ratio tavrin / bare window without text: time %.2f, memory %.2f\n", median(ms[0]) / median(ms[1]),
                median(mb[0]) / median(mb[1]));
    std::printf("ratio form alone / bare window with text: time %.2f, memory %.2f\n", median(ms[3]) / median(ms[2]),
                median(mb[3]) / median(mb[2]));
    std::printf("BENCH|start-up to window shown|%.1f ms vs %.1f ms form alone|%.2fx|<= %.2fx|%s\n", median(ms[0]),
                median(ms[3]), timeRatio, TimeTarget, timeRatio <= TimeTarget ? "met" : "MISSED");
    std::printf("BENCH|peak memory at start-up|%.1f MB vs %.1f MB form alone|%.2fx|<= %.2fx|%s\n", median(mb[0]),
                median(mb[3]), memoryRatio, MemoryTarget, memoryRatio <= MemoryTarget ? "met" : "MISSED");
    return timeRatio <= TimeTarget && memoryRatio <= MemoryTarget ? EXIT_SUCCESS : EXIT_FAILURE;
}
