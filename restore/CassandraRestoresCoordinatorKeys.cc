// The restore coordinator's DSE encryption key copy: the system key files go
// to the node utility on every destination node, then each encrypted table's
// key row is inserted through the coordinator's Priam.

#include <cstring>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraClientLookup.h"
#include "common/CassandraRestoreClientConfig.h"
#include "common/RestoreRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/json/TqJsonWriter.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "platform/network/TqNetwork.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQClient.h"
#include "platform/suite/TQPassword.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

constexpr const char* kUtilityProgram = "RoVerodaruvErad";
constexpr int kLaunchTimeoutSecs = 120;
constexpr int kDisconnectTimeoutSecs = 10;
// The key message carries each key file's content encrypted into a buffer of
// this size.
constexpr size_t kKeyBufferSize = 1024;

// The content of one key file, encrypted for the key message. A content that
// the buffer cannot hold, or that holds a NUL byte (the cipher takes text), is
// refused with its own reason; any other failure is the cipher's.
CQiError EncryptKeyFile(const std::string& path, const std::string& content,
                        std::string& encrypted) {
  if (content.find('\0') != std::string::npos) {
    TQLOG(-1, "Failed to encrypt the content for the key file %s", path.c_str());
    return FXErrorUtil::ErrorWin32(FXLOC, 774,
                                   "Failed to encrypt the content for key file %s: it holds a "
                                   "NUL byte",
                                   path.c_str());
  }
  TQPassword cipher;
  std::vector<char> buffer(kKeyBufferSize);
  unsigned long length = buffer.size();
  if (cipher.encrypt(content.c_str(), buffer.data(), length)) {
    encrypted.assign(buffer.data(), length);
    return CQiError::Success();
  }
  // Tell a content too large for the buffer from a cipher failure.
  std::vector<char> roomy(4 * (content.size() + 64) / 3 + 64);
  unsigned long roomyLength = roomy.size();
  TQLOG(-1, "Failed to encrypt the content for the key file %s", path.c_str());
  if (cipher.encrypt(content.c_str(), roomy.data(), roomyLength)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774,
                                   "Failed to encrypt the content for key file %s: %zu bytes "
                                   "do not fit the key message once encrypted (%zu bytes at "
                                   "most)",
                                   path.c_str(), content.size(), kKeyBufferSize - 1);
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to encrypt the content for key file %s",
                                 path.c_str());
}

}  // namespace

CQiError CCassandraRestores::StartTDEUtil(const std::string& clientName, bool flag) {
  TQ_DEBUG_FUNCTION();
  const int64_t jobId = restoreClientConfig ? restoreClientConfig->getJobId() : 0;
  char arguments[64];
  std::snprintf(arguments, sizeof arguments, "%lld -systemKeyCopy", static_cast<long long>(jobId));
  CNSession::tqsExecuteRemoteCommandType command;
  command.setField1(0);
  command.setProgram(kUtilityProgram);
  command.setArguments(arguments);
  command.setWaitFlag(flag ? 1 : 0);
  command.setField5(0);
  TQLOG(0, "Starting remote agent [%s]", clientName.c_str());

  const std::string localClient = CassandraClientLookup::LocalClientName();
  CQiString mangled;
  TQClient(clientName.c_str(), TQ_NAME_TYPE_CLIENT, 0, nullptr)
      .getNetworkHostnameMangled(mangled, nullptr);
  if (mangled.str().empty()) {
    TQLOG(-1, "Failed to get mangled host name from [%s].", clientName.c_str());
    return FXErrorUtil::ErrorErrNo(FXLOC, 13, "Failed to get mangled host name from [%s].",
                                   clientName.c_str());
  }
  TQLOG(0, "Mangled host name [%s]", mangled.c_str());

  if (!remoteSession) remoteSession.reset(new CTqNetwork());
  bool timedOut = false;
  CQiError e = remoteSession->Attach_RemoteCommand(
      mangled.c_str(), command, nullptr, localClient.c_str(), kLaunchTimeoutSecs, timedOut);
  if (e.IsError()) {
    uint32_t code = 0;
    CQiString text;
    remoteSession->GetLastErrorGenericText(code, text, 0);
    if (!text.str().empty()) {
      TQLOG(-1, "Failed to launch agent on [%s] ERROR %lx %s", clientName.c_str(),
            static_cast<unsigned long>(code), text.c_str());
    }
    return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to launch agent on [%s]: %s",
                                   clientName.c_str(), text.c_str());
  }
  if (timedOut) {
    return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Timed out while launching CassandraUtil on %s",
                                   clientName.c_str());
  }
  TQLOG(0, "Started CassandraUtil on node [%s]", clientName.c_str());
  return CQiError::Success();
}

CQiError CCassandraRestores::HandleCassandraTDE() {
  TQ_DEBUG_FUNCTION();
  if (!systemKeyFiles.empty()) {
    // Every key is encrypted before any node is contacted.
    std::vector<DistributedQEL::CassandraSystemKey> keys;
    for (const auto& file : systemKeyFiles) {
      DistributedQEL::CassandraSystemKey key;
      std::string encrypted;
      CQiError e = EncryptKeyFile(file.first, file.second, encrypted);
      if (e.IsError()) return e;
      key.setKeyFilePath(file.first);
      key.setContent(encrypted);
      keys.push_back(key);
    }
    DistributedQEL::CassandraSystemKeyInfo keyMessage;
    keyMessage.setKeys(keys);

    const std::vector<App::CassandraNode> nodes =
        destConfig ? destConfig->clusterNodes : std::vector<App::CassandraNode>();
    for (const App::CassandraNode& node : nodes) {
      const std::string client = node.getClientName();
      TQLOG(3, " Client [%s] ", client.c_str());
      remoteSession.reset(new (std::nothrow) CTqNetwork());
      if (!remoteSession) {
        return FXErrorUtil::ErrorErrNo(FXLOC, 12, "Failed to allocate memory for CTqNetwork");
      }
      CQiError e = StartTDEUtil(client, true);
      if (e.IsError()) {
        remoteSession.reset();
        return e.Push(FXLOC);
      }

      // The node fails at the first error or time-out; a time-out that
      // reports no error gets one of its own, so that the copy never goes on
      // as if the node had its keys.
      CQiError nodeError;
      bool timedOut = false;
      TQLOG(0, "Sending system keys");
      e = remoteSession->SendXMLMessage(keyMessage, 0, -1, timedOut);
      if (e.IsError() || timedOut) {
        TQLOG(-1, "Failed to send the system keys to node %s", client.c_str());
        nodeError = e.IsError() ? e
                                : FXErrorUtil::ErrorWin32(
                                      FXLOC, 1460, "Timed out while sending the system keys to %s",
                                      client.c_str());
        if (remoteSession->IsConnected()) {
          bool ignored = false;
          remoteSession->Disconnect(kDisconnectTimeoutSecs, ignored);
        }
      } else {
        TQLOG(0, "Receiving ACK");
        CNMessageBasePtr answer;
        e = remoteSession->ReceiveXMLMessage(nullptr, answer, nullptr, 0, -1, timedOut);
        if (e.IsError() || timedOut || !answer) {
          TQLOG(-1, "Failed to receive complete message from node %s", client.c_str());
          nodeError = e.IsError() ? e
                                  : FXErrorUtil::ErrorWin32(
                                        FXLOC, 1460, "Timed out while waiting for the answer of %s",
                                        client.c_str());
        } else if (std::optional<DistributedQEL::DINameValue> value =
                       RecordAs<DistributedQEL::DINameValue>(*answer);
                   !value) {
          TQLOG(-1, "Failed to cast the message. Will disconnect in 30s");
          nodeError = FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to cast the message.");
        } else if (value->getName() != "complete" || value->getValue() != "true") {
          TQLOG(-1, "Failed to create system keys on the node %s", client.c_str());
          nodeError = FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to create system keys.");
        }
      }
      // Releasing the connection ends the utility.
      remoteSession.reset();
      if (nodeError.IsError()) return nodeError.Push(FXLOC);
    }
  }

  for (const cassandraDSEEncryptedTableRow& row : encryptedTableRows) {
    TQLOG(3, "Inserting encrypted_entry row for system key file %s", row.keyFileName.c_str());
    std::string body;
    if (!TqJson::ObjectWriter()
             .Add("key_file", row.keyFileName)
             .Add("key", row.key)
             .Add("cipher", row.cipher)
             .Add("strength", std::to_string(row.strength))
             .Add("key_id", row.keyId)
             .Text(body)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13,
                                     "The key row of key file %s is not valid text for insertKey",
                                     row.keyFileName.c_str());
    }
    if (!priamUtil) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam to insert the key row of key file %s",
                                     row.keyFileName.c_str());
    }
    CQiString reply;
    CQiError e = priamUtil->get(1, CQiString("insertKey"), reply, CQiString(body));
    TQLOG(0, "Insert Entry[%s] Response [%s]", body.c_str(), reply.c_str());
    if (e.IsError()) return handlePriamError(e).Push(FXLOC);
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
