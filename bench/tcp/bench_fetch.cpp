// One URL fetched ROUNDS times by THttpClient alone (no script engine, no
// text conversion): the receive path's own cost, for http and https alike.
// Prints every round (up to 20) and "RESULT fetch <median seconds> <MiB per
// second> total <seconds>".
// Usage: bench_fetch.exe URL [ROUNDS]
#include "http/HttpClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_fetch URL [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  THttpClient client;
  client.SetTimeOut(30);
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    client.SetURL(argv[1]);
    const auto begin = std::chrono::steady_clock::now();
    if (!client.Execute()) {
      std::fprintf(stderr, "bench_fetch: %s\n", client.LastError.c_str());
      return 1;
    }
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    if (rounds <= 20)
      std::printf("round %d: %.4f s, %lld bytes\n", round + 1, times.back(), static_cast<long long>(client.Body.Size()));
  }
  double total = 0;
  for (double t : times) total += t;
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  std::printf("RESULT fetch %.6f %.1f total %.4f\n", median, client.Body.Size() / 1048576.0 / median, total);
  return 0;
}
