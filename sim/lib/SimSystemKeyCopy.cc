#include "sim/lib/SimSystemKeyCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <vector>

#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/TQPassword.h"
#include "sim/lib/SimFiles.h"

namespace TqSim {

namespace {

constexpr uint32_t kRecordNs = 119;
constexpr uint32_t kKeyInfoClass = 65;
constexpr uint32_t kKeyClass = 64;

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool SimSystemKeyCopy::ReadKeys(const CNMessageBase& message, std::vector<Key>& keys,
                                std::string& error) {
  if (message.getNamespaceId() != kRecordNs || message.getClassId() != kKeyInfoClass) {
    error = "Not a key message: " + message.getTagName();
    return false;
  }
  const std::vector<CNMessageBase>* list = message.getlistobject(1, 1);
  if (list == nullptr) return true;
  for (const CNMessageBase& record : *list) {
    if (record.getNamespaceId() != kRecordNs || record.getClassId() != kKeyClass) continue;
    const std::string path = record.getstring(1, 1);
    const std::string cipherText = record.getstring(2, 2);
    Key key;
    key.fileName = path.empty() || path.back() == '/' ? "" : BaseName(path);
    if (key.fileName.empty() || key.fileName == "." || key.fileName == "..") {
      error = "No key file name in [" + path + "]";
      return false;
    }
    std::vector<char> plain(cipherText.size() + 1);
    unsigned long length = plain.size();
    if (!TQPassword().decrypt(cipherText.c_str(), plain.data(), length)) {
      error = "Failed to decrypt the key file " + path;
      return false;
    }
    key.content.assign(plain.data(), length);
    keys.push_back(key);
  }
  return true;
}

bool SimSystemKeyCopy::KeyFolder(const std::string& confDir, std::string& folder,
                                 std::string& error) {
  const std::string path = JoinPath(confDir, "dse.yaml");
  try {
    YAML::Node root = YAML::LoadFile(path);
    if (root["system_key_directory"]) folder = root["system_key_directory"].as<std::string>();
  } catch (const std::exception& e) {
    error = "Cannot read " + path + ": " + e.what();
    return false;
  }
  if (folder.empty() || folder.front() != '/') {
    error = "No absolute system_key_directory in " + path;
    return false;
  }
  return true;
}

bool SimSystemKeyCopy::WriteKey(const std::string& folder, const Key& key, std::string& error) {
  if (!IsDir(folder)) {
    if (!MakeDirs(folder, error)) return false;
    ::chmod(folder.c_str(), 0700);
  }
  const std::string target = JoinPath(folder, key.fileName);
  std::string temp = JoinPath(folder, "." + key.fileName + ".XXXXXX");
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = "Cannot create a file in " + folder + ": " + std::strerror(errno);
    return false;
  }
  temp = name.data();
  const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, key.content) && ::fsync(fd) == 0;
  const int writeErrno = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
    error = "Cannot write " + target + ": " + std::strerror(written ? errno : writeErrno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

int SimSystemKeyCopy::Run(CTqRemoteCommandPeer& peer, const std::vector<SimUtilityNode>& nodes,
                          const std::string& faultAction) {
  CNMessageBasePtr message;
  CQiError e = peer.Receive(message);
  if (e.IsError()) {
    std::cerr << e.AsString(2) << "\n";
    return 1;
  }
  if (faultAction == "no_answer") {
    peer.Close();
    return 1;
  }
  bool complete = faultAction != "answer_false" && !nodes.empty();
  std::vector<Key> keys;
  std::string error;
  if (complete && !ReadKeys(*message, keys, error)) {
    std::cerr << error << "\n";
    complete = false;
  }
  for (size_t i = 0; complete && i < nodes.size(); ++i) {
    std::string folder;
    complete = KeyFolder(nodes[i].confDir, folder, error);
    for (size_t k = 0; complete && k < keys.size(); ++k)
      complete = WriteKey(folder, keys[k], error);
    if (!complete) std::cerr << error << "\n";
  }
  e = peer.Send(DistributedQEL::DINameValue("complete", complete ? "true" : "false"));
  if (e.IsError()) {
    std::cerr << e.AsString(2) << "\n";
    return 1;
  }
  return complete ? 0 : 1;
}

}  // namespace TqSim
