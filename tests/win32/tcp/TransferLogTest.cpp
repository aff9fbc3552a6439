// The transfer log: lines sent and received while a log file name is set,
// written once with CR LF when the component is destroyed.
#include "TcpTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string FileText(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

TEST(TransferLog, RecordsOnlyWhileANameIsSetAndIsWrittenAtDestruction) {
  const std::string name = "transfer-log-test.log";
  std::remove(name.c_str());
  {
    TProbeConnection c;
    StartScenario(c, "tcp-lines");  // not recorded: no name yet
    std::string line;
    c.ReadLine(line);
    c.Close();
    EXPECT_EQ(c.LogLines.Count(), 0);

    c.LogFileName = name;
    StartScenario(c, "tcp-close-mid-line");
    c.ReadLine(line);
    c.ReadLine(line);  // the peer closes mid-line: an empty entry
    TMemoryStream body;
    c.ReadBlock(body, -1);  // body bytes are never logged
    c.Close();
    EXPECT_EQ(c.LogLines.Count(), 3);
    EXPECT_EQ(FileText(name), "") << "written only at destruction";
  }
  EXPECT_EQ(FileText(name), "SCENARIO tcp-close-mid-line\r\nfirst\r\n\r\n");
  std::remove(name.c_str());
}

TEST(TransferLog, AnUnwritableFileIsIgnored) {
  auto c = std::make_unique<TProbeConnection>();
  c->LogFileName = "no-such-folder\\sub\\transfer.log";
  c->LogLines.Add("line");
  EXPECT_NO_THROW(c.reset());
}

TEST(TransferLog, BatchedLinesAreLoggedAndSentOnceInOrder) {
  ASSERT_NE(ScenarioPort(), 0);
  TProbeConnection c;
  c.LogFileName = "unused.log";  // collect the log without writing it
  std::vector<std::string> sent;
  c.OnLineSent = [&](TObject*, const std::string& line) { sent.push_back(line); };
  c.Server = ScenarioServer();
  c.SetTimeOut(10);
  c.ResetState();
  c.Open();
  c.Connect();
  c.BeginSendBatch();
  c.SendLine("POST /echo HTTP/1.0");
  c.SendLine("Content-Length: 4");
  c.SendLine("");
  c.SendLine("ab");
  // Queued lines are reported and logged as they are given.
  EXPECT_EQ(sent.size(), 4u);
  EXPECT_EQ(c.LogLines.Count(), 4);
  c.EndSendBatch();
  std::string line;
  c.ReadLine(line);
  EXPECT_EQ(line.substr(0, 12), "HTTP/1.0 200");
  for (int i = 0; i < 50; ++i) {  // the header lines, up to the empty one
    c.ReadLine(line);
    if (line.empty()) break;
  }
  TMemoryStream body;
  c.ReadBlock(body, -1);
  EXPECT_EQ(body.ToString(), "POST /echo HTTP/1.0\r\nContent-Length: 4\r\n\r\nab\r\n");
  c.Close();
}
