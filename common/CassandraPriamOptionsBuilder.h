#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// SSL settings of an App::AuthConfig as a Priam start-up uses them.
struct PriamSslSettings {
  bool enabled = false;
  std::string keystorePath;
  // Base64 of the plain keystore password.
  std::string keystorePassword;
  std::string truststorePath;
  // Base64 of the plain truststore password.
  std::string truststorePassword;
};

// Builds the property set and the extra JVM options with which a Priam
// co-process is started, from settings already read (passwords as base64 of
// their plain text). Every Priam of the plug-in follows these rules: the JMX
// endpoint and credentials as properties, the JMX host as a JVM option when
// remote JMX is enabled, the keystore and truststore passwords as properties
// and the SSL switches and stores as JVM options when SSL is on. Callers add
// what only they need (the CQL endpoint and credentials) through the same
// builder, and the JVM options follow the order of the calls.
class CassandraPriamOptionsBuilder {
 public:
  using Properties = std::map<std::string, std::string>;

  // Spelling of the SSL part of the JVM options and of its log lines:
  // - kCoordinatorStyle: " -Dssl.enable=true" ends in a tab; the options are
  //   logged before the stores are appended, with "Appending SSL
  //   keystore/truststore parameters".
  // - kNodeStyle: ends in a blank; the options are logged once complete.
  // - kServiceStyle: ends in a blank; logged like kCoordinatorStyle.
  enum Style { kCoordinatorStyle, kNodeStyle, kServiceStyle };

  // `jvmOptions` is the text the options are appended to.
  explicit CassandraPriamOptionsBuilder(Style style, std::string jvmOptions = std::string());

  // Sets a property whatever its value.
  void SetProperty(const std::string& key, const std::string& value);
  // Adds a property only when `value` is not empty.
  void AddProperty(const std::string& key, const std::string& value);

  // "priam.cqlhost", "priam.cqlport", "priam.cqlusername",
  // "priam.cqluserpassword", each when its value is not empty.
  void AddCqlProperties(const std::string& host, const std::string& port, const std::string& user,
                        const std::string& password);
  // "priam.jmx.port", "priam.jmx.user", "priam.jmx.token", each when its
  // value is not empty.
  void AddJmxProperties(const std::string& port, const std::string& user, const std::string& token);
  // For JMX settings that are present: appends " -Dpriam.jmx.host=<host>"
  // when the registry switch "Cassandra"/nCassandraRemoteJMXEnabled is
  // non-zero.
  void AddJmxHostOption(const std::string& host);
  // Nothing when SSL is off. Otherwise the two password properties, then
  // " -Dcql.ssl.enable=false|true " and " -Dssl.enable=false|true " after the
  // switches nCassandraCqlSslDisabled and nCassandraJmxSslDisabled, and,
  // unless both are set, the keystore, truststore and client-authentication
  // options.
  void AddSsl(const PriamSslSettings& ssl);

  const Properties& properties() const { return properties_; }
  const std::string& jvmOptions() const { return jvmOptions_; }

  // Writes the property set when it has entries. A failed write is logged:
  // the start then runs with Priam's defaults and reveals it.
  void WriteProperties(TqCassandra::PriamUtil& priam) const;
  // WriteProperties, then hands the JVM options to the utility when there
  // are any.
  void ApplyTo(TqCassandra::PriamUtil& priam) const;

  // A number of registry section "Cassandra", 0 when absent; `absentLog`
  // (when given) is logged at error level for an absent value.
  static int64_t ReadSwitch(const char* name, const char* absentLog);

 private:
  Style style_;
  std::string jvmOptions_;
  Properties properties_;
};

}  // namespace TQCassandra
