#include "app/shared_state.h"

std::int32_t CurrentPage = 0;
AnsiText CurrentKeyword;

void ReleaseSharedState() {
  AnsiText().swap(CurrentKeyword);
}
