#include "platform/platform.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace platform {

double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void yield() { std::this_thread::yield(); }

void ignoreSigpipe() { signal(SIGPIPE, SIG_IGN); }

std::string executableDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string text(path, static_cast<size_t>(n));
  const size_t slash = text.rfind('/');
  return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

std::string findDataFile(const std::string& name) {
  if (name.empty() || name[0] == '/' || access(name.c_str(), F_OK) == 0) return name;
  const std::string dir = executableDirectory();
  if (dir.empty()) return name;
  const std::string beside = dir + "/" + name;
  return access(beside.c_str(), F_OK) == 0 ? beside : name;
}

bool fileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

namespace {

void appendBytes(LineReader& r, const char* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char c = data[i];
    if (c == '\n' || c == '\0') {
      if (r.discarding) {
        r.discarding = false;
      } else if (!r.partial.empty()) {
        r.lines.push_back(std::move(r.partial));
      }
      r.partial.clear();
      continue;
    }
    if (r.discarding) continue;
    if (r.partial.size() >= kMaxLineLength) {
      r.partial.clear();
      r.discarding = true;
      ++r.droppedLines;
      continue;
    }
    r.partial += c;
  }
}

}  // namespace

bool pumpInput(LineReader& r, int waitMs) {
  if (r.endOfInput) return false;
  pollfd p{r.fd, POLLIN, 0};
  int ready = poll(&p, 1, waitMs);
  if (ready <= 0) return false;
  if (p.revents & POLLNVAL) {
    // No input at all (closed descriptor): the same as end of input.
    r.endOfInput = true;
    return true;
  }
  if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) return false;
  char buffer[65536];
  ssize_t n = read(r.fd, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
  if (n <= 0) {
    // End of input: a final unterminated line still counts.
    if (!r.discarding && !r.partial.empty()) r.lines.push_back(std::move(r.partial));
    r.partial.clear();
    r.endOfInput = true;
    return true;
  }
  appendBytes(r, buffer, static_cast<size_t>(n));
  return true;
}

bool nextLine(LineReader& r, std::string& line) {
  if (r.lines.empty()) return false;
  line = std::move(r.lines.front());
  r.lines.pop_front();
  return true;
}

bool waitLine(LineReader& r, std::string& line) {
  while (r.lines.empty()) {
    if (r.endOfInput) return false;
    pumpInput(r, 100);
  }
  return nextLine(r, line);
}

}  // namespace platform
