// The test server as a program, for benchmarks: serves one file from memory
// on 127.0.0.1 and prints "port <n>" once it listens. Stops after --seconds.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "TestHttpServer.h"

int main(int argc, char** argv) {
  std::string file;
  std::string route = "/file.bin";
  long long rate = 0;
  int port = 0;
  int seconds = 600;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    std::string value = argv[i + 1];
    if (option == "--file") file = value;
    else if (option == "--route") route = value;
    else if (option == "--rate") rate = std::stoll(value);
    else if (option == "--port") port = std::stoi(value);
    else if (option == "--seconds") seconds = std::stoi(value);
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return 2;
  }
  testserver::Resource resource;
  resource.body.assign(std::istreambuf_iterator<char>(in), {});
  resource.bytesPerSecond = rate;
  testserver::TestHttpServer server(port);
  if (!server.running()) {
    std::fprintf(stderr, "cannot listen\n");
    return 2;
  }
  server.add(route, std::move(resource));
  std::printf("port %d\n", server.port());
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}
