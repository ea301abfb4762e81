// The start state every command and search job test begins from: MainWindow as after start, the
// shared search state at its start values, no request recorded. Each test ends only when every
// worker it started has ended.
#pragma once

#include "app/shared_state.h"
#include "recording_controls.h"
#include "recording_system.h"
#include "sample_service_process.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

class AppTest : public testing::Test {
 protected:
  void SetUp() override {
    recording::ResetWindow();
    recording::ResetSystem();
    ClearRecordedRequests();
    CurrentKeyword.clear();
    CurrentPage = 0;
  }

  void TearDown() override {
    recording::OpenCheckBoxGate();
    recording::ReleaseHeldWorker();
    EXPECT_TRUE(recording::JoinWorkers()) << "a search job did not end";
  }
};

// Tests whose jobs talk to the sample service.
using ServiceTest = AppTest;

// The request lines the service received, each without its CR LF, in the order they arrived.
inline std::vector<std::string> RequestLines() {
  const std::string heads = RecordedRequests();
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < heads.size();) {
    const std::size_t end = heads.find("\r\n", start);
    if (end == std::string::npos) break;
    const std::string_view line(heads.data() + start, end - start);
    if (line.starts_with("GET ")) lines.emplace_back(line);
    start = end + 2;
  }
  return lines;
}

// The request line of a search for an already encoded keyword.
inline std::string SearchRequest(std::string_view encodedKeyword, std::string_view page) {
  return std::string("GET /?q=")
      .append(encodedKeyword)
      .append("&page=")
      .append(page)
      .append("&by=prev HTTP/1.1");
}
