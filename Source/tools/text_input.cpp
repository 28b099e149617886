// Line input shared by the tools: whole lines, whatever their length.
#include <cstdlib>

#include "tools/tools.h"

namespace tools {

// A NUL byte stays in the line instead of cutting it (and the next line with it).
bool readWholeLine(FILE* in, std::string& line) {
  static char* buffer = nullptr;
  static size_t room = 0;
  const ssize_t n = getline(&buffer, &room, in);
  if (n < 0) {
    line.clear();
    return false;
  }
  line.assign(buffer, static_cast<size_t>(n));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

}  // namespace tools
