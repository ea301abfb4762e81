// pelvaro-service: a catalogue of shared files in SQLite, searched over HTTP by Pelvaro.
//   pelvaro-service import --db FILE CATALOGUE...
//   pelvaro-service serve --db FILE [--listen ADDRESS:PORT] [--share-domain DOMAIN]
//                         [--threads N] [--max-connections N] [--idle-timeout SECONDS]
#include "service/index.h"
#include "service/server.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char Usage[] =
    "usage: pelvaro-service import --db FILE CATALOGUE...\n"
    "       pelvaro-service serve --db FILE [--listen ADDRESS:PORT] [--share-domain DOMAIN]\n"
    "                             [--threads N] [--max-connections N] [--idle-timeout SECONDS]\n"
    "\n"
    "import  adds the shares of CSV (header name,size,sharer,date,link) or JSON Lines catalogues\n"
    "        (\"-\" reads standard input) in one transaction; a share with a link already there\n"
    "        is updated. The first malformed record stops the import and changes nothing.\n"
    "serve   answers GET /?q=KEYWORD&page=N with result pages, and GET /support.\n"
    "        Default --listen "
    "127.0.0.1:8936"
    ", --share-domain " PELVARO_SERVICE_SHARE_DOMAIN
    ", --threads 4,\n"
    "        --max-connections 4000, --idle-timeout 15.\n";

int UsageError(const std::string& why) {
  std::fprintf(stderr, "pelvaro-service: %s\n%s", why.c_str(), Usage);
  return 2;
}

bool ParseCount(const char* text, unsigned low, unsigned high, unsigned& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long parsed = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
  value = static_cast<unsigned>(parsed);
  return true;
}

int Import(const std::vector<std::string>& args) {
  std::string database;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--db" && i + 1 < args.size()) {
      database = args[++i];
    } else if (args[i].starts_with("--")) {
      return UsageError("unknown option " + args[i]);
    } else {
      files.push_back(args[i]);
    }
  }
  if (database.empty()) return UsageError("import needs --db FILE");
  if (files.empty()) return UsageError("import needs at least one catalogue");

  std::string error;
  std::unique_ptr<service::Index> index = service::OpenIndex(database, true, error);
  if (!index) {
    std::fprintf(stderr, "pelvaro-service: %s\n", error.c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  service::ImportSummary summary;
  const bool imported =
      service::ImportCatalogues(*index, files, summary, error, [&](const std::string& step) {
        std::fprintf(stderr, "pelvaro-service: %.1f s: %s\n", seconds(), step.c_str());
      });
  if (!imported) {
    std::fprintf(stderr, "pelvaro-service: %s\npelvaro-service: nothing imported\n", error.c_str());
    return 1;
  }
  const std::int64_t total = summary.added + summary.updated + summary.unchanged;
  std::fprintf(stderr,
               "pelvaro-service: imported %lld shares (%lld added, %lld updated, %lld unchanged) "
               "in %.2f s, %.0f a second; %lld in the database\n",
               static_cast<long long>(total), static_cast<long long>(summary.added),
               static_cast<long long>(summary.updated), static_cast<long long>(summary.unchanged),
               seconds(), static_cast<double>(total) / seconds(),
               static_cast<long long>(service::CountShares(*index)));
  return 0;
}

int ServeCommand(const std::vector<std::string>& args) {
  service::ServeOptions options;
  options.shareDomain = PELVARO_SERVICE_SHARE_DOMAIN;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (i + 1 >= args.size()) return UsageError("option " + name + " needs a value");
    const std::string& value = args[++i];
    bool ok = true;
    if (name == "--db") {
      options.database = value;
    } else if (name == "--listen") {
      options.listen = value;
    } else if (name == "--share-domain") {
      options.shareDomain = value;
    } else if (name == "--threads") {
      ok = ParseCount(value.c_str(), 1, 256, options.threads);
    } else if (name == "--max-connections") {
      ok = ParseCount(value.c_str(), 1, 1000000, options.maxConnections);
    } else if (name == "--idle-timeout") {
      ok = ParseCount(value.c_str(), 1, 86400, options.idleTimeoutSeconds);
    } else {
      return UsageError("unknown option " + name);
    }
    if (!ok) return UsageError("bad value for " + name + ": " + value);
  }
  if (options.database.empty()) return UsageError("serve needs --db FILE");
  return service::Serve(options);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "import") return Import(args);
  if (command == "serve") return ServeCommand(args);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(Usage, stdout);
    return 0;
  }
  return UsageError(command.empty() ? "no command" : "unknown command " + std::string(command));
}
