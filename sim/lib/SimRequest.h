#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/lib/SimCluster.h"

namespace TqSim {

// One request to the Priam stand-in: "name?key=value&?key=value...".
struct SimRequest {
  int kind = 0;      // 0 without body, 1 with a JSON body
  std::string name;  // the resource up to "?"
  std::vector<std::pair<std::string, std::string>>
      params;  // in order; a leading "?" of a key dropped
  std::string body;

  // Reads a request target ("/snapshot?SnapID=a&?keyspace=b"), decoding
  // percent escapes.
  static SimRequest FromTarget(const std::string& target, int kind, const std::string& body);
  std::string Param(const std::string& key) const;  // the first value ("" when absent)
  std::vector<std::string> Params(const std::string& key) const;
  bool Has(const std::string& key) const;
};

struct SimReply {
  int status = 200;
  std::string text;

  static SimReply Ok(std::string text) { return SimReply{200, std::move(text)}; }
  static SimReply Fail(std::string text, int status = 500) {
    return SimReply{status, std::move(text)};
  }
};

// What a request handler works on: the whole cluster (loaded under the
// cluster file's lock) and the node this stand-in serves.
struct SimContext {
  SimCluster& cluster;
  SimNode& self;
  bool changed = false;  // the cluster must be saved
  // The Priam properties the stand-in was started with (none: null).
  const std::map<std::string, std::string>* properties = nullptr;

  std::string Property(const std::string& key) const {
    if (!properties) return "";
    auto it = properties->find(key);
    return it == properties->end() ? std::string() : it->second;
  }
};

}  // namespace TqSim
