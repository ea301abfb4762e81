// The policy by which the HTTP session follows redirects on every platform: where a Location
// leads, with which method and body, and whether the caller's credentials go along.
#include "platform/http_redirect.h"

#include <gtest/gtest.h>

namespace {

WebAddress Parsed(std::string_view address) {
  WebAddress parsed;
  EXPECT_TRUE(ParseWebAddress(address, parsed)) << address;
  return parsed;
}

TEST(RedirectPolicyTest, ReadsLocationsAgainstTheAnsweringAddress) {
  const WebAddress base = Parsed("http://Example.COM:8080/dir/page?x=1");
  const std::pair<const char*, const char*> cases[] = {
      {"https://other.example/a?b#frag", "https://other.example/a?b"},
      {"HTTP://other.example:80", "http://other.example/"},
      {"//cdn.example/x", "http://cdn.example/x"},
      {"/root?q", "http://example.com:8080/root?q"},
      {"?only=query", "http://example.com:8080/dir/page?only=query"},
      {"next", "http://example.com:8080/dir/next"},
      {"  /spaced  ", "http://example.com:8080/spaced"},
  };
  for (const auto& [location, want] : cases) {
    WebAddress target;
    ASSERT_TRUE(ResolveLocation(base, location, target)) << location;
    EXPECT_EQ(WebAddressText(target), want) << location;
  }
  for (const char* refused : {"", "#frag", "file:///etc/passwd", "javascript:alert(1)", "ftp://x/",
                              "http://user@evil.example/", "http://:80/", "http://x:0/",
                              "http://x:65536/", "http://x:8a/"}) {
    WebAddress target;
    EXPECT_FALSE(ResolveLocation(base, refused, target)) << refused;
  }
}

TEST(RedirectPolicyTest, StatusDecidesMethodBodyAndOriginDecidesCredentials) {
  const WebAddress origin = Parsed("http://a.example/start");
  struct Case {
    int status;
    const char* location;
    bool followed;
    const char* verb;  // of the hop, for a POST
    bool keepBody;
    bool keepCredentials;
  };
  const Case cases[] = {
      {301, "/next", true, "GET", false, true},
      {302, "/next", true, "GET", false, true},
      {303, "/next", true, "GET", false, true},
      {307, "/next", true, "POST", true, true},
      {308, "/next", true, "POST", true, true},
      {302, "http://b.example/next", true, "GET", false, false},
      {307, "http://a.example:8080/next", true, "POST", true, false},  // another port
      {307, "https://a.example/next", true, "POST", true, false},      // another scheme
      {302, "http://A.EXAMPLE:80/next", true, "GET", false, true},     // the same origin
      {300, "/next", false, "", false, false},
      {304, "/next", false, "", false, false},
      {305, "/next", false, "", false, false},
      {200, "/next", false, "", false, false},
      {302, "", false, "", false, false},
      {302, "mailto:x@example.com", false, "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.status << " " << c.location);
    RedirectHop hop;
    ASSERT_EQ(NextRedirectHop(c.status, c.location, origin, origin, "POST", hop), c.followed);
    if (!c.followed) continue;
    EXPECT_EQ(hop.verb, c.verb);
    EXPECT_EQ(hop.keepBody, c.keepBody);
    EXPECT_EQ(hop.keepCredentials, c.keepCredentials);
  }
}

TEST(RedirectPolicyTest, HttpsIsNeverFollowedToHttp) {
  const WebAddress secure = Parsed("https://a.example/start");
  RedirectHop hop;
  EXPECT_FALSE(NextRedirectHop(302, "http://a.example/start", secure, secure, "GET", hop));
  EXPECT_FALSE(NextRedirectHop(301, "HTTP://b.example/", secure, secure, "GET", hop));
  EXPECT_TRUE(NextRedirectHop(302, "https://b.example/", secure, secure, "GET", hop));
  EXPECT_TRUE(NextRedirectHop(302, "/elsewhere", secure, secure, "GET", hop));
  EXPECT_TRUE(hop.target.secure);
  // A relative location stays on https; a scheme-relative one too.
  EXPECT_TRUE(NextRedirectHop(302, "//c.example/x", secure, secure, "GET", hop));
  EXPECT_EQ(WebAddressText(hop.target), "https://c.example/x");
}

TEST(RedirectPolicyTest, CredentialsComeOutOfTheHeaderBlockInAnyLetterCase) {
  EXPECT_EQ(WithoutCredentials("Referer: http://a/\r\nCookie: s=1\r\nAccept: */*\r\n"
                               "authorization: Basic x\r\nCOOKIE : t=2\r\nX-Cookie: kept"),
            "Referer: http://a/\r\nAccept: */*\r\nX-Cookie: kept");
  EXPECT_EQ(WithoutCredentials("Cookie: only"), "");
}

TEST(RedirectPolicyTest, ReadsStatusAndTheLastLocationOfABlock) {
  const std::string block =
      "HTTP/1.1 302 Found\r\nContent-Location: /no\r\nLocation: /first\r\nlocation:  /last "
      "\r\n\r\n";
  EXPECT_EQ(ResponseStatus(block), 302);
  EXPECT_EQ(ResponseLocation(block), "/last");
  EXPECT_EQ(ResponseStatus("HTTP/1.0 30"), 0);
  EXPECT_EQ(ResponseLocation("HTTP/1.1 200 OK\r\n\r\n"), "");
}

}  // namespace
