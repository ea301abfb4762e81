// Raises the fatal error at once, for tests/fatal_box/fatal_box_test.sh.
#include "text/text_value.h"

int main() {
  FatalRuntimeError(7, "fatal box probe");
}
