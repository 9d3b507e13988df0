// The benchmark's second yardstick: expat's own pass over the catalogue, in
// the mod tool folder it runs in: the whole file read, then parsed in one
// call with no handlers.
#include <expat.h>

#include <cstdio>
#include <vector>

int main() {
  std::FILE* file = std::fopen("configs/games/TheForest/Versions.xml", "rb");
  if (file == nullptr) return 1;
  std::vector<char> text;
  char piece[1 << 16];
  for (std::size_t got; (got = std::fread(piece, 1, sizeof piece, file)) > 0;) {
    text.insert(text.end(), piece, piece + got);
  }
  std::fclose(file);
  const XML_Parser parser = XML_ParserCreate(nullptr);
  const bool parsed = XML_Parse(parser, text.data(), int(text.size()), XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return parsed ? 0 : 1;
}
