// Robustness over third-party raw replies (the llhttp and curl test suites'
// response corpus), served as they are by the scenario server's corpus route:
// every file must end in a result or a clear error, never a crash or a hang,
// and the outcome must not depend on how the bytes are split on the wire.
#include "HttpTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The corpus folder: KESTREL_CORPUS_DIR, else shared/ beside the checkout (the
// tests run in <checkout>/build/<tree>/tests), else the workplace's copy.
fs::path CorpusDir() {
  std::vector<fs::path> candidates;
  if (const char* dir = std::getenv("KESTREL_CORPUS_DIR")) candidates.emplace_back(dir);
  candidates.emplace_back("../../../../shared/corpus/http-responses");
  candidates.emplace_back("/work/shared/corpus/http-responses");
  for (const fs::path& dir : candidates) {
    std::error_code ec;
    if (fs::is_directory(dir / "llhttp", ec)) return dir;
  }
  return {};
}

struct CorpusFile {
  std::string folder;
  std::string name;
  uintmax_t size;
};

void PrintTo(const CorpusFile& f, std::ostream* os) { *os << f.folder << "/" << f.name; }

std::vector<CorpusFile> CorpusFiles() {
  std::vector<CorpusFile> files;
  const fs::path dir = CorpusDir();
  if (dir.empty()) return files;
  for (const char* folder : {"llhttp", "curl"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir / folder, ec)) {
      if (entry.path().extension() == ".http")
        files.push_back({folder, entry.path().filename().string(), entry.file_size(ec)});
    }
  }
  std::sort(files.begin(), files.end(), [](const CorpusFile& a, const CorpusFile& b) {
    return a.folder + "/" + a.name < b.folder + "/" + b.name;
  });
  return files;
}

struct Outcome {
  bool ok = false;
  std::string error;
  std::vector<std::string> headers;
  std::string body;
};

// A short account of an outcome for failure messages (some replies are megabytes).
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << (o.ok ? "success" : "failure \"" + o.error + "\"") << ", " << o.headers.size() << " header lines";
  if (!o.headers.empty()) os << " (first \"" << o.headers[0].substr(0, 80) << "\")";
  return os << ", body of " << o.body.size() << " bytes";
}

bool operator==(const Outcome& a, const Outcome& b) {
  return a.ok == b.ok && a.error == b.error && a.headers == b.headers && a.body == b.body;
}

Outcome Fetch(const std::string& url) {
  THttpClient c;
  // Long enough for the slowest honest case, short enough that a hang shows.
  PrepareClient(c, 5);
  c.SetURL(url);
  Outcome o;
  o.ok = c.Execute();
  o.error = c.LastError;
  o.headers = c.Headers.Lines();
  o.body = BodyText(c);
  return o;
}

class Corpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(Corpus, ResultOrClearErrorWhateverTheSplit) {
  REQUIRE_PORT(port, "KESTREL_SCENARIO_PORT");
  const CorpusFile& f = GetParam();
  const std::string url = "http://127.0.0.1:" + port + "/corpus/" + f.folder + "/" + f.name;
  const Outcome whole = Fetch(url);
  if (whole.ok) {
    ASSERT_FALSE(whole.headers.empty());
    EXPECT_FALSE(whole.headers[0].empty());
    EXPECT_EQ(whole.error, "");
  } else {
    EXPECT_FALSE(whole.error.empty());
  }
  // The same bytes in small pieces (about a hundred of them, every
  // millisecond) must give the same outcome.
  const uintmax_t piece = std::max<uintmax_t>(5, f.size / 100);
  const Outcome dripped = Fetch(url + "?drip=" + std::to_string(piece) + ",1");
  EXPECT_TRUE(dripped == whole) << "whole: " << whole << "\ndripped: " << dripped;
}

INSTANTIATE_TEST_SUITE_P(Http, Corpus, ::testing::ValuesIn(CorpusFiles()),
                         [](const ::testing::TestParamInfo<CorpusFile>& info) {
                           std::string name = info.param.name.substr(0, info.param.name.size() - 5);
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

TEST(CorpusPresence, FilesAreFound) {
  EXPECT_GE(CorpusFiles().size(), 100u) << "the response corpus was not found; set KESTREL_CORPUS_DIR";
}

}  // namespace
