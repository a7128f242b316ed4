// The Priam stand-in: an HTTP server on loopback that answers the Priam
// requests of one simulated Cassandra node from the cluster files.
//
//   priam-standin --conf <node configuration directory> [--port-file <file>]
//                 [--work-dir <dir>] [--properties <file>] [--java <path>]
//                 [--jvm-options <text>] [--base-dir <dir>]
//                 [--cluster <cluster.json> --node <address>]
//
// The node comes from "tqsim-node.json" in the configuration directory unless
// --cluster and --node name it. The chosen port goes to the port file (or
// standard output). A start refused by a fault switch exits with status 5.
// The server ends on SIGTERM or SIGINT and when its parent process ends.

#include <httplib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "sim/lib/PriamRequestHandler.h"
#include "sim/lib/SimFiles.h"

namespace {

struct Options {
  std::map<std::string, std::string> values;
  std::string Get(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  }
};

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  static const char* kKnown[] = {"--conf",       "--port-file", "--work-dir",
                                 "--properties", "--java",      "--jvm-options",
                                 "--base-dir",   "--cluster",   "--node"};
  for (int i = 1; i < argc; ++i) {
    std::string key = argv[i];
    bool known = false;
    for (const char* k : kKnown) known = known || key == k;
    if (!known) {
      error = "Unknown option " + key;
      return false;
    }
    if (i + 1 >= argc) {
      error = "Option " + key + " needs a value";
      return false;
    }
    options.values[key] = argv[++i];
  }
  return true;
}

bool WritePortFile(const std::string& path, int port, std::string& error) {
  std::string tmp = path + ".tmp";
  if (!TqSim::WriteTextFile(tmp, std::to_string(port) + "\n", error)) return false;
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    error = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// One JSON line per request in the working directory, for tests and for
// looking back at what a job asked.
class RequestLog {
 public:
  explicit RequestLog(const std::string& workDir)
      : path_(workDir.empty() ? std::string() : TqSim::JoinPath(workDir, "priam-requests.log")) {}
  void Add(const std::string& method, const std::string& target, const std::string& body,
           int status) {
    if (path_.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::ofstream out(path_, std::ios::app);
    out << nlohmann::json{{"time", static_cast<long long>(std::time(nullptr))},
                          {"method", method},
                          {"target", target},
                          {"body", body},
                          {"status", status}}
               .dump()
        << '\n';
  }

 private:
  std::string path_;
  std::mutex mutex_;
};

}  // namespace

int main(int argc, char** argv) {
  const pid_t parent = ::getppid();
  // Block the stop signals in every thread; one thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::cerr << "priam-standin: " << error << std::endl;
    return 2;
  }
  std::string clusterFile = options.Get("--cluster");
  std::string address = options.Get("--node");
  if (clusterFile.empty() || address.empty()) {
    std::string confDir = options.Get("--conf");
    if (confDir.empty()) {
      std::cerr << "priam-standin: --conf or --cluster and --node are needed" << std::endl;
      return 2;
    }
    if (!TqSim::PriamRequestHandler::FromConfDir(confDir, clusterFile, address, error)) {
      std::cerr << "priam-standin: " << error << std::endl;
      return 2;
    }
  }
  TqSim::PriamRequestHandler handler(clusterFile, address);
  int refusal = handler.CheckStart(error);
  if (refusal != 0) {
    std::cerr << "priam-standin: " << error << std::endl;
    return refusal;
  }

  // Priam reads its properties once, at start.
  const std::string propertiesFile = options.Get("--properties");
  if (!propertiesFile.empty() && TqSim::IsFile(propertiesFile)) {
    std::map<std::string, std::string> properties;
    if (!TqSim::PriamRequestHandler::ReadProperties(propertiesFile, properties, error)) {
      std::cerr << "priam-standin: " << error << std::endl;
      return 2;
    }
    handler.SetProperties(std::move(properties));
  }

  RequestLog log(options.Get("--work-dir"));
  httplib::Server server;
  std::mutex handlerMutex;
  auto serve = [&](int kind, const httplib::Request& req, httplib::Response& res) {
    TqSim::SimReply reply;
    {
      std::lock_guard<std::mutex> lock(handlerMutex);
      reply = handler.Handle(kind, req.target, req.body);
    }
    res.status = reply.status;
    bool json = !reply.text.empty() && (reply.text[0] == '{' || reply.text[0] == '[');
    res.set_content(reply.text, json ? "application/json" : "text/plain");
    log.Add(req.method, req.target, req.body, reply.status);
  };
  server.Get(".*",
             [&](const httplib::Request& req, httplib::Response& res) { serve(0, req, res); });
  server.Post(".*",
              [&](const httplib::Request& req, httplib::Response& res) { serve(1, req, res); });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "internal error";
        try {
          std::rethrow_exception(ep);
        } catch (const std::exception& e) {
          what = e.what();
        } catch (...) {
        }
        res.status = 500;
        res.set_content("Priam stand-in failed: " + what, "text/plain");
      });

  int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::cerr << "priam-standin: cannot bind to 127.0.0.1" << std::endl;
    return 1;
  }
  std::string portFile = options.Get("--port-file");
  if (portFile.empty()) {
    std::cout << port << std::endl;
  } else if (!WritePortFile(portFile, port, error)) {
    std::cerr << "priam-standin: " << error << std::endl;
    return 1;
  }

  // Ends the server on a stop signal or when the parent has gone. A stop
  // only takes effect once the server listens, so a signal that comes as
  // soon as the port is known waits for the listening loop to begin.
  std::atomic<bool> listenEnded{false};
  std::thread watcher([&] {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    timespec wait = {0, 200 * 1000 * 1000};
    for (;;) {
      int sig = sigtimedwait(&stopSignals, nullptr, &wait);
      if (sig > 0 || ::getppid() != parent) break;
    }
    while (!server.is_running() && !listenEnded) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server.stop();
  });
  server.listen_after_bind();
  listenEnded = true;
  server.stop();
  watcher.join();
  return 0;
}
