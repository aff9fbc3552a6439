// Receive throughput of the TCP connection over loopback, against the
// scenario server: 1,000 line reads, and a 32 MiB block read. Prints
//   RESULT <name> <best seconds> [<MiB per second>]
// Usage: bench_tcp.exe PORT [ROUNDS]
#include "tcp/TcpConnection.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

const int LineCount = 1000;
const int BlockBytes = 32 << 20;

void Start(TTcpConnection& c, int port, const char* scenario) {
  c.Server = "127.0.0.1:" + std::to_string(port);
  c.SetTimeOut(30);
  c.ResetState();
  c.Open();
  c.Connect();
  c.SendLine(std::string("SCENARIO ") + scenario);
}

double ReadLines(TTcpConnection& c, int port) {
  Start(c, port, "bench-lines");
  std::string line;
  auto begin = Clock::now();
  for (int i = 0; i < LineCount; ++i) {
    c.ReadLine(line);
    if (line.empty()) throw Exception("line " + std::to_string(i) + " missing");
  }
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  c.Close();
  return seconds;
}

double ReadBlock(TTcpConnection& c, int port) {
  Start(c, port, "bench-32mb");
  TMemoryStream stream;
  auto begin = Clock::now();
  c.ReadBlock(stream, BlockBytes);
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  if (stream.Size() != BlockBytes) throw Exception("block of " + std::to_string(stream.Size()) + " bytes");
  c.Close();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_tcp PORT [ROUNDS]\n");
    return 2;
  }
  int port = std::atoi(argv[1]);
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  try {
    TTcpConnection c;
    double bestLines = 1e9, bestBlock = 1e9;
    for (int round = 0; round < rounds; ++round) {
      bestLines = std::min(bestLines, ReadLines(c, port));
      bestBlock = std::min(bestBlock, ReadBlock(c, port));
    }
    std::printf("RESULT tcp-readline-1000 %.4f\n", bestLines);
    std::printf("RESULT tcp-readblock-32mib %.4f %.1f\n", bestBlock, 32.0 / bestBlock);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_tcp: %s\n", error.what());
    return 1;
  }
  return 0;
}
