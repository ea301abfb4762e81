// The HTTP side of the service: libmicrohttpd serving result pages and the support pages from
// the catalogue database.
#pragma once

#include <string>

namespace service {

struct ServeOptions {
  std::string database;
  std::string listen = "127.0.0.1:8936";  // ADDRESS:PORT, [IPv6]:PORT; port 0 picks a free one
  std::string shareDomain;
  unsigned threads = 4;
  unsigned maxConnections = 4000;
  unsigned idleTimeoutSeconds = 15;
};

// Serves until SIGINT or SIGTERM. Returns the process exit code; says why on standard error when
// it cannot start. Once listening it prints "listening on http://ADDRESS:PORT/" on standard error.
int Serve(const ServeOptions& options);

// Splits ADDRESS:PORT (or [ADDRESS]:PORT); false when it is not of that form.
bool SplitListenAddress(const std::string& text, std::string& address, std::string& port);

}  // namespace service
