// The fixture most tests start from: the one test world and its memory, counted.
#pragma once

#include <gtest/gtest.h>

#include "support/world.h"
#include "support/wrappers.h"

namespace quilo::test {

class WorldTest : public ::testing::Test {
  protected:
    TestWorld w;
    CountingMemory mem{w.proc.memory()};
    platform::Files& files = w.proc.files();
};

}  // namespace quilo::test
