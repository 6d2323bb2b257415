#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tovmir::test {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + " failed: errno " + std::to_string(errno));
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input) {
  int in[2], out[2], err[2];
  Check(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0,
        "pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);

  signal(SIGPIPE, SIG_IGN);  // the child may exit before reading all of its input
  ProcessResult r;
  size_t sent = 0;
  int in_fd = in[1];
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  std::string* sinks[] = {&r.out, &r.err};
  int fds[] = {out[0], err[0]};
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd p[3] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    if (poll(p, 3, -1) < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0 || !p[i].revents) continue;
      char buf[4096];
      const ssize_t n = read(fds[i], buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i]);
        fds[i] = -1;
      }
    }
    if (in_fd >= 0 && p[2].revents) {
      const ssize_t n = write(in_fd, input.data() + sent, input.size() - sent);
      if (n > 0) sent += static_cast<size_t>(n);
      if (n <= 0 || sent == input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

Child::Child(const std::vector<std::string>& argv) {
  int out[2], err[2];
  Check(pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0, "pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  close(err[1]);
  out_.fd = out[0];
  err_.fd = err[0];
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  // Its end, as a descriptor to wait on beside its output.
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  Check(pidfd_ >= 0, "pidfd_open");
}

Child::~Child() {
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
  for (int fd : {out_.fd, err_.fd, pidfd_})
    if (fd >= 0) close(fd);
}

namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

void Child::Poll(int timeout_ms, bool for_end) {
  pollfd p[3] = {{out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}, {for_end ? pidfd_ : -1, POLLIN, 0}};
  if (poll(p, 3, timeout_ms) <= 0) return;
  Stream* streams[] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    Stream& s = *streams[i];
    if (s.fd < 0 || !p[i].revents) continue;
    char buf[4096];
    const ssize_t got = read(s.fd, buf, sizeof buf);
    if (got > 0) {
      s.text.append(buf, static_cast<size_t>(got));
    } else {
      close(s.fd);
      s.fd = -1;
    }
  }
}

bool Child::TakeLine(Stream& s, std::string& line) {
  const size_t nl = s.text.find('\n', s.taken);
  if (nl == std::string::npos) return false;
  line = s.text.substr(s.taken, nl - s.taken);
  s.taken = nl + 1;
  return true;
}

bool Child::ReadLine(std::string& line, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!TakeLine(out_, line)) {
    const int left = MsUntil(deadline);
    if (out_.fd < 0 || left == 0) return false;
    Poll(left, false);
  }
  return true;
}

std::string Child::WaitSaid(const std::string& text, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (std::string line;;) {
    while (TakeLine(err_, line))
      if (line.find(text) != std::string::npos) return line;
    const int left = MsUntil(deadline);
    if (err_.fd < 0 || left == 0) return "";
    Poll(left, false);
  }
}

void Child::Signal(int sig) { kill(pid_, sig); }

int Child::Wait(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (status_ < 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    const int left = MsUntil(deadline);
    if (left == 0) return -1;
    Poll(left, true);  // its output read meanwhile, so that a full pipe does not hold it up
  }
  return status_;
}

std::string Child::Errors() {
  if (status_ < 0) {  // what it said so far
    for (size_t before = ~size_t{0}; err_.fd >= 0 && before != err_.text.size();) {
      before = err_.text.size();
      Poll(0, false);
    }
    return err_.text;
  }
  // All of it (unless something the child started holds the pipe on).
  const auto deadline = Clock::now() + std::chrono::milliseconds(WaitMs());
  while (err_.fd >= 0 && MsUntil(deadline) > 0) Poll(MsUntil(deadline), false);
  return err_.text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string TempFile(const std::string& name, const std::string& content) {
  const char* dir = std::getenv("TEST_TMPDIR");
  std::string base = dir ? dir : "/tmp";
  const std::string path = base + "/tovmir-" + std::to_string(getpid()) + "-" + name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

}  // namespace tovmir::test
