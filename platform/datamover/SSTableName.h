#pragma once

#include <cstdint>
#include <string>

namespace TqDataMover {

// The name of one component of a Cassandra SSTable, split around its
// generation number:
//   "<version>-<generation>-<format>-<component>"       ("nb-7-big-Data.db")
//   "<keyspace>-<table>-<version>-<generation>-<component>"  ("ks-t-ka-7-Data.db")
// where the version is two lower-case letters and the generation a decimal
// number. Names of other shapes (and generations that are not numbers) are
// not SSTable names here.
struct SSSTableName {
  std::string before;  // up to and including the "-" before the generation
  int64_t generation = 0;
  std::string after;  // from the "-" after the generation

  static bool Parse(const std::string& name, SSSTableName& parsed);
  std::string WithGeneration(int64_t generation) const;
};

}  // namespace TqDataMover
