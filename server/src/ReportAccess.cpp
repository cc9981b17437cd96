#include "ReportAccess.h"

#include <arpa/inet.h>

#include <cstring>

bool isLoopbackAddress(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
  static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  static const unsigned char mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(v6.s6_addr, loopback, 16) == 0) return true;
  return std::memcmp(v6.s6_addr, mappedPrefix, 12) == 0 && v6.s6_addr[12] == 127;
}

bool reportAccessAllowed(const std::string& remoteAddress, const std::string& presentedToken,
                         const std::string& token) {
  if (token.empty()) return isLoopbackAddress(remoteAddress);
  // Every byte is looked at whatever the first difference, so the answer's
  // timing does not tell how much of a guess was right.
  unsigned char diff = presentedToken.size() == token.size() ? 0 : 1;
  for (size_t i = 0; i < token.size(); ++i) {
    unsigned char p = i < presentedToken.size() ? static_cast<unsigned char>(presentedToken[i]) : 0;
    diff |= static_cast<unsigned char>(p ^ static_cast<unsigned char>(token[i]));
  }
  return diff == 0;
}
