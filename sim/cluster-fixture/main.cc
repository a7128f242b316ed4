// Generates a simulated Cassandra cluster for the Priam stand-in.
//
//   cluster-fixture --root <dir> [--name <cluster>] [--version <v>]
//                   [--flavour cassandra|dse] [--nodes N] [--dcs D]
//                   [--keyspaces K] [--tables T] [--sstables S]
//                   [--sstable-size BYTES] [--data-dirs N] [--tokens N]
//                   [--rf N] [--incremental-backups] [--archiving-configured]
//                   [--commitlog-segments N] [--commitlog-segment-size BYTES]
//                   [--encrypted-tables N] [--no-unflushed] [--docker] [--seed N]
//
// Prints the cluster file and, per node, its address and configuration
// directory (and with --docker its container), then the docker stand-in's
// world file when there is one.

#include <cstdlib>
#include <iostream>
#include <string>

#include "sim/lib/ClusterFixture.h"

namespace {

void Usage() {
  std::cerr << "usage: cluster-fixture --root <dir> [--name <cluster>] [--version <v>] "
               "[--flavour cassandra|dse] [--nodes N] [--dcs D] [--keyspaces K] [--tables T] "
               "[--sstables S] [--sstable-size BYTES] [--data-dirs N] [--tokens N] [--rf N] "
               "[--incremental-backups] [--archiving-configured] [--commitlog-segments N] "
               "[--commitlog-segment-size BYTES] [--encrypted-tables N] [--no-unflushed] "
               "[--docker] [--seed N]\n";
}

bool Number(const char* text, uint64_t& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end || text[0] == '-') return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TqSim::FixtureOptions o;
  std::string root;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--incremental-backups") {
      o.incrementalBackups = true;
      continue;
    }
    if (a == "--archiving-configured") {
      o.archivingConfigured = true;
      continue;
    }
    if (a == "--docker") {
      o.docker = true;
      continue;
    }
    if (a == "--no-unflushed") {
      o.unflushedData = false;
      continue;
    }
    if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    }
    if (i + 1 >= argc) {
      std::cerr << "cluster-fixture: " << a << " needs a value\n";
      Usage();
      return 2;
    }
    const char* v = argv[++i];
    uint64_t n = 0;
    bool ok = true;
    if (a == "--root") {
      root = v;
    } else if (a == "--name") {
      o.clusterName = v;
    } else if (a == "--version") {
      o.version = v;
    } else if (a == "--flavour") {
      o.flavour = v;
    } else if (a == "--sstable-size") {
      ok = Number(v, o.sstableSize);
    } else if (a == "--commitlog-segment-size") {
      ok = Number(v, o.commitLogSegmentSize);
    } else if (a == "--seed") {
      ok = Number(v, o.seed);
    } else if ((ok = Number(v, n) && n <= 1000000)) {
      int count = static_cast<int>(n);
      if (a == "--nodes") {
        o.nodes = count;
      } else if (a == "--dcs") {
        o.dataCenters = count;
      } else if (a == "--keyspaces") {
        o.keyspaces = count;
      } else if (a == "--tables") {
        o.tablesPerKeyspace = count;
      } else if (a == "--sstables") {
        o.sstablesPerTable = count;
      } else if (a == "--data-dirs") {
        o.dataDirsPerNode = count;
      } else if (a == "--tokens") {
        o.tokensPerNode = count;
      } else if (a == "--rf") {
        o.replicationFactor = count;
      } else if (a == "--commitlog-segments") {
        o.commitLogSegments = count;
      } else if (a == "--encrypted-tables") {
        o.encryptedTablesPerKeyspace = count;
      } else {
        std::cerr << "cluster-fixture: unknown option " << a << "\n";
        Usage();
        return 2;
      }
    }
    if (!ok) {
      std::cerr << "cluster-fixture: " << a << " needs a number, not " << v << "\n";
      return 2;
    }
  }
  if (root.empty()) {
    Usage();
    return 2;
  }
  TqSim::FixtureResult result;
  std::string error;
  if (!TqSim::ClusterFixture::Generate(root, o, result, error)) {
    std::cerr << "cluster-fixture: " << error << "\n";
    return 1;
  }
  std::cout << result.clusterFile << "\n";
  for (const auto& n : result.nodes) {
    std::cout << n.address << " " << n.confDir;
    if (!n.containerName.empty()) std::cout << " " << n.containerName;
    std::cout << "\n";
  }
  if (!result.dockerWorld.empty()) std::cout << result.dockerWorld << "\n";
  return 0;
}
