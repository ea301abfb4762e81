#include "http/url.h"

#include <gtest/gtest.h>

namespace {

struct AddressCase {
  const char* address;
  const char* host;
  const char* hostWithPort;
  int port;
  const char* path;
};

TEST(UrlTest, TakesAddressesApart) {
  const AddressCase cases[] = {
      {"http://example.com/a/b?c=d", "example.com", "example.com", 80, "/a/b?c=d"},
      {"example.com/x", "example.com", "example.com", 80, "/x"},  // no scheme reads as http
      {"HTTP://WWW.Example.COM/Path/Q?X=Y", "www.example.com", "www.example.com", 80,
       "/Path/Q?X=Y"},
      {"HTTPS://Secure.example.com/", "secure.example.com", "secure.example.com", 443, "/"},
      {"https://example.com", "example.com", "example.com", 443, "/"},
      {"http://example.com:8080/p", "example.com", "example.com:8080", 8080, "/p"},
      {"https://example.com:8443", "example.com", "example.com:8443", 8443, "/"},
      {"http://example.com:/p", "example.com", "example.com:", 0, "/p"},  // colon, no digits
      {"http://example.com:abc/p", "example.com", "example.com:abc", 0, "/p"},
      {"http://example.com", "example.com", "example.com", 80, "/"},
      // A query right after the host stays part of the host; no path is found.
      {"http://example.com?q=1", "example.com?q=1", "example.com?q=1", 80, "/"},
      // Without a scheme, a later "http://" decides where the host is.
      {"example.com/go?to=http://other.org/x", "other.org", "other.org", 80, "/x"},
      {"", "", "", 80, "/"},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(UrlHost(c.address), c.host);
    EXPECT_EQ(UrlHost(c.address, false, true), c.hostWithPort);
    EXPECT_EQ(UrlPort(c.address), c.port);
    EXPECT_EQ(UrlPath(c.address), c.path);
  }
}

TEST(UrlTest, MainDomainKeepsTheLastTwoLabels) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://a.b.example.com/", "example.com"},
      {"http://www.example.com/", "example.com"},
      {"http://localhost/", "localhost"},
      {"http://192.168.1.20/", "1.20"},
      {"http://www.example.com:81/", "example.com"},  // the port leaves with keepPort false
  };
  for (const auto& [address, domain] : cases) {
    SCOPED_TRACE(address);
    EXPECT_EQ(UrlHost(address, true), domain);
  }
  EXPECT_EQ(UrlHost("http://www.example.com:81/", true, true), "example.com:81");
}

}  // namespace
