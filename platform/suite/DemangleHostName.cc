#include "platform/suite/DemangleHostName.h"

bool DemangleHostName(const std::string& mangled, std::string& hostName, std::string& clientName) {
  const size_t star = mangled.find('*');
  std::string client = star == std::string::npos ? mangled : mangled.substr(0, star);
  std::string host = star == std::string::npos ? mangled : mangled.substr(star + 1);
  if (client.empty() || host.empty() || host.find('*') != std::string::npos) return false;
  hostName = host;
  clientName = client;
  return true;
}
