// vexa-server: the companion server of the installer, for demos and tests
// on a SQLite file, and in production on PostgreSQL behind nginx.
//   vexa-server --root <content folder> --db <file.sqlite | postgresql://...> [--listen host:port]
//               [--config <answers.json>] [--threads <n>] [--report-token <secret>] [--queue <events>]
//   vexa-server report --db <file.sqlite | postgresql://...>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "ContentStore.h"
#include "EventStore.h"
#include "PartnerReport.h"
#include "Report.h"
#include "StartAnswer.h"
#include "VexaServer.h"

namespace {

int usage() {
  std::cerr << "usage: vexa-server --root <folder> --db <file | postgresql://...> [--listen 127.0.0.1:8731]\n"
               "                   [--config <file>] [--threads <n>] [--rate <bytes per second per transfer>]\n"
               "                   [--report-token <secret>] [--queue <events held while the database is away>]\n"
               "       vexa-server report --db <file | postgresql://...>\n";
  return 2;
}

// Options come in pairs; anything else is a usage error.
bool readOptions(int argc, char** argv, int from, std::map<std::string, std::string>& out) {
  for (int i = from; i < argc; i += 2) {
    if (i + 1 >= argc || std::strncmp(argv[i], "--", 2) != 0) return false;
    out[argv[i]] = argv[i + 1];
  }
  return true;
}

// A database address may carry a password: messages show it without one.
std::string databaseName(const std::string& target) {
  if (!isPostgresAddress(target)) return target;
  auto scheme = target.find("://");
  auto at = target.find('@');
  if (scheme != std::string::npos && at != std::string::npos && at > scheme) {
    return target.substr(0, scheme + 3) + "..." + target.substr(at);
  }
  return target.find("password") == std::string::npos ? target : "the PostgreSQL database";
}

int runReport(std::map<std::string, std::string>& options) {
  if (!options.count("--db")) return usage();
  EventStore store;
  if (!store.open(options["--db"])) {
    std::cerr << "vexa-server: " << databaseName(options["--db"]) << ": " << store.error() << "\n";
    return 1;
  }
  std::cout << FunnelReport::compute(store).text() << PartnerReport::compute(store).text();
  return 0;
}

// A whole decimal number in [low, high]; anything else is refused.
bool readCount(const std::string& text, int low, int high, int& out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  int v = std::stoi(text);
  if (v < low || v > high) return false;
  out = v;
  return true;
}

bool readSettings(std::map<std::string, std::string>& options, ServerSettings& settings,
                  EventStore::Settings& storeSettings) {
  int queue = 0;
  if (options.count("--queue")) {
    if (!readCount(options["--queue"], 0, 10000000, queue)) {
      std::cerr << "vexa-server: --queue wants a number of events, from 0 to 10000000\n";
      return false;
    }
    storeSettings.queueLimit = static_cast<size_t>(queue);
  }
  if (options.count("--threads") && !readCount(options["--threads"], 1, 4096, settings.threads)) {
    std::cerr << "vexa-server: --threads wants a number from 1 to 4096\n";
    return false;
  }
  if (options.count("--rate") && !readCount(options["--rate"], 1, 999999999, settings.rateBytesPerSecond)) {
    std::cerr << "vexa-server: --rate wants bytes per second, from 1 to 999999999\n";
    return false;
  }
  if (options.count("--report-token")) {
    settings.reportToken = options["--report-token"];
    if (settings.reportToken.size() < 16) {
      std::cerr << "vexa-server: --report-token wants at least 16 characters\n";
      return false;
    }
  }
  return true;
}

int runServer(std::map<std::string, std::string>& options) {
  if (!options.count("--root") || !options.count("--db")) return usage();
  ServerSettings settings;
  EventStore::Settings storeSettings;
  if (!readSettings(options, settings, storeSettings)) return 2;
  // A worker waits for a free connection rather than making its own: a few
  // connections keep up with the inserts, and a database has a limit on them.
  storeSettings.connections = std::min(settings.threads, storeSettings.connections);
  std::string listen = options.count("--listen") ? options["--listen"] : "127.0.0.1:8731";
  auto colon = listen.rfind(':');
  if (colon == std::string::npos) return usage();
  std::string host = listen.substr(0, colon);
  int port = std::atoi(listen.c_str() + colon + 1);
  if (port < 0 || port > 65535) return usage();

  ContentStore content(options["--root"]);
  if (!content.valid()) {
    std::cerr << "vexa-server: not a folder: " << options["--root"] << "\n";
    return 1;
  }
  EventStore events;
  if (!events.open(options["--db"], storeSettings)) {
    std::cerr << "vexa-server: " << databaseName(options["--db"]) << ": " << events.error() << "\n";
    return 1;
  }
  events.setNotes([](const std::string& note) {
    std::cout << utcTimestamp() << " vexa-server: " << note << std::endl;
  });
  StartAnswer answers;
  if (options.count("--config") && !answers.load(options["--config"])) {
    std::cerr << "vexa-server: " << options["--config"] << ": " << answers.error() << "\n";
    return 1;
  }

  // Signals are taken by sigwait on this thread, so no handler runs inside
  // httplib's threads; the mask is inherited by every thread made after it.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  VexaServer server(content, events, answers, std::cout, settings);
  int bound = server.bind(host, port);
  if (bound < 0) {
    std::cerr << "vexa-server: cannot listen on " << listen << "\n";
    return 1;
  }
  std::cout << "vexa-server: listening on " << host << ":" << bound << ", root " << options["--root"] << ", "
            << settings.threads << " workers, /report "
            << (settings.reportToken.empty() ? "for this machine only" : "with its token") << std::endl;
  std::thread serving([&server] { server.run(); });
  int signal = 0;
  sigwait(&stopSignals, &signal);
  std::cout << "vexa-server: " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << ", stopping" << std::endl;
  server.stop();
  serving.join();
  if (size_t lost = events.drain(std::chrono::seconds(5))) {
    std::cout << "vexa-server: " << lost << " held statistics events could not be written before the stop" << std::endl;
  }
  if (server.eventsNotStored() > 0) {
    std::cout << "vexa-server: " << server.eventsNotStored() << " statistics events could not be stored" << std::endl;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  if (argc >= 2 && std::string(argv[1]) == "report") {
    if (!readOptions(argc, argv, 2, options)) return usage();
    return runReport(options);
  }
  if (!readOptions(argc, argv, 1, options)) return usage();
  return runServer(options);
}
