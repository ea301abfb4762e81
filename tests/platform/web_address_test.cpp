#include "platform/web_address.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(IsWebAddress, LetsOnlyWebAddressesLeaveTheProgram) {
  const std::string longest = "http://h/" + std::string(MaxWebAddressLength - 9, 'a');
  struct Case {
    std::string address;
    bool web;
  };
  const Case cases[] = {
      {"http://pan.baidu.com/s/1abc", true},
      {"https://pan.baidu.com/s/1abc?x=1&y=2#z", true},
      {"HTTP://x", true},
      {"HtTpS://x", true},
      {"http://中文/路径", true},  // code page 936 bytes of a host or path
      {longest, true},
      {longest + "a", false},  // longer than the shell and its browsers take
      {"http://x/" + std::string(10 * 1024, 'a'), false},
      {"", false},
      {"http://", false},
      {"https:///path", false},
      {"http:/x", false},
      {"http:x", false},
      {" http://x", false},
      {"\thttp://x", false},
      {"xhttp://x", false},
      {"ftp://x", false},
      {"file:///etc/passwd", false},
      {"FILE:///C:/Windows/System32/calc.exe", false},
      {"javascript:alert(1)", false},
      {"data:text/html,<script>alert(1)</script>", false},
      {"C:\\Windows\\System32\\calc.exe", false},
      {"/usr/bin/xterm", false},
      {"calc.exe", false},
      {"$(touch /tmp/x)", false},
      {"http://x/\" --new-window file:///", false},  // a quote would end the argument
      {"http://x/\r\nHost: y", false},
      {"http://x/a\x7F", false},
      // No shell ever sees an address: its own characters, and spaces, are harmless.
      {"http://x/a b;|`&<>$(touch x)", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsWebAddress(c.address), c.web) << c.address.substr(0, 60);
  }
}

}  // namespace
