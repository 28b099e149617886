#include "platform/output.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace platform {

int16_t uci_mode = 1;

const char* diagnosticPrefix() { return uci_mode ? "info string " : ""; }

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

namespace {
void appendBounded(std::string& out, const char* format, va_list args) {
  char buffer[kFormatBuffer];
  vsnprintf(buffer, sizeof buffer, format, args);
  out += buffer;
}
}  // namespace

void appendFormat(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  appendBounded(out, format, args);
  va_end(args);
}

void outputFormat(const char* format, ...) {
  std::string line;
  va_list args;
  va_start(args, format);
  appendBounded(line, format, args);
  va_end(args);
  output_line(line);
}

void log_line(const char* text) {
  // Under the output lock: an echoed command must not split a search line.
  std::lock_guard<std::mutex> guard(outputLock);
  if (!logFile) return;
  fprintf(logFile, "%s\n", text);
  fflush(logFile);
}

bool logEnabled() { return logOn.load(std::memory_order_relaxed); }
void setLogEnabled(bool on) { logOn.store(on, std::memory_order_relaxed); }

bool openLogFile(const char* name) {
  if (logFile) return true;
  if (access(name, F_OK) == 0 && unlink(name) != 0) return false;
  logFile = fopen(name, "w");
  return logFile != nullptr;
}

void closeLogFile() {
  std::lock_guard<std::mutex> guard(outputLock);
  if (logFile) fclose(logFile);
  logFile = nullptr;
}

}  // namespace platform
