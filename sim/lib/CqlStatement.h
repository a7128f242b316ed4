#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace TqSim {

// The little of CQL that the simulated cluster understands: which object a
// CREATE statement makes, and a keyspace's replication.
struct CqlStatement {
  enum Kind { kCreateKeyspace, kCreateTable, kCreateView, kCreateOther, kOther };

  Kind kind = kOther;
  bool ifNotExists = false;
  std::string keyspace;  // of the object (the keyspace itself for kCreateKeyspace)
  std::string name;      // table or view name
  std::string id;        // "ID = <uuid>" or "ID = '<uuid>'" when given
  nlohmann::json replication = nlohmann::json::object();  // kCreateKeyspace
  std::string text;                                       // the statement as given, trimmed

  // Splits a text at the semicolons outside quoted literals and comments;
  // empty parts are dropped.
  static std::vector<std::string> Split(const std::string& text);
  // Reads one statement; false with `error` for a CREATE it cannot read.
  static bool Parse(const std::string& text, CqlStatement& out, std::string& error);
  // Reads a CQL map literal such as {'class': 'SimpleStrategy', 'replication_factor': 3}
  // into an object of texts.
  static bool ParseMap(const std::string& text, nlohmann::json& out, std::string& error);
};

}  // namespace TqSim
