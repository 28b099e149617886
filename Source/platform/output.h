// The one path for lines to standard output and the log file, and the
// dialogue mode that decides how they are worded.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The dialogue mode: 1 UCI (the default), 0 console. In UCI mode every
// diagnostic line starts with "info string"; moves are written "e7e8q".
extern int16_t uci_mode;
// "info string " in UCI mode, "" in the console.
const char* diagnosticPrefix();

// Writes text and a line feed to stdout (flushed) and, when logging, to the log.
void output_line(const std::string& text);
void output_line(const char* text);
// printf-style text through a bounded buffer: longer results are cut.
constexpr size_t kFormatBuffer = 256;
void outputFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Writes to the log file only, when one is open.
void log_line(const char* text);

// Log file handling (the Log option and the "-log" switch).
bool logEnabled();
void setLogEnabled(bool on);
// Opens "vesk.log" (deleting an old one first); false when that fails.
bool openLogFile(const char* name = "vesk.log");
void closeLogFile();

}  // namespace platform
