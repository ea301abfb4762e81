#include "http/cookies.h"

#include <gtest/gtest.h>

namespace {

struct MergeCase {
  const char* kept;
  const char* received;
  const char* merged;
  const char* receivedAfter;
};

TEST(CookiesTest, MergesReceivedBeforeKept) {
  const MergeCase cases[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
      // "=deleted" drops the received entry and the kept one of its name; a kept one too.
      {"a=1; b=2", "b=deleted", "a=1", "b=deleted"},
      {"a=deleted; b=2", "", "b=2", ""},
      // Spaces inside values go, in both texts.
      {"a=x y", "b=p q", "b=pq; a=xy", "b=pq"},
      // Two received values of one name both stay; identical entries appear once.
      {"", "n=1; n=2", "n=1; n=2", "n=1;n=2"},
      {"", "n=1; n=1", "n=1", "n=1;n=1"},
      // Of several kept entries with one name only the first survives.
      {"a=1; a=2; b=3", "", "a=1; b=3", ""},
      {"", "", "", ""},
      // A cookie line without a value gives one empty received entry.
      {"a=1", "; ", "; a=1", ";"},
      // A trailing ";" adds nothing; two in a row add an empty entry.
      {"a=1;", "b=2;", "b=2; a=1", "b=2;"},
      {"a=1;;b=2", "", "a=1; ; b=2", ""},
      // Short entries are compared whole against "=deleted"; names are trimmed, case counts.
      {"A=1", "a=2; x", "a=2; x; A=1", "a=2;x"},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(std::string(c.kept) + " | " + c.received);
    AnsiText cookies = c.kept;
    AnsiText received = c.received;
    const AnsiText result = MergeCookies(cookies, received);
    EXPECT_EQ(cookies, c.merged);
    EXPECT_EQ(result, c.merged);
    EXPECT_EQ(received, c.receivedAfter);
  }
}

TEST(CookiesTest, ListHelpers) {
  EXPECT_EQ(CookieName(" sid = 42"), "sid");
  EXPECT_EQ(CookieName("flag"), "flag");
  EXPECT_EQ(CookieName("a=b=c"), "a");
  EXPECT_TRUE(HasCookieName({"x=1", "sid=2"}, "sid"));
  EXPECT_FALSE(HasCookieName({"x=1", "SID=2"}, "sid"));
  EXPECT_EQ(JoinDistinct("a; b; a; c; b", "; "), "a; b; c");
  EXPECT_EQ(JoinDistinct("", "; "), "");
  EXPECT_TRUE(ListContains({"a", "", "b"}, ""));
  EXPECT_FALSE(ListContains({"a", "b"}, "A"));
}

}  // namespace
