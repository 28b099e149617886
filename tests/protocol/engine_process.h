// Runs the engine binary as a child process with pipes on stdin, stdout and
// stderr, so the tests can talk to it as an interface would. Every wait has a
// deadline: a hanging engine fails the test and is killed instead of hanging
// the suite.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testutil {

// A temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class EngineProcess {
 public:
  static constexpr int kTimedOut = -1000;
  static constexpr double kDefaultTimeout = 15.0;

  // Starts the engine with the given arguments in workDir (a fresh temporary
  // directory when empty, so files it writes never land in the source tree).
  // With closedStdin the child starts with no standard input at all; binary
  // runs another program (a copy of the engine, a tool) the same way.
  explicit EngineProcess(const std::vector<std::string>& args, const std::string& workDir = {},
                         bool closedStdin = false, const std::string& binary = VESK_BINARY) {
    dir_ = workDir.empty() ? ownDir_.path() : workDir;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return;
    std::vector<std::string> argvStrings{binary};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    // A child that dies early must fail a test, not kill the runner on write.
    signal(SIGPIPE, SIG_IGN);
    pid_ = fork();
    if (pid_ == 0) {
      // Ignored signals survive exec: give the engine the default back so
      // its own handling is what gets tested.
      signal(SIGPIPE, SIG_DFL);
      if (closedStdin) close(0);
      else dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      if (chdir(dir_.c_str()) != 0) _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    fcntl(stdin_, F_SETFL, O_NONBLOCK);
    fcntl(stdout_, F_SETFL, O_NONBLOCK);
    fcntl(stderr_, F_SETFL, O_NONBLOCK);
  }

  ~EngineProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      int status;
      waitpid(pid_, &status, 0);
    }
    closeFd(stdin_);
    closeFd(stdout_);
    closeFd(stderr_);
  }

  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // True while the child has not exited (reaps it when it has).
  bool running() {
    if (pid_ <= 0 || exited_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exited_ = true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return false;
  }
  const std::string& dir() const { return dir_; }
  const std::string& output() const { return out_; }
  const std::string& errors() const { return err_; }

  // Writes all bytes, draining the engine's output meanwhile so that neither
  // side can block the other on a full pipe.
  bool send(std::string_view bytes, double timeout = kDefaultTimeout) {
    auto deadline = clock::now() + toDuration(timeout);
    size_t done = 0;
    while (done < bytes.size()) {
      if (stdin_ < 0 || clock::now() > deadline) return false;
      pollfd fds[3] = {{stdin_, POLLOUT, 0}, {stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
      if (poll(fds, 3, 20) < 0 && errno != EINTR) return false;
      drain();
      if (fds[0].revents & (POLLERR | POLLHUP)) return false;
      if (fds[0].revents & POLLOUT) {
        ssize_t n = write(stdin_, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      }
    }
    return true;
  }

  void closeInput() { closeFd(stdin_); }
  // Stops reading the engine's output: its further writes meet a closed pipe.
  void closeOutput() { closeFd(stdout_); }

  // Reads until text appears in the output at or after position `from`.
  bool waitFor(std::string_view text, double timeout = kDefaultTimeout, size_t from = 0) {
    auto deadline = clock::now() + toDuration(timeout);
    while (out_.find(text, from) == std::string::npos) {
      if (clock::now() > deadline || (stdoutClosed_ && stderrClosed_)) return false;
      pump(20);
    }
    return true;
  }

  // Reads until `count` complete lines equal `line`.
  bool waitForLines(std::string_view line, size_t count, double timeout = kDefaultTimeout) {
    auto deadline = clock::now() + toDuration(timeout);
    while (countLines(line) < count) {
      if (clock::now() > deadline || (stdoutClosed_ && stderrClosed_)) return false;
      pump(20);
    }
    return true;
  }

  // Counts complete output lines equal to `line`.
  size_t countLines(std::string_view line) const {
    size_t n = 0;
    for (const auto& l : lines())
      if (l == line) ++n;
    return n;
  }

  // Waits for the exit and returns the status (negative signal number when
  // killed by a signal, kTimedOut when it had to be killed by us).
  int wait(double timeout = kDefaultTimeout) {
    if (pid_ <= 0) return kTimedOut;
    auto deadline = clock::now() + toDuration(timeout);
    while (!exited_) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        break;
      }
      if (clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        exited_ = true;
        exitStatus_ = kTimedOut;
        break;
      }
      pump(10);
    }
    // Collect what is still buffered in the pipes.
    while (!(stdoutClosed_ && stderrClosed_) && pump(0)) {
    }
    return exitStatus_;
  }

  // Complete lines of the output so far.
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(out_);
    std::string line;
    while (std::getline(in, line)) result.push_back(line);
    return result;
  }

  // For failure messages.
  std::string transcript() const { return "--- stdout ---\n" + out_ + "--- stderr ---\n" + err_; }

 private:
  using clock = std::chrono::steady_clock;
  static clock::duration toDuration(double s) {
    return std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(s));
  }
  static void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }

  // Reads what is waiting; returns true when something was read.
  bool drain() {
    bool any = false;
    any |= readFrom(stdout_, out_, stdoutClosed_);
    any |= readFrom(stderr_, err_, stderrClosed_);
    return any;
  }
  bool pump(int waitMs) {
    pollfd fds[2];
    int n = 0;
    if (stdout_ >= 0 && !stdoutClosed_) fds[n++] = {stdout_, POLLIN, 0};
    if (stderr_ >= 0 && !stderrClosed_) fds[n++] = {stderr_, POLLIN, 0};
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
      return false;
    }
    poll(fds, static_cast<nfds_t>(n), waitMs);
    return drain();
  }
  static bool readFrom(int fd, std::string& into, bool& closed) {
    if (fd < 0) {
      closed = true;
      return false;
    }
    bool any = false;
    char buffer[65536];
    for (;;) {
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        into.append(buffer, static_cast<size_t>(n));
        any = true;
        continue;
      }
      if (n == 0) closed = true;
      return any;
    }
  }

  TempDir ownDir_;
  std::string dir_;
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
  bool stdoutClosed_ = false, stderrClosed_ = false;
  bool exited_ = false;
  int exitStatus_ = kTimedOut;
  std::string out_, err_;
};

// Output lines after the start-up block, which ends with the calibration line.
inline std::vector<std::string> afterStartup(const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind("info string et=", 0) == 0) return {lines.begin() + static_cast<long>(i) + 1, lines.end()};
  return {};
}
inline std::vector<std::string> replies(const EngineProcess& engine) { return afterStartup(engine.lines()); }

// Runs the engine to its end with the given input (stdin closed afterwards)
// and returns the exit status; the process keeps the output for inspection.
// A copy of the engine in dir: a run of it sees none of the files that
// lie beside the built binary (a shipped network among them).
inline std::string copyOfEngine(const TempDir& dir) {
  const std::string path = dir.file("vesk");
  std::error_code ec;
  std::filesystem::copy_file(VESK_BINARY, path, std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? std::string() : path;
}

inline int runToEnd(EngineProcess& engine, std::string_view input,
                    double timeout = EngineProcess::kDefaultTimeout) {
  engine.send(input, timeout);
  engine.closeInput();
  return engine.wait(timeout);
}

}  // namespace testutil
