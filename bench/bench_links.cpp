// Link-extraction throughput: runs ExtractLinks over each page given on the
// command line a few times and prints the best processor time per page:
//   RESULT kestrel <page> <best seconds> <links>
// Processor time, not wall time: the machine is shared, and a busy neighbour
// would otherwise be measured as well.
#include "codecs/MemoryStream.h"
#include "html/LinkExtractor.h"

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
    double best = 0;
    size_t links = 0;
    for (int round = 0; round < rounds; ++round) {
      const std::clock_t start = std::clock();
      TLinkExtraction result = ExtractLinks(body);
      const double elapsed = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
      if (!result.Succeeded) {
        fprintf(stderr, "%s: %s\n", argv[i], result.ErrorMessage.c_str());
        return 1;
      }
      links = result.Targets.size();
      if (round == 0 || elapsed < best) best = elapsed;
    }
    printf("RESULT kestrel %s %.4f %zu\n", argv[i], best, links);
    fflush(stdout);
  }
  return 0;
}
