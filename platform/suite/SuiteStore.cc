#include "platform/suite/SuiteStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>
#include <nlohmann/json.hpp>
#include <type_traits>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiFile.h"
#include "platform/suite/ClientContext.h"

using nlohmann::json;

namespace {

const char kClientsFile[] = "clients.json";
const char kInstancesFile[] = "instances.json";
const char kSubclientsFile[] = "subclients.json";
const char kLockFile[] = ".lock";

// ---- JSON form of the records ----

json ToJson(const SClientRecord& c) {
  return json{{"id", c.id},
              {"name", c.name},
              {"hostName", c.hostName},
              {"mangledHostName", c.mangledHostName},
              {"operatingSystemId", c.operatingSystemId},
              {"addresses", c.addresses}};
}

json ToJson(const SInstanceRecord& i) {
  return json{{"id", i.id},
              {"name", i.name},
              {"clientId", i.clientId},
              {"applicationType", i.applicationType},
              {"cassandraConfigFile", i.cassandraConfigFile},
              {"javaHome", i.javaHome},
              {"gatewayHost", i.gatewayHost},
              {"gatewayCqlPort", i.gatewayCqlPort},
              {"gatewayUser", i.gatewayUser},
              {"gatewayPassword", i.gatewayPassword},
              {"jmxConfig", i.jmxConfigXml},
              {"authConfig", i.authConfigXml},
              {"enableCommitLogBackup", i.enableCommitLogBackup},
              {"archiveLogPath", i.archiveLogPath},
              {"archiveCommand", i.archiveCommand},
              {"clusterName", i.clusterName},
              {"version", i.version},
              {"nodes", i.nodeXmls}};
}

json ToJson(const SSubclientRecord& s) {
  return json{{"id", s.id},
              {"name", s.name},
              {"instanceId", s.instanceId},
              {"backupSetId", s.backupSetId},
              {"isDefault", s.isDefault},
              {"maxStreams", s.maxStreams},
              {"content", s.contentXml},
              {"backedUpContent", s.backedUpContentXml}};
}

// Reads `key` of `o` into `value` when present; false when the value has the
// wrong type or does not fit.
template <typename T>
bool Read(const json& o, const char* key, T& value) {
  auto it = o.find(key);
  if (it == o.end() || it->is_null()) return true;
  if constexpr (std::is_same_v<T, bool>) {
    if (!it->is_boolean()) return false;
    value = it->get<bool>();
  } else if constexpr (std::is_integral_v<T>) {
    if (it->is_number_unsigned()) {
      const uint64_t v = it->get<uint64_t>();
      if (v > static_cast<uint64_t>(std::numeric_limits<T>::max())) return false;
      value = static_cast<T>(v);
    } else if (it->is_number_integer()) {
      const int64_t v = it->get<int64_t>();
      if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
          (v > 0 &&
           static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<T>::max()))) {
        return false;
      }
      value = static_cast<T>(v);
    } else {
      return false;
    }
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!it->is_string()) return false;
    value = it->get<std::string>();
  } else {
    static_assert(std::is_same_v<T, std::vector<std::string>>);
    if (!it->is_array()) return false;
    std::vector<std::string> texts;
    for (const json& element : *it) {
      if (!element.is_string()) return false;
      texts.push_back(element.get<std::string>());
    }
    value = std::move(texts);
  }
  return true;
}

bool FromJson(const json& o, SClientRecord& c) {
  return o.is_object() && Read(o, "id", c.id) && Read(o, "name", c.name) &&
         Read(o, "hostName", c.hostName) && Read(o, "mangledHostName", c.mangledHostName) &&
         Read(o, "operatingSystemId", c.operatingSystemId) && Read(o, "addresses", c.addresses);
}

bool FromJson(const json& o, SInstanceRecord& i) {
  return o.is_object() && Read(o, "id", i.id) && Read(o, "name", i.name) &&
         Read(o, "clientId", i.clientId) && Read(o, "applicationType", i.applicationType) &&
         Read(o, "cassandraConfigFile", i.cassandraConfigFile) && Read(o, "javaHome", i.javaHome) &&
         Read(o, "gatewayHost", i.gatewayHost) && Read(o, "gatewayCqlPort", i.gatewayCqlPort) &&
         Read(o, "gatewayUser", i.gatewayUser) && Read(o, "gatewayPassword", i.gatewayPassword) &&
         Read(o, "jmxConfig", i.jmxConfigXml) && Read(o, "authConfig", i.authConfigXml) &&
         Read(o, "enableCommitLogBackup", i.enableCommitLogBackup) &&
         Read(o, "archiveLogPath", i.archiveLogPath) &&
         Read(o, "archiveCommand", i.archiveCommand) && Read(o, "clusterName", i.clusterName) &&
         Read(o, "version", i.version) && Read(o, "nodes", i.nodeXmls);
}

bool FromJson(const json& o, SSubclientRecord& s) {
  return o.is_object() && Read(o, "id", s.id) && Read(o, "name", s.name) &&
         Read(o, "instanceId", s.instanceId) && Read(o, "backupSetId", s.backupSetId) &&
         Read(o, "isDefault", s.isDefault) && Read(o, "maxStreams", s.maxStreams) &&
         Read(o, "content", s.contentXml) && Read(o, "backedUpContent", s.backedUpContentXml);
}

// The list name inside each file.
const char* ListKey(const SClientRecord*) { return "clients"; }
const char* ListKey(const SInstanceRecord*) { return "instances"; }
const char* ListKey(const SSubclientRecord*) { return "subclients"; }

// ---- files ----

// Reads every record of one file; a missing file holds none.
template <typename R>
CQiError LoadAll(const std::string& path, std::vector<R>& records) {
  records.clear();
  if (!FXPath::DoesPathExist(path.c_str())) return CQiError::Success();
  std::string text;
  CQiError error = CQiFile::ReadWholeFile(path.c_str(), text);
  if (error.IsError()) return error.Push(FXLOC);
  json document = json::parse(text, nullptr, false);
  const char* key = ListKey(static_cast<R*>(nullptr));
  if (document.is_discarded() || !document.is_object() || !document.contains(key) ||
      !document[key].is_array()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Suite records file %s is damaged", path.c_str());
  }
  for (const json& element : document[key]) {
    R record;
    if (!FromJson(element, record)) {
      records.clear();
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "Suite records file %s holds a damaged %s record",
                                     path.c_str(), key);
    }
    records.push_back(std::move(record));
  }
  return CQiError::Success();
}

// Writes every record as a new file that then replaces `path`.
template <typename R>
CQiError StoreAll(const std::string& path, const std::vector<R>& records) {
  json list = json::array();
  for (const R& record : records) list.push_back(ToJson(record));
  json document;
  document[ListKey(static_cast<const R*>(nullptr))] = std::move(list);
  const std::string text = document.dump(2) + "\n";

  CQiError error = CQiFile::ReplaceWholeFile(path.c_str(), text, 0600);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

// Exclusive right to change the store's files: a process-wide mutex (flock
// does not exclude threads that share one open file) and an exclusive lock on
// the store's lock file (other processes).
class CStoreLock {
 public:
  explicit CStoreLock(const std::string& directory) : guard_(Mutex()) {
    error_ = CQiDirectory::Create(directory.c_str(), true);
    if (error_.IsError()) return;
    const std::string path = FXPath::Join(directory, kLockFile);
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      error_ = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to open %s", path.c_str());
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error_ = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to lock %s", path.c_str());
      return;
    }
  }
  ~CStoreLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  CStoreLock(const CStoreLock&) = delete;
  CStoreLock& operator=(const CStoreLock&) = delete;

  const CQiError& error() const { return error_; }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  std::lock_guard<std::mutex> guard_;
  int fd_ = -1;
  CQiError error_;
};

template <typename R>
uint64_t NextId(const std::vector<R>& records) {
  uint64_t top = 0;
  for (const R& r : records) top = std::max(top, r.id);
  return top + 1;
}

// Replaces the record with the same id, or appends it.
template <typename R>
void Put(std::vector<R>& records, const R& record) {
  for (R& r : records) {
    if (r.id == record.id) {
      r = record;
      return;
    }
  }
  records.push_back(record);
}

template <typename R>
CQiError FindOne(const std::string& path, uint64_t id, const char* kind, R& out) {
  std::vector<R> records;
  CQiError error = LoadAll(path, records);
  if (error.IsError()) return error.Push(FXLOC);
  for (const R& r : records) {
    if (r.id == id) {
      out = r;
      return CQiError::Success();
    }
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 1168, "%s %llu not found", kind,
                                 static_cast<unsigned long long>(id));
}

template <typename R>
CQiError ChangeOne(const std::string& directory, const std::string& path, uint64_t id,
                   const char* kind, const std::function<void(R&)>& change) {
  CStoreLock lock(directory);
  if (lock.error().IsError()) return CQiError(lock.error()).Push(FXLOC);
  std::vector<R> records;
  CQiError error = LoadAll(path, records);
  if (error.IsError()) return error.Push(FXLOC);
  for (R& r : records) {
    if (r.id != id) continue;
    change(r);
    r.id = id;
    error = StoreAll(path, records);
    if (error.IsError()) return error.Push(FXLOC);
    return CQiError::Success();
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 1168, "%s %llu not found", kind,
                                 static_cast<unsigned long long>(id));
}

}  // namespace

CSuiteStore::CSuiteStore(std::string directory) : directory_(std::move(directory)) {}

std::string CSuiteStore::DefaultDirectory() {
  return FXPath::Join(CClientContext::SuiteHome(), "central");
}

CSuiteStore CSuiteStore::Default() { return CSuiteStore(DefaultDirectory()); }

std::string CSuiteStore::FilePath(const char* name) const { return FXPath::Join(directory_, name); }

CQiError CSuiteStore::RegisterClient(SClientRecord& client) {
  if (client.name.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 87, "A client needs a name");
  CStoreLock lock(directory_);
  if (lock.error().IsError()) return CQiError(lock.error()).Push(FXLOC);
  const std::string path = FilePath(kClientsFile);
  std::vector<SClientRecord> clients;
  CQiError error = LoadAll(path, clients);
  if (error.IsError()) return error.Push(FXLOC);
  if (client.id == 0) client.id = NextId(clients);
  for (const SClientRecord& other : clients) {
    if (other.id == client.id) continue;
    if (other.name == client.name) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Client name %s is already client %llu",
                                     client.name.c_str(),
                                     static_cast<unsigned long long>(other.id));
    }
    for (const std::string& address : client.addresses) {
      if (std::find(other.addresses.begin(), other.addresses.end(), address) !=
          other.addresses.end()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Address %s already belongs to client %s",
                                       address.c_str(), other.name.c_str());
      }
    }
  }
  Put(clients, client);
  error = StoreAll(path, clients);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::LoadClients(std::vector<SClientRecord>& clients) const {
  CQiError error = LoadAll(FilePath(kClientsFile), clients);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::LoadClient(uint64_t id, SClientRecord& client) const {
  CQiError error = FindOne(FilePath(kClientsFile), id, "Client", client);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::RegisterInstance(SInstanceRecord& instance) {
  CStoreLock lock(directory_);
  if (lock.error().IsError()) return CQiError(lock.error()).Push(FXLOC);
  SClientRecord owner;
  CQiError error = FindOne(FilePath(kClientsFile), instance.clientId, "Client", owner);
  if (error.IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The instance's client %llu is not registered",
                                   static_cast<unsigned long long>(instance.clientId));
  }
  const std::string path = FilePath(kInstancesFile);
  std::vector<SInstanceRecord> instances;
  error = LoadAll(path, instances);
  if (error.IsError()) return error.Push(FXLOC);
  if (instance.id == 0) instance.id = NextId(instances);
  Put(instances, instance);
  error = StoreAll(path, instances);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::LoadInstances(std::vector<SInstanceRecord>& instances) const {
  CQiError error = LoadAll(FilePath(kInstancesFile), instances);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::LoadInstance(uint64_t id, SInstanceRecord& instance) const {
  CQiError error = FindOne(FilePath(kInstancesFile), id, "Instance", instance);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::UpdateInstance(uint64_t id,
                                     const std::function<void(SInstanceRecord&)>& change) {
  CQiError error = ChangeOne(directory_, FilePath(kInstancesFile), id, "Instance", change);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::RegisterSubclient(SSubclientRecord& subclient) {
  CStoreLock lock(directory_);
  if (lock.error().IsError()) return CQiError(lock.error()).Push(FXLOC);
  SInstanceRecord instance;
  CQiError error = FindOne(FilePath(kInstancesFile), subclient.instanceId, "Instance", instance);
  if (error.IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The subclient's instance %llu is not registered",
                                   static_cast<unsigned long long>(subclient.instanceId));
  }
  const std::string path = FilePath(kSubclientsFile);
  std::vector<SSubclientRecord> subclients;
  error = LoadAll(path, subclients);
  if (error.IsError()) return error.Push(FXLOC);
  if (subclient.id == 0) subclient.id = NextId(subclients);
  if (subclient.isDefault) {
    for (const SSubclientRecord& other : subclients) {
      if (other.id != subclient.id && other.isDefault &&
          other.backupSetId == subclient.backupSetId) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                       "Backup set %llu already has the default subclient %llu",
                                       static_cast<unsigned long long>(subclient.backupSetId),
                                       static_cast<unsigned long long>(other.id));
      }
    }
  }
  Put(subclients, subclient);
  std::sort(subclients.begin(), subclients.end(),
            [](const SSubclientRecord& a, const SSubclientRecord& b) { return a.id < b.id; });
  error = StoreAll(path, subclients);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::LoadSubclients(std::vector<SSubclientRecord>& subclients) const {
  CQiError error = LoadAll(FilePath(kSubclientsFile), subclients);
  if (error.IsError()) return error.Push(FXLOC);
  std::sort(subclients.begin(), subclients.end(),
            [](const SSubclientRecord& a, const SSubclientRecord& b) { return a.id < b.id; });
  return CQiError::Success();
}

CQiError CSuiteStore::LoadSubclient(uint64_t id, SSubclientRecord& subclient) const {
  CQiError error = FindOne(FilePath(kSubclientsFile), id, "Subclient", subclient);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CSuiteStore::UpdateSubclient(uint64_t id,
                                      const std::function<void(SSubclientRecord&)>& change) {
  CQiError error = ChangeOne(directory_, FilePath(kSubclientsFile), id, "Subclient", change);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}
