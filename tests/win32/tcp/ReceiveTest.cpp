// Receiving lines and blocks from scenario replies, and how every wait ends:
// data, the peer's close, a reset, a time-out or a cancellation.
#include "TcpTestSupport.h"

#include "PumpUntil.h"

namespace {

std::vector<std::string> ReadLines(TTcpConnection& c, int count, std::vector<int>* codes = nullptr) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line;
    int code = c.ReadLine(line);
    if (codes) codes->push_back(code);
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(ReadLine, LineEndsAreRemovedAndReplyCodesRead) {
  TProbeConnection c;
  StartScenario(c, "tcp-lines");
  std::vector<int> codes;
  auto lines = ReadLines(c, 6, &codes);
  EXPECT_EQ(lines, (std::vector<std::string>{"HTTP/1.0 200 OK", "250 Ready", "LF only", "CR CR LF", "",
                                             "last line"}));
  EXPECT_EQ(codes, (std::vector<int>{-1, 250, -1, -1, -1, -1}));
  // The peer has closed: no line, no error, no wait for the time-out.
  std::string line = "sentinel";
  EXPECT_EQ(c.ReadLine(line), -1);
  EXPECT_EQ(line, "");
  EXPECT_FALSE(c.TimeCounter.TimedOut);
  c.Close();
}

TEST(ReadLine, PeerClosingMidLineGivesAnEmptyLine) {
  TProbeConnection c;
  c.LogFileName = "unused.log";  // collect the log without writing it
  StartScenario(c, "tcp-close-mid-line");
  std::vector<int> codes;
  EXPECT_EQ(ReadLines(c, 2, &codes), (std::vector<std::string>{"first", ""}));
  EXPECT_EQ(codes[1], -1);
  EXPECT_FALSE(c.TimeCounter.TimedOut);
  ASSERT_EQ(c.LogLines.Count(), 3);
  EXPECT_EQ(c.LogLines[0], "SCENARIO tcp-close-mid-line");
  EXPECT_EQ(c.LogLines[2], "");
  // The unfinished line was consumed: nothing is left for a body read.
  TMemoryStream rest;
  c.ReadBlock(rest, -1);
  EXPECT_EQ(rest.Size(), 0);
  c.LogFileName.clear();
  c.Close();
}

TEST(ReadLine, LongLinesUpToTheBound) {
  TProbeConnection c;
  StartScenario(c, "tcp-long-line");
  EXPECT_EQ(ReadLines(c, 2), (std::vector<std::string>{std::string(5000, 'a'), "next"}));
  c.Close();

  StartScenario(c, "tcp-bound-line");  // 65536 bytes with CR LF: the longest taken
  EXPECT_EQ(ReadLines(c, 2), (std::vector<std::string>{std::string(65534, 'c'), "after"}));
  c.Close();
}

TEST(ReadLine, ALineBeyondTheBoundFailsClearly) {
  TProbeConnection c;
  TEventLog log;
  c.LogFileName = "unused.log";
  StartScenario(c, "tcp-too-long-line");
  log.Attach(c);
  std::string line;
  EXPECT_EQ(RaisedBy([&] { c.ReadLine(line); }), "ESocketError: Received line is longer than 65536 bytes");
  EXPECT_EQ(log.Joined(), "Error: Received line is longer than 65536 bytes");
  EXPECT_EQ(c.LogLines[c.LogLines.Count() - 1], "");
  c.LogFileName.clear();
  c.Close();
}

TEST(ReadLine, AZeroByteEndsTheTextButNotTheLine) {
  TProbeConnection c;
  StartScenario(c, "tcp-nul-line");
  EXPECT_EQ(ReadLines(c, 2), (std::vector<std::string>{"ab", "next"}));
  c.Close();
}

TEST(ReadBlock, ACountShorterThanWhatCameLeavesTheRest) {
  TProbeConnection c;
  StartScenario(c, "tcp-eight-bytes");
  TMemoryStream stream;
  c.ReadBlock(stream, 5);
  EXPECT_EQ(stream.ToString(), "12345");
  c.ReadBlock(stream, 3);
  EXPECT_EQ(stream.ToString(), "12345678");
  c.Close();
}

TEST(ReadBlock, TakesWhatTheLineReaderBufferedFirst) {
  TProbeConnection c;
  StartScenario(c, "tcp-head-and-body");
  EXPECT_EQ(ReadLines(c, 3), (std::vector<std::string>{"HTTP/1.0 200 OK", "X-One: 1", ""}));
  TMemoryStream stream;
  c.ReadBlock(stream, 4);
  EXPECT_EQ(stream.ToString(), "BODY");
  c.ReadBlock(stream, -1);
  EXPECT_EQ(stream.ToString(), "BODY1234");
  c.Close();
}

// Lines and blocks in turn over a reply that comes in small pieces: a read
// served from the buffer must not lose the notice of bytes still to come.
static void ReadDrippedRecords(const std::string& drip) {
  TProbeConnection c;
  StartScenario(c, "tcp-drip-records?drip=" + drip, 5);
  std::string line;
  TMemoryStream stream;
  int records = 0;
  // Bounded: 200 records, then the "0" line ends it.
  for (int i = 0; i <= 200; ++i) {
    ASSERT_EQ(RaisedBy([&] { c.ReadLine(line); }), "(nothing raised)") << "record " << i;
    if (line == "0") break;
    ASSERT_EQ(line, "5");
    c.ReadBlock(stream, 5);
    ++records;
  }
  EXPECT_EQ(records, 200);
  EXPECT_EQ(stream.Size(), 1000);
  EXPECT_EQ(stream.ToString().substr(995), "abcde");
  c.Close();
}

TEST(ReadBlock, LinesAndBlocksInTurnOverADrippedReply) {
  for (const char* drip : {"3,1", "7,1", "11,2", "16,0"}) {
    SCOPED_TRACE(std::string("drip ") + drip);
    ReadDrippedRecords(drip);
  }
}

TEST(ReadBlock, EmptyBodiesEndWithoutWaiting) {
  TProbeConnection c;
  TEventLog log;
  StartScenario(c, "tcp-head-only", 30);
  EXPECT_EQ(ReadLines(c, 2), (std::vector<std::string>{"HTTP/1.0 204 No Content", ""}));
  log.Attach(c);
  TMemoryStream stream;
  c.ReadBlock(stream, 0);
  c.ReadBlock(stream, -1);  // the peer closed right after the header block
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_FALSE(c.TimeCounter.TimedOut);
  EXPECT_EQ(log.Joined(), "Closed | Closed");  // each completed read fires OnClosed
  c.Close();
}

TEST(ReadBlock, UntilCloseReportsProgressWithoutPercentage) {
  TProbeConnection c;
  StartScenario(c, "tcp-until-close");
  std::string line;
  c.ReadLine(line);
  EXPECT_EQ(line, "line one");
  std::vector<std::pair<int, int>> progress;
  c.OnProgress = [&](TObject*, int perc, int transferred) { progress.emplace_back(perc, transferred); };
  bool closed = false;
  c.OnClosed = [&](TObject*) { closed = true; };
  TMemoryStream stream;
  c.ReadBlock(stream, -1);
  EXPECT_EQ(stream.Size(), 20000);
  EXPECT_EQ(stream.ToString().substr(0, 12), "012345678901");
  EXPECT_TRUE(closed);
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front(), std::make_pair(0, 0));
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_EQ(progress[i].first, -1);
  EXPECT_EQ(progress.back().second, 20000);
  c.Close();
}

TEST(ReadBlock, ProgressPercentagesFollowTheStreamPosition) {
  TProbeConnection c;
  StartScenario(c, "tcp-drip-progress");  // 100 bytes, a pause, 100 bytes
  std::vector<std::pair<int, int>> progress;
  c.OnProgress = [&](TObject*, int perc, int transferred) { progress.emplace_back(perc, transferred); };
  TMemoryStream stream;
  c.ReadBlock(stream, 200);
  EXPECT_EQ(stream.Size(), 200);
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), std::make_pair(0, 0));
  EXPECT_EQ(progress.back(), std::make_pair(100, 200));
  bool sawHalf = false;
  for (auto [perc, transferred] : progress) {
    EXPECT_EQ(perc, transferred / 2);
    sawHalf = sawHalf || perc == 50;
  }
  EXPECT_TRUE(sawHalf);
  c.Close();

  // A stream that already holds data reports more than 100.
  StartScenario(c, "tcp-stall-body");
  TMemoryStream filled;
  filled.Write(std::string(100, '-'));
  progress.clear();
  c.ReadBlock(filled, 100);
  EXPECT_EQ(filled.Size(), 200);
  EXPECT_EQ(progress.back(), std::make_pair(200, 100));
  c.Close();
}

TEST(TimeOut, ALineThatNeverComesTimesOutAndCloses) {
  TProbeConnection c;
  TEventLog log;
  c.LogFileName = "unused.log";
  StartScenario(c, "tcp-silent", 1);
  log.Attach(c);
  c.OnError = [&](TObject*, std::string& msg) {
    log.Events.push_back("Error: " + msg);
    msg = "replaced";  // the time-out's own text stays
  };
  std::string line;
  EXPECT_EQ(RaisedBy([&] { c.ReadLine(line); }), "ETimedOutError: Operation timed out");
  EXPECT_EQ(log.Joined(), "Error: Operation timed out | Closing | Closed");
  EXPECT_FALSE(c.HasSocket());
  EXPECT_TRUE(c.TimeCounter.TimedOut);
  c.LogFileName.clear();
}

TEST(TimeOut, WithoutCloseTheSocketStaysAndTheFlagEndsTheNextWait) {
  TProbeConnection c;
  TEventLog log;
  c.CloseOnTimeOutError = false;
  StartScenario(c, "tcp-stall-mid-line", 1);
  log.Attach(c);
  std::string line;
  EXPECT_EQ(RaisedBy([&] { c.ReadLine(line); }), "ETimedOutError: Operation timed out");
  EXPECT_EQ(line, "");
  EXPECT_EQ(log.Joined(), "Error: Operation timed out");
  EXPECT_TRUE(c.HasSocket());
  // The flag stays until ResetState: the next operation raises at once.
  EXPECT_EQ(RaisedBy([&] { c.SendLine("more"); }), "ETimedOutError: Operation timed out");
  c.Close();
}

TEST(TimeOut, ABodyThatStopsComingTimesOut) {
  TProbeConnection c;
  StartScenario(c, "tcp-stall-body", 1);
  TMemoryStream stream;
  EXPECT_EQ(RaisedBy([&] { c.ReadBlock(stream, 200); }), "ETimedOutError: Operation timed out");
  EXPECT_EQ(stream.Size(), 100);
  EXPECT_FALSE(c.HasSocket());
}

TEST(Cancel, FromATimerHandlerDuringAWait) {
  TProbeConnection c;
  TEventLog log;
  StartScenario(c, "tcp-silent", 30);
  log.Attach(c);
  TTimer canceller;
  canceller.SetInterval(100);
  canceller.SetOnTimer([&](TObject*) {
    canceller.SetEnabled(false);
    c.Cancel();
  });
  std::string line;
  EXPECT_EQ(RaisedBy([&] { c.ReadLine(line); }), "ECanceledError: Operation has been canceled");
  EXPECT_EQ(log.Joined(), "Cancel | Closing | Closed | Error: Operation has been canceled");
  EXPECT_FALSE(c.TimeCounter.TimedOut);
  // Canceled stays until ResetState.
  EXPECT_EQ(RaisedBy([&] { c.Connect(); }), "ECanceledError: Operation has been canceled");
}

TEST(Cancel, DuringABlockRead) {
  TProbeConnection c;
  StartScenario(c, "tcp-stall-body", 30);
  int calls = 0;
  c.OnProgress = [&](TObject*, int, int transferred) {
    if (transferred > 0 && ++calls == 1) c.Cancel();
  };
  TMemoryStream stream;
  EXPECT_EQ(RaisedBy([&] { c.ReadBlock(stream, 1000); }), "ECanceledError: Operation has been canceled");
  EXPECT_FALSE(c.HasSocket());
}

// Under Wine a reset reads like a close (recv gives 0); the next send
// reports it, and the component closes the socket before raising.
TEST(Reset, ResetByPeerClosesBeforeRaising) {
  TProbeConnection c;
  TEventLog log;
  StartScenario(c, "tcp-reset", 30);
  log.Attach(c);
  std::string line;
  std::string raised = RaisedBy([&] {
    c.ReadLine(line);
    c.SendLine("after the reset");
  });
  EXPECT_EQ(raised, "ESocketError: [10054] Connection reset by peer");
  EXPECT_EQ(line, "") << "the unfinished line is discarded";
  EXPECT_EQ(log.Joined(), "Error: [10054] Connection reset by peer | Closing | Closed");
  EXPECT_FALSE(c.HasSocket());
  EXPECT_FALSE(c.TimeCounter.TimedOut);
}

TEST(Exchanges, ResetStateStartsAFreshExchangeOnTheSameComponent) {
  TProbeConnection c;
  StartScenario(c, "tcp-silent", 1);
  std::string line;
  EXPECT_EQ(RaisedBy([&] { c.ReadLine(line); }), "ETimedOutError: Operation timed out");
  StartScenario(c, "tcp-lines");  // ResetState clears the time-out flag
  EXPECT_EQ(c.ReadLine(line), -1);
  EXPECT_EQ(line, "HTTP/1.0 200 OK");
  EXPECT_EQ(c.StartupCount, 2);
  c.Close();
}

// A wait stops pumping at the notice it awaits, so a closed socket's later
// notices (its close, its reset) can still be queued when the next socket,
// often with the same handle value, starts: none of them may reach it.
// What a closed socket may leave queued (its close, with or without an
// error, an error on a read) is told apart from the next socket's notices
// when the next socket has the same handle: the connect still succeeds and
// every line arrives.
TEST(Exchanges, NoticesLeftQueuedByAClosedSocketEndNothing) {
  const std::vector<std::string> lines{"HTTP/1.0 200 OK", "250 Ready", "LF only", "CR CR LF", "", "last line"};
  TProbeConnection c;
  int reused = 0;
  for (int round = 0; round < 5; ++round) {
    StartScenario(c, "tcp-lines");
    ASSERT_EQ(ReadLines(c, 6), lines);
    const SOCKET old = c.SocketHandle;
    c.Close();
    const WPARAM handle = static_cast<WPARAM>(old);
    PostMessageA(c.WindowHandle(), TTcpConnection::WM_SOCKETEVENT, handle, WSAMAKESELECTREPLY(FD_CLOSE, 0));
    PostMessageA(c.WindowHandle(), TTcpConnection::WM_SOCKETEVENT, handle,
                 WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET));
    PostMessageA(c.WindowHandle(), TTcpConnection::WM_SOCKETEVENT, handle,
                 WSAMAKESELECTREPLY(FD_READ, WSAECONNABORTED));
    StartScenario(c, "tcp-lines");
    reused += c.SocketHandle == old;
    EXPECT_FALSE(c.Closed) << "round " << round;
    EXPECT_FALSE(c.AsyncError) << "round " << round;
    EXPECT_EQ(ReadLines(c, 6), lines) << "round " << round;
    c.Close();
  }
  // The case that matters: the library handed the same handle out again.
  EXPECT_GT(reused, 0);
}

TEST(Exchanges, NoticesOfAClosedSocketNeverReachTheNext) {
  TProbeConnection c;
  for (int round = 0; round < 10; ++round) {
    StartScenario(c, "tcp-reset", 30);
    std::string line;
    RaisedBy([&] {
      c.ReadLine(line);
      c.SendLine("after the reset");
    });
    c.Close();
    StartScenario(c, "tcp-lines");
    EXPECT_EQ(ReadLines(c, 6), (std::vector<std::string>{"HTTP/1.0 200 OK", "250 Ready", "LF only", "CR CR LF", "",
                                                          "last line"}))
        << "round " << round;
    EXPECT_FALSE(c.AsyncError) << "round " << round;
    c.Close();
  }
}
