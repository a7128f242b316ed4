#pragma once

#include <string>

// Splits a media agent name as the archive manager gives it, "<client
// name>*<host name>", into its host name and client name. A name without "*"
// is both. False (outputs untouched) for an empty name or an empty part.
bool DemangleHostName(const std::string& mangled, std::string& hostName, std::string& clientName);
