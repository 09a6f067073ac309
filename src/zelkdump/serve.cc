// zelkdump serve: a web page over one database, with the searches of
// lookup as you type, the entry, the database's info and a picture of its
// chunks, and the JSON API the page reads. Keys and values reach the page
// only as JSON strings, which the page shows as text.
#include <arpa/inet.h>
#include <httplib.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <semaphore>
#include <thread>

#include "text/utf8.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "zelkdump/commands.h"
#include "zelkdump/connections.h"
#include "zelkdump/page.h"

namespace zelk {

namespace {

using Json = nlohmann::json;

constexpr size_t kMaxQuery = 1024;      // bytes of a key or prefix asked for
constexpr size_t kMaxLimit = 500;       // entries or keys in one answer
constexpr size_t kMaxOffset = 1000000;  // how far one may page
constexpr int kScanners = 2;            // requests reading many chunks at once, at most
constexpr size_t kFreeWalk = 1000;      // entries or keys a request may pass by without a turn
constexpr size_t kFewChunks = 8;        // chunks a listing without case may read without one
constexpr size_t kFewKeys = 32;         // keys /api/exists may look up without one

struct Served {
  Served(const DumpContext& context, const Database& database, int wait_seconds)
      : cx(context), db(database), wait(wait_seconds) {}
  const DumpContext& cx;
  const Database& db;
  std::chrono::seconds wait;  // for a turn to read many chunks
  std::counting_semaphore<kScanners> scans{kScanners};
  std::mutex summary_lock;
  std::string info_json, chunks_json;  // info --json and list --json, made once
  std::mutex folded_lock;
  std::unique_ptr<FoldedIndex> folded;  // made when first needed
};

// A chunk reader whose damaged chunks are told in the answer, a line each.
struct Reading {
  const Served& s;
  ChunkReader reader;
  explicit Reading(const Served& served) : s(served), reader(served.db, served.cx.charset) {}
  void add_problems(Json& answer) {
    if (reader.problems.empty()) return;
    Json lines = Json::array();
    for (const Problem& p : reader.problems) {
      lines.push_back(printable_utf8("zelkdump: " + s.cx.file + ": " + where(p) + ": " + p.text));
    }
    answer["problems"] = lines;
  }
};

void send_json(httplib::Response& res, int status, const Json& answer) {
  res.status = status;
  res.set_content(answer.dump(-1, ' ', false, Json::error_handler_t::replace),
                  "application/json; charset=utf-8");
}

void send_error(httplib::Response& res, int status, const std::string& message) {
  send_json(res, status, Json{{"error", message}});
}

// Stored bytes as the page shows them: converted from the database's set,
// then whatever is still not UTF-8 escaped.
std::string text_of(const Served& s, std::string_view stored) {
  return printable_utf8(to_utf8(s.cx.charset, stored));
}

// A query from the page (UTF-8) in the database's set; false, with the
// answer sent, when a character has no place in it.
bool stored_param(const Served& s, httplib::Response& res, std::string* value) {
  std::string stored, problem;
  if (!to_stored(s.cx.charset, *value, stored, problem)) {
    send_error(res, 400, printable_utf8(*value) + ": " + problem);
    return false;
  }
  *value = stored;
  return true;
}

// A whole-number parameter within [0, max], or the default; false (with the
// answer sent) when it is not one.
bool number_param(const httplib::Request& req, httplib::Response& res, const char* name,
                  size_t fallback, size_t max, size_t* value) {
  *value = fallback;
  if (!req.has_param(name)) return true;
  std::string text = req.get_param_value(name);
  size_t v = 0;
  bool ok = !text.empty() && text.size() <= 9;
  for (char ch : text)
    ok = ok && ch >= '0' && ch <= '9' && ((v = v * 10 + static_cast<size_t>(ch - '0')), true);
  if (!ok || v > max) {
    send_error(res, 400, std::string(name) + " must be a number from 0 to " + std::to_string(max));
    return false;
  }
  *value = v;
  return true;
}

bool text_param(const httplib::Request& req, httplib::Response& res, const char* name,
                std::string* value) {
  *value = req.get_param_value(name);
  if (value->size() > kMaxQuery) {
    send_error(res, 400,
               std::string(name) + " is longer than " + std::to_string(kMaxQuery) + " bytes");
    return false;
  }
  return true;
}

// A turn to read many chunks (every chunk, or a long walk through them), so
// that such requests never take all the machine; given back when it goes
// out of scope, even on an exception.
struct ScanTurn {
  Served& s;
  bool held = false;
  explicit ScanTurn(Served& served) : s(served) {}
  ~ScanTurn() {
    if (held) s.scans.release();
  }
  // Waits for the turn; false (answer sent) when none comes soon.
  bool take(httplib::Response& res) {
    held = s.scans.try_acquire_for(s.wait);
    if (!held) {
      send_error(res, 503, "busy with other searches that read the whole dictionary; try again");
    }
    return held;
  }
};

// info --json and list --json, made on first use and kept: the database does
// not change while it is served.
void summary(Served& s, httplib::Response& res, bool info) {
  std::unique_lock lock(s.summary_lock);
  if (s.info_json.empty()) {
    Captured out, err;
    DumpContext cx{s.cx.file, out.f, err.f, true, s.cx.charset};
    dump_info(cx, s.db);
    s.info_json = out.text();
    Captured list_out;
    cx.out = list_out.f;
    dump_list(cx, s.db);
    s.chunks_json = list_out.text();
  }
  res.set_content(info ? s.info_json : s.chunks_json, "application/json; charset=utf-8");
}

// The folded index, made on first use, under a turn to read every chunk
// (the request's own when it has one); null (answer sent) when no turn comes.
const FoldedIndex* folded_index(Served& s, httplib::Response& res, ScanTurn& turn) {
  std::unique_lock held(s.folded_lock);
  if (!s.folded) {
    if (!turn.held && !turn.take(res)) return nullptr;
    ChunkReader reader(s.db, s.cx.charset);
    s.folded = std::make_unique<FoldedIndex>(make_folded_index(reader));
  }
  return s.folded.get();
}

// The key the text typed stands for: the one stored so, else the first that
// folds as it does (without case and accents); empty for none, or when no
// turn to make the folded index came (answer sent: failed is set).
std::string key_typed(Served& s, Reading& r, httplib::Response& res, ScanTurn& turn,
                      const std::string& typed, bool* failed) {
  *failed = false;
  std::string stored, problem;
  if (to_stored(s.cx.charset, typed, stored, problem) &&
      !existing_keys(r.reader, {stored}).empty()) {
    return stored;
  }
  const FoldedIndex* folded = folded_index(s, res, turn);
  if (!folded) {
    *failed = true;
    return {};
  }
  return folded_key(r.reader, *folded, typed);
}

void answer_keys(Served& s, const httplib::Request& req, httplib::Response& res) {
  std::string prefix, typed;
  size_t offset, limit;
  bool nocase = req.has_param("nocase") && req.get_param_value("nocase") == "1";
  if (!text_param(req, res, "prefix", &prefix) ||
      !number_param(req, res, "offset", 0, kMaxOffset, &offset) ||
      !number_param(req, res, "limit", 50, kMaxLimit, &limit)) {
    return;
  }
  typed = prefix;
  if (!nocase && !stored_param(s, res, &prefix)) return;
  Reading r(s);
  // A page far into the keys walks past them all; a listing without case
  // may walk the chunks of every case of its first letter.
  ScanTurn turn(s);
  bool walks = offset + limit > kFreeWalk ||
               (nocase && chunks_for_nocase_prefix(s.db, typed, s.cx.charset) > kFewChunks);
  if (walks && !turn.take(res)) return;
  KeyPage page = nocase ? keys_page_nocase(r.reader, typed, offset, limit)
                        : keys_page(r.reader, prefix, offset, limit);
  if (nocase && offset == 0 && !typed.empty()) {
    // The key the text stands for comes first, wherever it stands among
    // those that begin so: Enter opens it.
    bool failed;
    std::string own = key_typed(s, r, res, turn, typed, &failed);
    if (failed) return;
    if (!own.empty()) {
      std::erase(page.keys, own);
      page.keys.insert(page.keys.begin(), own);
      if (page.keys.size() > limit) {
        page.keys.pop_back();
        page.more = true;
      }
    }
  }
  Json keys = Json::array();
  for (const std::string& k : page.keys) keys.push_back(text_of(s, k));
  Json answer{
      {"prefix", printable_utf8(typed)}, {"offset", offset}, {"keys", keys}, {"more", page.more}};
  r.add_problems(answer);
  send_json(res, 200, answer);
}

// Which of the keys k=... the database has, as typed or but for case and
// accents, and the key each stands for: the page makes links of
// cross-references only to those.
void answer_exists(Served& s, const httplib::Request& req, httplib::Response& res) {
  size_t n = req.get_param_value_count("k");
  if (n > kMaxLimit) {
    return send_error(res, 400, "at most " + std::to_string(kMaxLimit) + " keys at a time");
  }
  std::vector<std::string> typed, stored;
  for (size_t i = 0; i < n; ++i) {
    std::string t = req.get_param_value("k", i), as_stored, problem;
    if (t.size() <= kMaxQuery && to_stored(s.cx.charset, t, as_stored, problem)) {
      typed.push_back(t);
      stored.push_back(as_stored);
    }
  }
  Reading r(s);
  ScanTurn turn(s);
  if (stored.size() > kFewKeys && !turn.take(res)) return;
  std::vector<std::string> exact = existing_keys(r.reader, stored);
  Json found = Json::array(), targets = Json::object();
  for (size_t i = 0; i < stored.size(); ++i) {
    std::string target;
    if (std::find(exact.begin(), exact.end(), stored[i]) != exact.end()) {
      target = stored[i];
    } else {
      const FoldedIndex* folded = folded_index(s, res, turn);
      if (!folded) return;
      target = folded_key(r.reader, *folded, typed[i]);
    }
    if (target.empty()) continue;
    found.push_back(text_of(s, stored[i]));
    targets[text_of(s, stored[i])] = text_of(s, target);
  }
  Json answer{{"keys", found}, {"targets", targets}};
  r.add_problems(answer);
  send_json(res, 200, answer);
}

void answer_lookup(Served& s, const httplib::Request& req, httplib::Response& res) {
  std::string query, name = req.has_param("s") ? req.get_param_value("s") : "exact";
  size_t offset, limit;
  Strategy strategy;
  if (!strategy_named(name, strategy)) {
    return send_error(res, 400, "s must be exact, prefix, nocase or lev");
  }
  if (!text_param(req, res, "q", &query) || !stored_param(s, res, &query) ||
      !number_param(req, res, "offset", 0, kMaxOffset, &offset) ||
      !number_param(req, res, "limit", 50, kMaxLimit, &limit)) {
    return;
  }
  Reading r(s);
  SearchResult found;
  {
    ScanTurn turn(s);
    bool scans = strategy == Strategy::kNocase || strategy == Strategy::kLev;
    if ((scans || offset + limit > kFreeWalk) && !turn.take(res)) return;
    found = search(r.reader, query, strategy, offset, limit);
  }
  Json entries = Json::array();
  for (const Found& f : found.entries) {
    entries.push_back({{"key", text_of(s, f.key)}, {"value", text_of(s, f.value)}});
  }
  Json answer{{"query", text_of(s, query)},
              {"strategy", name},
              {"offset", offset},
              {"entries", entries},
              {"more", found.more}};
  if (strategy == Strategy::kExact && found.entries.empty() && offset == 0 && !query.empty()) {
    ScanTurn turn(s);
    if (!turn.take(res)) return;
    // Not found as typed: the key that folds as it does (without case and
    // accents), as the command line finds it, said so.
    bool failed;
    std::string own = key_typed(s, r, res, turn, req.get_param_value("q"), &failed);
    if (failed) return;
    if (!own.empty()) {
      for (const Found& f : search(r.reader, own, Strategy::kExact, 0, limit).entries) {
        entries.push_back({{"key", text_of(s, f.key)}, {"value", text_of(s, f.value)}});
      }
      answer["entries"] = entries;
      answer["found_as"] = text_of(s, own);
      answer["without_case_and_accents"] = true;
      r.add_problems(answer);
      return send_json(res, 200, answer);
    }
    Json suggestions = Json::array();
    std::vector<std::vector<std::string>> nearest = nearest_keys(r.reader, {query});
    for (const std::string& k : nearest[0]) suggestions.push_back(text_of(s, k));
    answer["suggestions"] = suggestions;
  }
  r.add_problems(answer);
  send_json(res, 200, answer);
}

std::string url_host(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

bool is_loopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

bool is_wildcard(const std::string& host) { return host == "0.0.0.0" || host == "::"; }

std::string lower(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

// The Host headers the server answers to: the name or address it listens
// on, the loopback names when that is a loopback address, and when it
// listens on every address, the machine's own name and addresses; each with
// the port, and bare when the port is 80. Another site's page that reaches
// the server through a name of its own gets 403.
std::vector<std::string> allowed_hosts(const std::string& host, int port) {
  std::vector<std::string> names{host};
  if (is_loopback(host) || is_wildcard(host)) {
    names.insert(names.end(), {"localhost", "127.0.0.1", "::1"});
  }
  if (is_wildcard(host)) {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) == 0 && name[0]) names.push_back(name);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
      for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr) continue;
        int family = a->ifa_addr->sa_family;
        char text[INET6_ADDRSTRLEN];
        const void* where =
            family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr)
            : family == AF_INET6
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr)
                : nullptr;
        if (where && inet_ntop(family, where, text, sizeof text)) names.push_back(text);
      }
      freeifaddrs(list);
    }
  }
  std::vector<std::string> allowed;
  for (const std::string& n : names) {
    std::string shown = lower(url_host(n));
    allowed.push_back(shown + ":" + std::to_string(port));
    if (port == 80) allowed.push_back(shown);
  }
  return allowed;
}

// How the server runs, what it refuses, and the headers of every answer.
// allowed: the Host headers answered, known once the port is bound.
void set_up(httplib::Server& server, const std::vector<std::string>& allowed) {
  server.new_task_queue = new_connection_threads;
  server.set_payload_max_length(4096);
  server.set_tcp_nodelay(true);  // an answer is written in two parts; no wait between them
  server.set_read_timeout(5, 0);
  server.set_write_timeout(5, 0);
  server.set_keep_alive_timeout(2);
  server.set_pre_routing_handler([&allowed](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      send_error(res, 405, "only GET is served");
      return httplib::Server::HandlerResponse::Handled;
    }
    std::string asked = lower(req.get_header_value("Host"));
    if (std::find(allowed.begin(), allowed.end(), asked) == allowed.end()) {
      send_error(res, 403, "this server answers only to " + allowed.front());
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                   "img-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr e) {
        std::string message = "the server failed";
        try {
          std::rethrow_exception(e);
        } catch (const Fatal& fatal) {
          message = fatal.message;
        } catch (const std::bad_alloc&) {
          message = "out of memory";
        } catch (...) {
        }
        send_error(res, 500, message);
      });
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) send_error(res, res.status, res.status == 404 ? "not found" : "error");
  });
}

// The page's own files.
struct PageFile {
  const char* path;
  const char* content;
  const char* type;
};
constexpr PageFile kPageFiles[] = {
    {"/", kPageHtml, "text/html; charset=utf-8"},
    {"/app.js", kPageScript, "text/javascript; charset=utf-8"},
    {"/app.css", kPageStyle, "text/css; charset=utf-8"},
    {"/favicon.ico", kPageIcon, "image/svg+xml"},
};

void route(httplib::Server& server, Served& s, const std::vector<std::string>& allowed) {
  set_up(server, allowed);
  for (const PageFile& file : kPageFiles) {
    server.Get(file.path, [&file](const httplib::Request&, httplib::Response& res) {
      res.set_content(file.content, file.type);
    });
  }
  server.Get("/api/info",
             [&s](const httplib::Request&, httplib::Response& res) { summary(s, res, true); });
  server.Get("/api/chunks",
             [&s](const httplib::Request&, httplib::Response& res) { summary(s, res, false); });
  server.Get("/api/keys", [&s](const httplib::Request& req, httplib::Response& res) {
    answer_keys(s, req, res);
  });
  server.Get("/api/exists", [&s](const httplib::Request& req, httplib::Response& res) {
    answer_exists(s, req, res);
  });
  server.Get("/api/lookup", [&s](const httplib::Request& req, httplib::Response& res) {
    answer_lookup(s, req, res);
  });
}

}  // namespace

bool dump_serve(const DumpContext& cx, const Database& db, const std::string& host, int port,
                int wait) {
  if (!chunks_agree(cx, db)) return false;
  // SIGINT and SIGTERM are taken by this thread alone, with sigwait; every
  // thread started from here on inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Served s(cx, db, wait);
  httplib::Server server;
  std::vector<std::string> allowed;
  route(server, s, allowed);
  // The front door listens where asked; the library's server, on loopback
  // alone, answers what the front door passes on.
  errno = 0;
  int bound = port;
  int listening = listen_on(host, bound);
  int inner = listening >= 0 ? server.bind_to_any_port("127.0.0.1") : -1;
  if (listening < 0 || inner <= 0) {
    int error = errno;
    if (listening >= 0) close(listening);
    die_with(kStatusTrouble, "cannot serve on %s:%d%s%s", host.c_str(), port, error ? ": " : "",
             error ? std::strerror(error) : "");
  }
  allowed = allowed_hosts(host, bound);
  std::fprintf(cx.out, "zelkdump: serving %s at http://%s:%d/ (Ctrl-C stops)\n", cx.file.c_str(),
               url_host(host).c_str(), bound);
  std::fflush(cx.out);
  std::atomic<bool> stopping = false;
  std::thread listener([&] {
    server.listen_after_bind();
    kill(getpid(), SIGTERM);  // pending until the wait below takes it
  });
  std::thread front([&] { serve_front_door(listening, inner, stopping); });
  int caught = 0;
  sigwait(&stop_signals, &caught);
  stopping = true;
  front.join();
  close(listening);
  server.stop();
  listener.join();
  std::fprintf(cx.err, "zelkdump: stopped serving %s\n", cx.file.c_str());
  return true;
}

}  // namespace zelk
