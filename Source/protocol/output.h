// The one path for lines to standard output and the log file.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>

namespace protocol {

// Writes text and a line feed to stdout (flushed) and, when logging, to the log.
void output_line(const std::string& text);
void output_line(const char* text);
// printf-style convenience through a bounded buffer of 256 characters.
void output_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes to the log file only, when one is open.
void log_line(const char* text);
// vsnprintf into a buffer of the given size; longer results are cut.
int format_bounded(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Log file handling (the Log option and the "-log" switch).
bool log_enabled();
void set_log_enabled(bool on);
// Opens "vesk.log" (deleting an old one first); false when that fails.
bool open_log_file(const char* name = "vesk.log");
void close_log_file();

}  // namespace protocol
