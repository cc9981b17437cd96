#include "VexaServer.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <memory>
#include <vector>

#include "ByteRange.h"
#include "PartnerReport.h"
#include "Report.h"
#include "ReportAccess.h"
#include "app/Text.h"
#include "context/StatRequest.h"

namespace {

// Set by a handler, read by the request logger on the same worker thread.
thread_local std::string t_logNote;

const char* contentTypeOf(const std::string& path) {
  auto dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  if (ext == "json") return "application/json";
  if (ext == "png") return "image/png";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "ico") return "image/x-icon";
  if (ext == "html" || ext == "htm") return "text/html; charset=utf-8";
  if (ext == "txt" || ext == "xml") return "text/plain; charset=utf-8";
  return "application/octet-stream";
}

// Request paths arrive decoded; an escaped line break must not split or
// forge a log line.
std::string printable(const std::string& s) {
  std::string out = s;
  for (auto& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

bool isStartEvent(const std::string& mode) { return mode == "installStart" || mode == "reinstallStart"; }

}  // namespace

VexaServer::VexaServer(ContentStore& content, EventStore& events, const StartAnswer& answers, std::ostream& log,
                       const ServerSettings& settings)
    : content_(content), events_(events), answers_(answers), log_(log), reportToken_(settings.reportToken),
      http_(static_cast<size_t>(settings.threads > 0 ? settings.threads : 1)),
      rate_(settings.rateBytesPerSecond) {
  http_.Get("/installer2.html", [this](const httplib::Request& req, httplib::Response& res) {
    serveStatistics(req, res);
  });
  http_.Get("/report", [this](const httplib::Request& req, httplib::Response& res) { serveReport(req, res); });
  http_.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) { serveHealth(res); });
  http_.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) { serveMetrics(res); });
  http_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { serveFile(req, res); });
  // Headers and body leave in separate writes; without this, Nagle's rule
  // holds the body back until the client's delayed acknowledgement.
  http_.set_tcp_nodelay(true);
  // The library's default (SO_REUSEPORT) lets a second server bind the port
  // beside this one and quietly take part of its requests, and leaves closed
  // connections that keep any other server off the port for a minute. The
  // usual SO_REUSEADDR: a restart binds at once, a second server is refused.
  http_.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http_.setRequestDeadlineMs(settings.requestDeadlineMs);
  http_.set_logger([this](const httplib::Request& req, const httplib::Response& res) { logRequest(req, res); });
}

int VexaServer::bind(const std::string& host, int port) {
  int bound = port == 0 ? http_.bind_to_any_port(host) : (http_.bind_to_port(host, port) ? port : -1);
  if (bound > 0) http_.deepenListenQueue();
  return bound;
}

bool VexaServer::run() { return http_.listen_after_bind(); }

void VexaServer::stop() { http_.stop(); }

void VexaServer::logRequest(const httplib::Request& req, const httplib::Response& res) {
  requests_.count(req.path, res.status);
  std::string length = res.get_header_value("Content-Length");
  std::lock_guard<std::mutex> guard(logLock_);
  log_ << utcTimestamp() << ' ' << req.remote_addr << ' ' << req.method << ' ' << printable(req.path) << ' ' << res.status
       << ' ' << (length.empty() ? "-" : length);
  if (!t_logNote.empty()) log_ << ' ' << printable(t_logNote);
  log_ << std::endl;
  t_logNote.clear();
}

void VexaServer::serveFile(const httplib::Request& req, httplib::Response& res) {
  auto file = content_.resolve(req.path);
  if (!file) {
    res.status = 404;
    return;
  }
  std::string md5 = content_.md5Of(*file);
  if (md5.empty()) {
    res.status = 500;
    return;
  }
  // httplib would cut the body again by the ranges it parsed itself; this
  // handler answers ranges on its own (cut to the file, 416 past its end),
  // so the parsed ranges are dropped. The request object is httplib's own
  // mutable local, handed out as const only by convention.
  auto& ranges = const_cast<httplib::Request&>(req).ranges;
  ranges.clear();

  res.set_header("Accept-Ranges", "bytes");
  // Hex, not RFC 1864's base64: the installer compares this header with the
  // 32 lower-case hex digits of its own digest.
  res.set_header("Content-MD5", md5);

  ByteRange range = ByteRange::parse(req.get_header_value("Range"), file->size);
  if (range.kind == ByteRange::Kind::Unsatisfiable) {
    res.status = 416;
    res.set_header("Content-Range", "bytes */" + std::to_string(file->size));
    return;
  }
  uint64_t first = 0;
  uint64_t length = file->size;
  res.status = 200;
  if (range.kind == ByteRange::Kind::Partial) {
    res.status = 206;
    first = range.first;
    length = range.length();
    res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
                                        std::to_string(file->size));
    // Which part went out: the log then shows what a resumed download asked for.
    t_logNote = "range " + std::to_string(range.first) + "-" + std::to_string(range.last);
  }
  if (length == 0) {
    res.set_content("", contentTypeOf(file->path));
    return;
  }
  struct Reader {
    std::ifstream in;
    std::vector<char> buffer = std::vector<char>(1 << 18);
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    uint64_t sent = 0;
  };
  auto reader = std::make_shared<Reader>();
  reader->in.open(file->path, std::ios::binary);
  if (!reader->in) {
    res.status = 500;
    return;
  }
  res.set_content_provider(
      static_cast<size_t>(length), contentTypeOf(file->path),
      [reader, first, rate = rate_](size_t offset, size_t want, httplib::DataSink& sink) {
        size_t block = reader->buffer.size();
        if (rate > 0) {
          // Small blocks, each sent when the rate allows it: a steady stream
          // rather than bursts.
          block = std::max<size_t>(1024, std::min<size_t>(block, static_cast<size_t>(rate) / 50));
          auto due = reader->start + std::chrono::microseconds(reader->sent * 1000000 / static_cast<uint64_t>(rate));
          std::this_thread::sleep_until(due);
        }
        reader->in.seekg(static_cast<std::streamoff>(first + offset));
        reader->in.read(reader->buffer.data(), static_cast<std::streamsize>(std::min(want, block)));
        std::streamsize got = reader->in.gcount();
        if (got <= 0) return false;
        reader->sent += static_cast<uint64_t>(got);
        return sink.write(reader->buffer.data(), static_cast<size_t>(got));
      });
}

void VexaServer::serveStatistics(const httplib::Request& req, httplib::Response& res) {
  const std::string hex = req.get_param_value("param");
  auto plain = stats::decipherHex(hex);
  auto params = plain ? stats::splitParams(*plain) : std::nullopt;
  if (!params) {
    res.status = 400;
    t_logNote = "malformed param";
    return;
  }
  StatEvent event;
  event.received = utcTimestamp();
  event.client = req.remote_addr;
  event.params = *plain;
  for (const auto& [name, value] : *params) event.fields[text::wideToUtf8(name)] = text::wideToUtf8(value);
  const std::string mode = event.fields["mode"];
  const std::string modeText = mode.empty() ? std::string("(no mode)") : mode;
  res.status = 200;
  if (isStartEvent(mode)) {
    res.set_content(answers_.answerFor(event.fields["installKey"]), "application/json");
  }
  // Link checkers and proxies probe addresses with HEAD; only an
  // installer's GET is an event.
  if (req.method == "HEAD") {
    t_logNote = "HEAD, not stored";
    return;
  }
  std::string whyNot;
  bool held = false;
  if (!events_.add(event, &whyNot, &held)) {
    noteEventNotStored(res, modeText, whyNot);
    return;
  }
  t_logNote = "event " + modeText + (held ? " held until the database answers" : "");
}

void VexaServer::noteEventNotStored(httplib::Response& res, const std::string& mode, const std::string& why) {
  long count = ++eventsNotStored_;
  t_logNote = "event " + mode + " NOT STORED (" + std::to_string(count) + " since start): " + why;
  // The start answer carries the user's identity verdict and install data:
  // a full disk must not turn into installs without them. Other answers are
  // not read by the installer, so they may tell the truth.
  if (!isStartEvent(mode)) res.status = 500;
}

void VexaServer::serveReport(const httplib::Request& req, httplib::Response& res) {
  std::string presented = req.get_param_value("token");
  const std::string bearer = "Bearer ";
  std::string authorization = req.get_header_value("Authorization");
  if (presented.empty() && authorization.compare(0, bearer.size(), bearer) == 0) {
    presented = authorization.substr(bearer.size());
  }
  if (!reportAccessAllowed(req.remote_addr, presented, reportToken_)) {
    res.status = 403;
    t_logNote = "report refused";
    return;
  }
  res.set_content(FunnelReport::compute(events_).html(PartnerReport::compute(events_).html()),
                  "text/html; charset=utf-8");
}

// For a balancer: a server whose database does not answer is taken out of
// the rotation while another can store the events at once.
void VexaServer::serveHealth(httplib::Response& res) {
  bool up = events_.healthy();
  res.status = up ? 200 : 503;
  res.set_content(up ? "ok\n" : "database unreachable\n", "text/plain; charset=utf-8");
}

void VexaServer::serveMetrics(httplib::Response& res) {
  res.set_content(metricsText(requests_.snapshot(), events_.counters(), events_.healthy()),
                  "text/plain; version=0.0.4; charset=utf-8");
}
