#include "protocol/output.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace protocol {

namespace {
std::mutex outputLock;
FILE* logFile = nullptr;
std::atomic<bool> logOn{false};

void writeLocked(const char* text, size_t length) {
  std::lock_guard<std::mutex> guard(outputLock);
  fwrite(text, 1, length, stdout);
  fputc('\n', stdout);
  fflush(stdout);
  if (logOn.load(std::memory_order_relaxed) && logFile) {
    fwrite(text, 1, length, logFile);
    fputc('\n', logFile);
    fflush(logFile);
  }
}
}  // namespace

void output_line(const std::string& text) { writeLocked(text.data(), text.size()); }
void output_line(const char* text) { writeLocked(text, strlen(text)); }

void output_format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  output_line(buffer);
}

int format_bounded(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

void log_line(const char* text) {
  // Under the output lock: an echoed command must not split a search line.
  std::lock_guard<std::mutex> guard(outputLock);
  if (!logFile) return;
  fprintf(logFile, "%s\n", text);
  fflush(logFile);
}

bool log_enabled() { return logOn.load(std::memory_order_relaxed); }
void set_log_enabled(bool on) { logOn.store(on, std::memory_order_relaxed); }

bool open_log_file(const char* name) {
  if (logFile) return true;
  if (access(name, F_OK) == 0 && unlink(name) != 0) return false;
  logFile = fopen(name, "w");
  return logFile != nullptr;
}

void close_log_file() {
  std::lock_guard<std::mutex> guard(outputLock);
  if (logFile) fclose(logFile);
  logFile = nullptr;
}

}  // namespace protocol
