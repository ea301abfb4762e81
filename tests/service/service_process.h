// Runs the real pelvaro-service program for the tests: its import command, and its server on a
// free loopback port, stopped by process id.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

struct CommandResult {
  int exitCode = -1;
  std::string errors;  // what it wrote on standard error
};

// Runs pelvaro-service with args and waits for it.
CommandResult RunService(const std::vector<std::string>& args);

struct RunningServer {
  pid_t pid = 0;
  int port = 0;
  std::string log;  // file receiving its standard error
};

// Starts "pelvaro-service serve --db database --listen 127.0.0.1:0" plus extra, and waits until
// it listens. pid stays 0 when it did not start.
RunningServer StartServer(const std::string& database, const std::vector<std::string>& extra = {});
void StopServer(RunningServer& server);

// Starts pelvaro-service with args without waiting; its standard error goes to errorFile.
pid_t SpawnService(const std::vector<std::string>& args, const std::string& errorFile);

// Sends request as it stands to 127.0.0.1:port and returns all the server sends back until it
// closes the connection (or 10 s pass).
std::string Exchange(int port, const std::string& request);

// GET target with "Connection: close"; the whole response.
std::string Get(int port, const std::string& target);

// The status code of a response, or 0.
int StatusOf(const std::string& response);

// The response's body.
std::string BodyOf(const std::string& response);

// A fresh temporary folder, removed with the test program's other files by the caller.
std::string TemporaryFolder();

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
