#pragma once
// A vexa-server in-process on an ephemeral 127.0.0.1 port, over a scratch
// content folder and database. Put files and set up the stores, then start().
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "TestFiles.h"
#include "VexaServer.h"
#include "app/Text.h"
#include "context/StatRequest.h"

class RunningServer {
 public:
  RunningServer() {
    root = testfiles::narrow(scratch.path()) + "/content";
    ::mkdir(root.c_str(), 0700);
    dbPath = testfiles::narrow(scratch.path()) + "/events.sqlite";
    opened = events.open(dbPath);
  }
  ~RunningServer() { stop(); }

  // Fatal failures inside: call through ASSERT_NO_FATAL_FAILURE.
  void start(const ServerSettings& settings = ServerSettings()) {
    ASSERT_TRUE(opened) << events.error();
    content_ = std::make_unique<ContentStore>(root);
    server_ = std::make_unique<VexaServer>(*content_, events, answers, log, settings);
    port = server_->bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    thread_ = std::thread([this] { server_->run(); });
    for (int i = 0; i < 500 && !server_->running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(server_->running());
  }

  // The request log is complete only once the server has stopped.
  void stop() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }

  void put(const std::string& name, const std::string& bytes) {
    testfiles::writeFile(text::utf8ToWide(root + "/" + name), bytes);
  }

  long rowCount() { return std::stol(events.query("SELECT COUNT(*) AS n FROM events")[0]["n"]); }

  static std::string statPath(const stats::StatParams& params) {
    return text::wideToUtf8(stats::buildRequestUrl(L"/installer2.html", params));
  }

  VexaServer& server() { return *server_; }
  ContentStore& content() { return *content_; }

  testfiles::ScratchDir scratch;
  std::string root, dbPath;
  bool opened = false;
  EventStore events;
  StartAnswer answers;
  std::ostringstream log;
  int port = 0;

 private:
  std::unique_ptr<ContentStore> content_;
  std::unique_ptr<VexaServer> server_;
  std::thread thread_;
};
