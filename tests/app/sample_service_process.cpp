#include "sample_service_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One service for the whole test program, stopped after the last test.
struct SampleServiceEnvironment : testing::Environment {
  void SetUp() override {
    // A service that cannot start (its port taken, say) fails the run loudly: an assertion here
    // would only mark every test skipped.
    if (!StartSampleService()) {
      std::fprintf(stderr, "the sample service could not start on %s:%s\n", ServiceHost,
                   ServicePort);
      std::exit(1);
    }
  }
  void TearDown() override;
};

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new SampleServiceEnvironment);

}  // namespace

#ifdef _WIN32
// Under Wine the test program cannot start the service's Linux interpreter: the test's wrapper
// (sample_service_under_wine.sh) starts it beside the program and names its record file in
// PELVARO_SAMPLE_RECORD.
namespace {

fs::path RecordFile() {
  const char* path = std::getenv("PELVARO_SAMPLE_RECORD");
  return path != nullptr ? fs::path(path) : fs::path();
}

}  // namespace

void SampleServiceEnvironment::TearDown() {}

bool StartSampleService() {
  if (RecordFile().empty()) {
    std::fprintf(stderr,
                 "PELVARO_SAMPLE_RECORD is not set: run through sample_service_under_wine.sh\n");
    return false;
  }
  return true;
}

void StopSampleService() {}

std::string RecordedRequests() {
  return ReadFile(RecordFile());
}

void ClearRecordedRequests() {
  std::ofstream(RecordFile(), std::ios::binary | std::ios::trunc);
}
#else

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr char ServiceScript[] = PELVARO_FIXTURES "/../../tools/sample-service/sample_service.py";
constexpr std::string_view ReadyLine = "sample service on ";

pid_t servicePid = 0;
fs::path workDir;

}  // namespace

void SampleServiceEnvironment::TearDown() {
  StopSampleService();
  if (!workDir.empty()) fs::remove_all(workDir);
}

bool StartSampleService() {
  if (workDir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "pelvaro-app-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    workDir = pattern;
  }
  const std::string log = (workDir / "service.log").string();
  const std::string record = (workDir / "requests").string();
  std::vector<std::string> args{"python3",        ServiceScript,     "--host",   ServiceHost,
                                "--port",         ServicePort,       "--record", record,
                                "--share-domain", ServiceShareDomain};
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int spawned = posix_spawnp(&servicePid, "python3", &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (spawned != 0) {
    servicePid = 0;
    std::fprintf(stderr, "cannot start python3 for the sample service\n");
    return false;
  }

  // The service announces itself once its socket is bound.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ReadFile(log).find(ReadyLine) != std::string::npos) return true;
    int status = 0;
    if (waitpid(servicePid, &status, WNOHANG) == servicePid) {
      servicePid = 0;
      std::fprintf(stderr, "the sample service ended at once (port %s taken?):\n%s\n", ServicePort,
                   ReadFile(log).c_str());
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::fprintf(stderr, "the sample service did not start in time\n");
  StopSampleService();
  return false;
}

void StopSampleService() {
  if (servicePid != 0) {
    kill(servicePid, SIGTERM);
    waitpid(servicePid, nullptr, 0);
    servicePid = 0;
  }
}

std::string RecordedRequests() {
  return ReadFile(workDir / "requests");
}

void ClearRecordedRequests() {
  if (!workDir.empty()) std::ofstream(workDir / "requests", std::ios::binary | std::ios::trunc);
}

#endif
