#pragma once

// The JMX and authentication records of an instance, as the tests of the
// Priam start-ups hand them over: passwords encrypted with the suite's
// cipher.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/CassandraNodeRecords.h"
#include "platform/suite/TQPassword.h"

namespace priamtest {

inline std::string Encrypt(const std::string& plain) {
  char buffer[1024];
  unsigned int length = sizeof buffer;
  EXPECT_NE(TQPassword().encrypt(plain.c_str(), buffer, length), 0);
  return std::string(buffer, length);
}

inline std::string JmxXml(const std::string& host, int64_t port, bool withCredentials,
                          const std::string& user, const std::string& encryptedPassword,
                          const std::string& service) {
  App::JMXConnection jmx;
  jmx.setJmxHost(host);
  jmx.setJmxPort(port);
  jmx.setJmxService(service);
  if (withCredentials) {
    UserCredentials credentials;
    credentials.setUserName(user);
    credentials.setPassword(encryptedPassword);
    jmx.setCredentials(credentials);
  }
  std::string xml;
  EXPECT_EQ(jmx.serialize(xml), 0);
  return xml;
}

// Keystore "/ks/keystore.jks", truststore "/ts/truststore.jks".
inline std::string AuthXml(int64_t enabled, const std::string& keystorePassword,
                           const std::string& truststorePassword) {
  App::CassandraSSLConfig ssl;
  ssl.setSslEnabled(enabled);
  ssl.setKeystorePath("/ks/keystore.jks");
  ssl.setKeystorePassword(keystorePassword);
  ssl.setTruststorePath("/ts/truststore.jks");
  ssl.setTruststorePassword(truststorePassword);
  App::AuthConfig auth;
  auth.setSsl(ssl);
  std::string xml;
  EXPECT_EQ(auth.serialize(xml), 0);
  return xml;
}

}  // namespace priamtest
