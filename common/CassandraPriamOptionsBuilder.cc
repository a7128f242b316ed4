#include "common/CassandraPriamOptionsBuilder.h"

#include <utility>

#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"

namespace TQCassandra {

CassandraPriamOptionsBuilder::CassandraPriamOptionsBuilder(Style style, std::string jvmOptions)
    : style_(style), jvmOptions_(std::move(jvmOptions)) {}

void CassandraPriamOptionsBuilder::SetProperty(const std::string& key, const std::string& value) {
  properties_[key] = value;
}

void CassandraPriamOptionsBuilder::AddProperty(const std::string& key, const std::string& value) {
  if (!value.empty()) properties_[key] = value;
}

void CassandraPriamOptionsBuilder::AddCqlProperties(const std::string& host,
                                                    const std::string& port,
                                                    const std::string& user,
                                                    const std::string& password) {
  AddProperty("priam.cqlhost", host);
  AddProperty("priam.cqlport", port);
  AddProperty("priam.cqlusername", user);
  AddProperty("priam.cqluserpassword", password);
}

void CassandraPriamOptionsBuilder::AddJmxProperties(const std::string& port,
                                                    const std::string& user,
                                                    const std::string& token) {
  AddProperty("priam.jmx.port", port);
  AddProperty("priam.jmx.user", user);
  AddProperty("priam.jmx.token", token);
}

void CassandraPriamOptionsBuilder::AddJmxHostOption(const std::string& host) {
  if (ReadSwitch("nCassandraRemoteJMXEnabled", "Failed to check if remote JMX is enabled") == 0) {
    return;
  }
  TQLOG(2, "Remote JMX access enabled");
  jvmOptions_ += " -Dpriam.jmx.host=";
  jvmOptions_ += host;
}

void CassandraPriamOptionsBuilder::AddSsl(const PriamSslSettings& ssl) {
  if (!ssl.enabled) return;
  // Written whenever SSL is on, so Priam never falls back to a store
  // password of its own.
  properties_["priam.keystore.password"] = ssl.keystorePassword;
  properties_["priam.truststore.password"] = ssl.truststorePassword;

  const bool cqlSslDisabled =
      ReadSwitch("nCassandraCqlSslDisabled", "Failed to check if SSL is disabled for CQL") != 0;
  const bool jmxSslDisabled =
      ReadSwitch("nCassandraJmxSslDisabled", "Failed to check if SSL is disabled for JMX") != 0;
  const bool logBeforeStores = style_ != kNodeStyle;

  jvmOptions_ += cqlSslDisabled ? " -Dcql.ssl.enable=false " : " -Dcql.ssl.enable=true ";
  if (jmxSslDisabled) {
    jvmOptions_ += " -Dssl.enable=false ";
  } else {
    jvmOptions_ += style_ == kCoordinatorStyle ? " -Dssl.enable=true\t" : " -Dssl.enable=true ";
  }
  if (logBeforeStores) TQLOG(2, "Priam additional parameters: %s", jvmOptions_.c_str());
  if (!(cqlSslDisabled && jmxSslDisabled)) {
    if (logBeforeStores) TQLOG(2, "Appending SSL keystore/truststore parameters");
    jvmOptions_ += " -Djavax.net.ssl.keyStore=";
    jvmOptions_ += ssl.keystorePath;
    jvmOptions_ += " -Djavax.net.ssl.trustStore=";
    jvmOptions_ += ssl.truststorePath;
    jvmOptions_ +=
        " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
        " -Dcom.sun.management.jmxremote.registry.ssl=true";
  }
  if (!logBeforeStores) TQLOG(2, "Priam additional parameters: %s", jvmOptions_.c_str());
}

void CassandraPriamOptionsBuilder::WriteProperties(TqCassandra::PriamUtil& priam) const {
  if (properties_.empty()) return;
  CQiError e = priam.writePriamProperties(properties_);
  if (e.IsError()) TQLOG(1, "Priam properties not written: %s", e.AsString(2).c_str());
}

void CassandraPriamOptionsBuilder::ApplyTo(TqCassandra::PriamUtil& priam) const {
  WriteProperties(priam);
  if (!jvmOptions_.empty()) priam.priamAdditionalParameters = jvmOptions_;
}

int64_t CassandraPriamOptionsBuilder::ReadSwitch(const char* name, const char* absentLog) {
  int64_t value = 0;
  if (!TQPlatformInfo().getNumber("Cassandra", name, value) && absentLog) {
    TQLOG(-1, "%s", absentLog);
  }
  return value;
}

}  // namespace TQCassandra
