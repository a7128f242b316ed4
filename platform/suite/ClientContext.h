#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

// Who "this machine's client" is for the calling thread.
struct SClientIdentity {
  std::string clientName;
  uint64_t clientId = 0;
  std::string hostName;
  // Empty: the client's folder under the suite home (see JobResultsDirectory).
  std::string jobResultsDirectory;
  // Empty: the registry value "Base"/dBASEHOME.
  std::string baseDirectory;
};

// "This machine's client" as a context of the calling thread, so that one
// process can run several simulated node controllers at once. Whoever drives
// a controller or worker sets it (CClientContextScope); threads started with
// StartThread inherit their creator's context. A thread without a context
// answers with the process defaults: client name from the environment
// variable TQ_CLIENT_NAME or else the short host name, client id from
// TQ_CLIENT_ID or else 0, and the real host name.
class CClientContext {
 public:
  using Ptr = std::shared_ptr<const SClientIdentity>;

  // The calling thread's context, or null when none is set.
  static Ptr Current();
  // Sets the calling thread's context (null clears it) and returns the one
  // it replaces.
  static Ptr Exchange(Ptr identity);

  // The calling thread's identity: the context's values, else the defaults.
  static std::string ClientName();
  static uint64_t ClientId();
  static std::string HostName();
  // The base directory: the context's, else the registry value
  // "Base"/dBASEHOME, else "".
  static std::string BaseDirectory();

  // The job results directory of `clientName`: the context's own when the
  // name is the context's client and it names one, else
  // <suite home>/<client name>/JobResults. The directory is created when
  // missing. A name that could leave the suite home ("", ".", "..", or one
  // holding "/") is made safe by replacing those characters with "_".
  static std::string JobResultsDirectory(const std::string& clientName);

  // The folder under which every simulated client keeps its files: the value
  // set with SetSuiteHome, else the environment variable TQ_SUITE_HOME, else
  // /tmp/tqsuite-<uid>.
  static std::string SuiteHome();
  // Sets the suite home for the process ("" returns to the default).
  static void SetSuiteHome(const std::string& path);

  // Starts a thread that runs f(args...) with the creator's context.
  template <typename F, typename... A>
  static std::thread StartThread(F&& f, A&&... args) {
    Ptr context = Current();
    return std::thread([context, fn = std::forward<F>(f),
                        arguments = std::make_tuple(std::forward<A>(args)...)]() mutable {
      Exchange(context);
      std::apply(fn, std::move(arguments));
    });
  }
};
