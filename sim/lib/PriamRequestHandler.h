#pragma once

#include <map>
#include <string>

#include "sim/lib/SimRequest.h"

namespace TqSim {

// Answers the Priam requests of one simulated node from the cluster files.
// Each request holds the cluster file's lock while it runs, reads the
// cluster afresh (so tests may change it between requests) and writes it
// back when it changed.
class PriamRequestHandler {
 public:
  PriamRequestHandler(std::string clusterFile, std::string nodeAddress)
      : clusterFile_(std::move(clusterFile)), address_(std::move(nodeAddress)) {}

  // Finds the cluster file and node named by "tqsim-node.json" in a node's
  // configuration directory.
  static bool FromConfDir(const std::string& confDir, std::string& clusterFile,
                          std::string& address, std::string& error);

  // The start-up check: 0 to go on, else the exit status for the co-process
  // (5: authentication refused) with `message` for its standard error.
  int CheckStart(std::string& message) const;

  // The Priam properties of this start ("priam.ignore.nodes", ...).
  void SetProperties(std::map<std::string, std::string> properties) {
    properties_ = std::move(properties);
  }
  // Reads a properties file as Priam writes it ("key=value" lines, "#"
  // comments, backslash escapes).
  static bool ReadProperties(const std::string& path, std::map<std::string, std::string>& out,
                             std::string& error);

  // kind 0 is a GET without body, 1 a POST with a JSON body.
  SimReply Handle(int kind, const std::string& target, const std::string& body);

  const std::string& address() const { return address_; }
  const std::string& clusterFile() const { return clusterFile_; }

 private:
  SimReply Dispatch(SimContext& context, const SimRequest& request);

  std::string clusterFile_;
  std::string address_;
  std::map<std::string, std::string> properties_;
};

}  // namespace TqSim
