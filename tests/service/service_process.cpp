#include "service_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string TemporaryFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "pelvaro-service-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

pid_t SpawnService(const std::vector<std::string>& args, const std::string& errorFile) {
  std::vector<std::string> all{PELVARO_SERVICE_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv = Argv(all);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  return spawned == 0 ? pid : 0;
}

CommandResult RunService(const std::vector<std::string>& args) {
  const std::string errors = TemporaryFolder() + "/errors";
  CommandResult result;
  const pid_t pid = SpawnService(args, errors);
  if (pid == 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.errors = ReadText(errors);
  std::filesystem::remove_all(std::filesystem::path(errors).parent_path());
  return result;
}

RunningServer StartServer(const std::string& database, const std::vector<std::string>& extra) {
  RunningServer server;
  server.log = database + ".serve.log";
  std::vector<std::string> args{"serve", "--db", database, "--listen", "127.0.0.1:0"};
  args.insert(args.end(), extra.begin(), extra.end());
  const pid_t pid = SpawnService(args, server.log);
  if (pid == 0) return server;
  const std::string ready = "listening on http://127.0.0.1:";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string log = ReadText(server.log);
    const std::size_t at = log.find(ready);
    if (at != std::string::npos && log.find('/', at + ready.size()) != std::string::npos) {
      server.pid = pid;
      server.port = std::atoi(log.c_str() + at + ready.size());
      return server;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) return server;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return server;
}

void StopServer(RunningServer& server) {
  if (server.pid != 0) {
    kill(server.pid, SIGTERM);
    waitpid(server.pid, nullptr, 0);
    server.pid = 0;
  }
}

std::string Exchange(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string response;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return response;
  }
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t wrote = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (wrote <= 0) break;  // the server may answer and close before reading it all
    sent += static_cast<std::size_t>(wrote);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char buffer[8192];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 100) <= 0) continue;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    response.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return response;
}

std::string Get(int port, const std::string& target) {
  return Exchange(port,
                  "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

int StatusOf(const std::string& response) {
  if (!response.starts_with("HTTP/1.")) return 0;
  return std::atoi(response.c_str() + 9);
}

std::string BodyOf(const std::string& response) {
  const std::size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}
