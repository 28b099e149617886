// Line input shared by the tools: whole lines, whatever their length.
#include "tools/tools.h"

namespace tools {

bool readWholeLine(FILE* in, std::string& line) {
  line.clear();
  char buffer[4096];
  bool any = false;
  while (fgets(buffer, sizeof buffer, in)) {
    any = true;
    line += buffer;
    if (line.back() == '\n') break;
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return any;
}

}  // namespace tools
