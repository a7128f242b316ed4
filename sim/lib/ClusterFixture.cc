#include "sim/lib/ClusterFixture.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimCommitLog.h"
#include "sim/lib/SimDockerWorld.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimNodeConfig.h"
#include "sim/lib/SimTableDir.h"

namespace TqSim {

namespace {

const char* kSimpleStrategy = "org.apache.cassandra.locator.SimpleStrategy";
const char* kTopologyStrategy = "org.apache.cassandra.locator.NetworkTopologyStrategy";
const char* kSystemLocalDir = "local-7ad54392bcdd35a684174e047860b377";

std::string Base64(const std::string& bytes) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string RandomBytes(SimRandom& random, size_t n) {
  std::string bytes;
  while (bytes.size() < n) {
    uint64_t v = random.Next();
    for (int i = 0; i < 8 && bytes.size() < n; ++i)
      bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  return bytes;
}

// Mixes the parts of a file's identity into one content seed.
uint64_t Mix(uint64_t seed, std::initializer_list<uint64_t> parts) {
  SimRandom r(seed);
  uint64_t v = r.Next();
  for (uint64_t p : parts) {
    SimRandom step(v ^ (p * 0x9E3779B97F4A7C15ull));
    v = step.Next();
  }
  return v;
}

std::string ReplicationCql(const nlohmann::json& replication) {
  std::string out = "{";
  bool first = true;
  // "class" first, then the other members in name order.
  out += "'class': '" + replication.at("class").get<std::string>() + "'";
  first = false;
  for (auto it = replication.begin(); it != replication.end(); ++it) {
    if (it.key() == "class") continue;
    out += std::string(first ? "" : ", ") + "'" + it.key() + "': '" + it->get<std::string>() + "'";
  }
  return out + "}";
}

// A table name as CQL writes it: plain names as they are, any other one
// quoted, its quotes doubled.
std::string CqlName(const std::string& name) {
  bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
  for (const char c : name) {
    plain = plain && (std::islower(static_cast<unsigned char>(c)) ||
                      std::isdigit(static_cast<unsigned char>(c)) || c == '_');
  }
  if (plain) return name;
  std::string quoted = "\"";
  for (const char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string TableCql(const std::string& keyspace, const SimTable& table) {
  std::string compression = table.encrypted
                                ? "{'cipher_algorithm': 'AES/ECB/PKCS5Padding', 'class': "
                                  "'com.datastax.bdp.cassandra.crypto.EncryptingLZ4Compressor', "
                                  "'secret_key_strength': '" +
                                      std::to_string(table.encryption.strength) +
                                      "', 'system_key_file': '" + table.encryption.keyFile + "'}"
                                : "{'chunk_length_in_kb': '64', 'class': "
                                  "'org.apache.cassandra.io.compress.LZ4Compressor'}";
  return "CREATE TABLE " + keyspace + "." + CqlName(table.name) +
         " (\n    id uuid PRIMARY KEY,\n    name text,\n    value blob\n) WITH "
         "bloom_filter_fp_chance = 0.01\n    AND comment = ''\n    AND compaction = {'class': "
         "'org.apache.cassandra.db.compaction.SizeTieredCompactionStrategy'}\n    AND compression "
         "= " +
         compression + "\n    AND gc_grace_seconds = 864000;";
}

std::string Token(int64_t value) { return std::to_string(value); }

}  // namespace

std::string ClusterFixture::SegmentName(int version, uint64_t id) {
  return "CommitLog-" + std::to_string(version) + "-" + std::to_string(id) + ".log";
}

int ClusterFixture::CommitLogVersion(const std::string& cassandraVersion) {
  return std::atoi(cassandraVersion.c_str()) >= 4 ? 7 : 6;
}

bool ClusterFixture::Generate(const std::string& rootIn, const FixtureOptions& o,
                              FixtureResult& result, std::string& error) {
  if (o.nodes < 1 || o.dataCenters < 1 || o.dataCenters > o.nodes || o.keyspaces < 0 ||
      o.tablesPerKeyspace < 0 || o.sstablesPerTable < 0 || o.dataDirsPerNode < 1 ||
      o.tokensPerNode < 1 || o.replicationFactor < 1 || o.commitLogSegments < 0 ||
      o.encryptedTablesPerKeyspace < 0 || o.addressNetwork < 0 || o.addressNetwork > 255) {
    error = "Invalid fixture options";
    return false;
  }
  if (o.nodePrefix.empty() || o.nodePrefix.find_first_of("/\\ \t\n") != std::string::npos ||
      o.nodePrefix == "." || o.nodePrefix == "..") {
    error = "Invalid node name prefix \"" + o.nodePrefix + "\"";
    return false;
  }
  for (const std::string& name : o.quotedTables) {
    if (o.keyspaces < 1 || name.empty() || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || name == "." || name == "..") {
      error = "Invalid table name \"" + name + "\"";
      return false;
    }
  }
  if (o.flavour != "cassandra" && o.flavour != "dse") {
    error = "Unknown flavour " + o.flavour + " (cassandra or dse)";
    return false;
  }
  std::error_code ec;
  std::string root = std::filesystem::absolute(rootIn, ec).lexically_normal().string();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (ec || !MakeDirs(root, error)) {
    if (error.empty()) error = "Cannot use " + rootIn;
    return false;
  }
  result = FixtureResult();
  result.root = root;
  result.clusterFile = JoinPath(root, "cluster.json");
  if (IsFile(result.clusterFile)) {
    error = root + " already holds a cluster";
    return false;
  }

  SimRandom random(o.seed);
  SimCluster cluster;
  cluster.name = o.clusterName;
  cluster.version = o.version;
  cluster.flavour = o.flavour;
  const bool dse = o.flavour == "dse";

  // Nodes, in blocks per data centre.
  std::vector<int> nodesInDc(o.dataCenters, 0);
  std::vector<std::string> seeds;
  for (int i = 0; i < o.nodes; ++i) {
    int dc = static_cast<int>(static_cast<int64_t>(i) * o.dataCenters / o.nodes);
    int indexInDc = nodesInDc[dc]++;
    SimNode n;
    n.name = o.nodePrefix + std::to_string(i + 1);
    n.address = "10." + std::to_string(o.addressNetwork) + "." + std::to_string(dc + 1) + "." +
                std::to_string(indexInDc + 1);
    n.dataCenter = "dc" + std::to_string(dc + 1);
    n.rack = "rack1";
    n.hostId = random.Uuid();
    if (o.tokensPerNode == 1) {
      uint64_t step = static_cast<uint64_t>(-1) / static_cast<uint64_t>(o.nodes);
      n.tokens.push_back(Token(static_cast<int64_t>(0x8000000000000000ull + step * i)));
    } else {
      std::vector<int64_t> tokens;
      for (int t = 0; t < o.tokensPerNode; ++t)
        tokens.push_back(static_cast<int64_t>(random.Next()));
      std::sort(tokens.begin(), tokens.end());
      for (int64_t t : tokens) n.tokens.push_back(Token(t));
    }
    std::string nodeDir = JoinPath(JoinPath(root, "nodes"), n.name);
    n.confDir = JoinPath(nodeDir, "conf");
    n.commitLogArchiveDir = JoinPath(nodeDir, "commitlog_archive");
    if (indexInDc == 0) seeds.push_back(n.address);
    cluster.nodes.push_back(n);
  }

  // Schema.
  for (int k = 1; k <= o.keyspaces; ++k) {
    SimKeyspace ks;
    ks.name = "ks" + std::to_string(k);
    if (k % 2 == 1) {
      ks.replication["class"] = kTopologyStrategy;
      for (int dc = 0; dc < o.dataCenters; ++dc) {
        ks.replication["dc" + std::to_string(dc + 1)] =
            std::to_string(std::min(o.replicationFactor, nodesInDc[dc]));
      }
    } else {
      ks.replication["class"] = kSimpleStrategy;
      ks.replication["replication_factor"] = std::to_string(std::min(o.replicationFactor, o.nodes));
    }
    ks.cql = "CREATE KEYSPACE " + ks.name +
             " WITH replication = " + ReplicationCql(ks.replication) +
             "  AND durable_writes = true;";
    for (int t = 1; t <= o.tablesPerKeyspace; ++t) {
      SimTable table;
      table.name = "t" + std::to_string(t);
      table.id = random.Uuid();
      if (dse && t <= o.encryptedTablesPerKeyspace) {
        table.encrypted = true;
        table.encryption.keyFile = "system_key";
        table.encryption.cipher = "AES";
        table.encryption.strength = 128;
        table.encryption.key = Base64(RandomBytes(random, 16));
        table.encryption.keyId = random.Uuid();
      }
      table.cql = TableCql(ks.name, table);
      ks.tables.push_back(table);
    }
    for (const std::string& name : k == 1 ? o.quotedTables : std::vector<std::string>()) {
      SimTable table;
      table.name = name;
      table.id = random.Uuid();
      table.cql = TableCql(ks.name, table);
      ks.tables.push_back(table);
    }
    cluster.keyspaces.push_back(ks);
  }

  // Per-node files.
  SimDockerWorld docker;
  if (o.docker) {
    // A container that runs no Cassandra comes first in the listing.
    SimDockerContainer proxy;
    proxy.name = "tqsim-proxy";
    proxy.image = "nginx:1.25";
    proxy.mounts.push_back({"bind", JoinPath(root, "proxy"), "/etc/nginx", false});
    docker.containers.push_back(proxy);
  }

  const std::string format = SimTableDir::FormatForVersion(o.version);
  const int logVersion = CommitLogVersion(o.version);
  for (size_t i = 0; i < cluster.nodes.size(); ++i) {
    SimNode& n = cluster.nodes[i];
    std::string nodeDir = ParentPath(n.confDir);
    FixtureNode fn;
    fn.name = n.name;
    fn.address = n.address;
    fn.dataCenter = n.dataCenter;
    fn.confDir = n.confDir;
    fn.commitLogDir = JoinPath(nodeDir, "commitlog");
    fn.commitLogArchiveDir = n.commitLogArchiveDir;
    for (int d = 1; d <= o.dataDirsPerNode; ++d) {
      fn.dataDirs.push_back(JoinPath(nodeDir, "data" + std::to_string(d)));
    }

    SimNodeSettings s;
    s.clusterName = o.clusterName;
    s.listenAddress = n.address;
    s.rpcAddress = n.address;
    s.seeds = seeds;
    s.dataDirs = fn.dataDirs;
    s.commitLogDir = fn.commitLogDir;
    s.savedCachesDir = JoinPath(nodeDir, "saved_caches");
    s.hintsDir = JoinPath(nodeDir, "hints");
    s.incrementalBackups = o.incrementalBackups;
    s.numTokens = o.tokensPerNode;
    s.initialTokens = n.tokens;
    if (o.docker) {
      fn.containerName = "tqsim-" + n.name;
      fn.containerArchiveDir = kContainerArchiveDir;
      SimDockerContainer container;
      container.name = fn.containerName;
      container.image = (dse ? "datastax/dse-server:" : "cassandra:") + o.version;
      container.mounts.push_back({"bind", n.confDir, kContainerConfDir, true});
      container.mounts.push_back({"bind", nodeDir, kContainerNodeDir, true});
      docker.containers.push_back(container);
    }

    SimNodeConfig conf(n.confDir);
    const std::string archiveDir = o.docker ? fn.containerArchiveDir : n.commitLogArchiveDir;
    std::string archiveCommand =
        o.archivingConfigured ? "/bin/ln %path " + archiveDir + "/%name" : "";
    if (!conf.WriteCassandraYaml(s, error) || !conf.WriteRackDc(n.dataCenter, n.rack, error) ||
        !conf.WriteCommitLogArchiving(archiveCommand, error) ||
        !conf.WritePointer(result.clusterFile, n.address, error) ||
        !MakeDirs(s.savedCachesDir, error) || !MakeDirs(s.hintsDir, error)) {
      return false;
    }
    if (dse) {
      fn.systemKeyDir = JoinPath(nodeDir, "systemkeys");
      // Every node holds the same cluster-wide key.
      SimRandom keyRandom(Mix(o.seed, {0x5EC7E7}));
      if (!conf.WriteDseYaml(fn.systemKeyDir, error) ||
          !WriteTextFile(JoinPath(fn.systemKeyDir, "system_key"),
                         "AES/ECB/PKCS5Padding:128:" + Base64(RandomBytes(keyRandom, 16)) + "\n",
                         error)) {
        return false;
      }
    }

    // SSTables: generation g lives in data directory (g - 1) modulo the count.
    for (size_t k = 0; k < cluster.keyspaces.size(); ++k) {
      const SimKeyspace& ks = cluster.keyspaces[k];
      for (size_t t = 0; t < ks.tables.size(); ++t) {
        const SimTable& table = ks.tables[t];
        std::vector<SimTableDir> dirs;
        for (const auto& d : fn.dataDirs) {
          dirs.emplace_back(JoinPath(JoinPath(d, ks.name), TableDirName(table)), format);
          if (!MakeDirs(dirs.back().path(), error)) return false;
        }
        for (int g = 1; g <= o.sstablesPerTable; ++g) {
          const SimTableDir& dir = dirs[(g - 1) % dirs.size()];
          SimSSTable written;
          uint64_t seed = Mix(o.seed, {i + 1, k + 1, t + 1, static_cast<uint64_t>(g)});
          if (!dir.WriteSSTable(g, o.sstableSize, seed, written, error)) return false;
          if (o.incrementalBackups && !dir.LinkIntoBackups(written, error)) return false;
        }
        if (o.unflushedData) n.unflushed.push_back(ks.name + "." + table.name);
      }
    }
    SimTableDir local(JoinPath(JoinPath(fn.dataDirs.front(), "system"), kSystemLocalDir), format);
    SimSSTable written;
    if (!MakeDirs(local.path(), error) ||
        !local.WriteSSTable(1, 512, Mix(o.seed, {i + 1, 0x10CA1}), written, error)) {
      return false;
    }

    // Commit logs: the archived segments and the active one, each holding
    // one write of every table, stamped within the millisecond of its id.
    uint64_t firstId = 1600000000000ull + (i + 1) * 100000ull;
    for (int j = 0; j <= o.commitLogSegments; ++j) {
      const uint64_t id = firstId + j;
      const bool active = j == o.commitLogSegments;
      std::vector<SimMutation> mutations;
      for (const SimKeyspace& ks : cluster.keyspaces) {
        for (const SimTable& table : ks.tables) {
          SimMutation m;
          m.timestampMicros = static_cast<int64_t>(id * 1000 + mutations.size());
          m.table = ks.name + "." + table.name;
          m.value = n.name + "-" + std::to_string(id) + "-" + std::to_string(mutations.size());
          mutations.push_back(m);
        }
      }
      std::string text = SimCommitLog::SegmentText(mutations);
      if (text.size() + 2 < o.commitLogSegmentSize) {
        // Filler up to the segment size, different in every segment.
        SimRandom filler(Mix(o.seed, {i + 1, 0xC0, id}));
        text += "# ";
        while (text.size() + 1 < o.commitLogSegmentSize) {
          text += static_cast<char>('a' + filler.Next() % 26);
        }
        text += "\n";
      }
      const std::string dir = active ? fn.commitLogDir : fn.commitLogArchiveDir;
      if (!WriteTextFile(JoinPath(dir, SegmentName(logVersion, id)), text, error)) return false;
    }
    if (!MakeDirs(fn.commitLogArchiveDir, error)) return false;
    result.nodes.push_back(fn);
  }

  if (o.docker) {
    result.dockerWorld = JoinPath(root, "docker.json");
    if (!docker.Save(result.dockerWorld, error)) return false;
  }
  return SimClusterFile(result.clusterFile).Save(cluster, error);
}

}  // namespace TqSim
