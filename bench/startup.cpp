// Start-up benchmark of the main window: the time from starting dovu-konfig until its window is
// shown, the peak memory of that process, and the processor time the window uses while it is
// logged in to the simulator and idle (only the once-a-second status poll runs).
//
//   bench_startup [--runs N] [--idle-seconds S]
//
// Targets on the 2-core development machine: shown within 0.5 s, under 80 MB, idle load below 1 %
// of one core.  Runs headless on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output
};

Child spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  Child c;
  if (posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) c.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  c.out = fds[0];
  return c;
}

// Reads the child's output until a line starts with `prefix` or the deadline passes; blocks in
// poll() meanwhile.
std::string readLine(int fd, const char* prefix, int timeoutMs) {
  std::string buffer;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::size_t start = 0;
    for (std::size_t nl; (nl = buffer.find('\n', start)) != std::string::npos; start = nl + 1) {
      const std::string line = buffer.substr(start, nl - start);
      if (line.rfind(prefix, 0) == 0) return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return {};
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[512];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return {};
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

struct Finished {
  int status = -1;
  rusage usage{};
};

Finished reap(const Child& c) {
  Finished f;
  if (c.out >= 0) close(c.out);
  if (c.pid > 0) wait4(c.pid, &f.status, 0, &f.usage);
  return f;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
#if !defined(DOVU_GUI_PATH)
  std::fprintf(stderr, "bench_startup: built without the window program\n");
  return 2;
#else
  int runs = 5;
  int idleSeconds = 60;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--idle-seconds") && i + 1 < argc) idleSeconds = std::max(0, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: bench_startup [--runs N] [--idle-seconds S]\n");
      return 2;
    }
  }
  std::vector<std::string> env{"DOVU_BENCH_EXIT_ON_SHOW=1"};
  if (!std::getenv("QT_QPA_PLATFORM")) env.emplace_back("QT_QPA_PLATFORM=offscreen");
  const std::string gui = DOVU_GUI_PATH;
  bool ok = true;

  std::vector<double> shownMs;
  long peakKb = 0;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = Clock::now();
    Child c = spawn({gui}, env);
    if (c.pid <= 0) {
      std::fprintf(stderr, "bench_startup: cannot start %s\n", gui.c_str());
      return 1;
    }
    const std::string line = readLine(c.out, "SHOWN", 20000);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    const Finished f = reap(c);
    if (line.empty()) {
      std::fprintf(stderr, "bench_startup: the window did not report being shown\n");
      return 1;
    }
    shownMs.push_back(ms);
    peakKb = std::max(peakKb, f.usage.ru_maxrss);
  }
  std::sort(shownMs.begin(), shownMs.end());
  const double median = shownMs[shownMs.size() / 2];
  const double peakMb = static_cast<double>(peakKb) / 1024.0;
  std::printf("start-up to window shown: median %.0f ms, best %.0f ms, worst %.0f ms over %d runs (target 500 ms)\n",
              median, shownMs.front(), shownMs.back(), runs);
  std::printf("peak memory: %.1f MB (target 80 MB)\n", peakMb);
  ok = ok && median <= 500 && peakMb < 80;

  if (idleSeconds > 0) {
    // The screenshot program logs a window in to a simulator of its own and, told to idle,
    // reports the processor time of the idle stretch alone.
    const std::string shot = gui.substr(0, gui.rfind('/') + 1) + "dovu-screenshot";
    std::vector<std::string> idleEnv;
    if (!std::getenv("QT_QPA_PLATFORM")) idleEnv.emplace_back("QT_QPA_PLATFORM=offscreen");
    Child c = spawn({shot, "--sim", DOVU_SIM_PATH, "--idle", std::to_string(idleSeconds)}, idleEnv);
    if (c.pid <= 0) {
      std::fprintf(stderr, "bench_startup: cannot start %s\n", shot.c_str());
      return 1;
    }
    const std::string line = readLine(c.out, "IDLE", (idleSeconds + 30) * 1000);
    const Finished f = reap(c);
    double percent = -1;
    int polls = 0;
    if (const char* p = std::strstr(line.c_str(), "percent=")) percent = std::atof(p + 8);
    if (const char* p = std::strstr(line.c_str(), "polls=")) polls = std::atoi(p + 6);
    if (percent < 0) {
      std::fprintf(stderr, "bench_startup: the idle run did not report (%s)\n", line.c_str());
      return 1;
    }
    std::printf("idle while logged in: %.2f %% of one core over %d s, %d status polls (target below 1 %%)\n",
                percent, idleSeconds, polls);
    std::printf("  whole idle run incl. start, login and exit: user %.2f s, system %.2f s, peak %.1f MB\n",
                seconds(f.usage.ru_utime), seconds(f.usage.ru_stime), static_cast<double>(f.usage.ru_maxrss) / 1024.0);
    ok = ok && percent < 1.0;
  }
  std::printf("%s\n", ok ? "all targets met" : "a target was missed");
  return ok ? 0 : 1;
#endif
}
