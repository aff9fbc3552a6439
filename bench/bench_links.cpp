// Link-extraction throughput: runs ExtractLinks over each page given on the
// command line a few times and prints the best and the median processor time
// per page:
//   RESULT kestrel <page> <best seconds> <links>
//   MEDIAN kestrel <page> <median seconds> <links>
// Processor time, not wall time: the machine is shared, and a busy neighbour
// would otherwise be measured as well. The median wall time is printed too,
// beside a side that can only read a wall clock (a script):
//   WALL kestrel <page> <median seconds> <links>
#include "codecs/MemoryStream.h"
#include "html/LinkExtractor.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool ReadFile(const std::string& name, TMemoryStream& stream) {
  FILE* file = fopen(name.c_str(), "rb");
  if (!file) return false;
  std::vector<char> buffer(1 << 20);
  // Bounded by the file's size: every pass reads at least one byte or stops.
  for (;;) {
    size_t got = fread(buffer.data(), 1, buffer.size(), file);
    if (got == 0) break;
    stream.Write(buffer.data(), got);
  }
  fclose(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: bench_links ROUNDS PAGE...\n");
    return 2;
  }
  const int rounds = atoi(argv[1]) > 0 ? atoi(argv[1]) : 1;
  for (int i = 2; i < argc; ++i) {
    TMemoryStream body;
    if (!ReadFile(argv[i], body)) {
      fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    std::vector<double> times;
    std::vector<double> walls;
    size_t links = 0;
    for (int round = 0; round < rounds; ++round) {
      const auto wallStart = std::chrono::steady_clock::now();
      const std::clock_t start = std::clock();
      TLinkExtraction result = ExtractLinks(body);
      const double elapsed = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
      walls.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count());
      if (!result.Succeeded) {
        fprintf(stderr, "%s: %s\n", argv[i], result.ErrorMessage.c_str());
        return 1;
      }
      links = result.Targets.size();
      times.push_back(elapsed);
    }
    std::sort(times.begin(), times.end());
    std::sort(walls.begin(), walls.end());
    printf("RESULT kestrel %s %.4f %zu\n", argv[i], times.front(), links);
    printf("MEDIAN kestrel %s %.4f %zu\n", argv[i], times[times.size() / 2], links);
    printf("WALL kestrel %s %.4f %zu\n", argv[i], walls[walls.size() / 2], links);
    fflush(stdout);
  }
  return 0;
}
