#pragma once
// What the rules tests share: a simulated desktop with fresh encodings and a
// temporary directory of real files, removed with everything in it.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "rules/encoding.h"

namespace tessel {

// The shared encodings keep the code page of the desktop they were made on,
// so every test makes them afresh from its own desktop.
class RulesTest : public ::testing::Test {
protected:
    RulesTest() { TEncoding::FreeInstances(); }
    ~RulesTest() override { TEncoding::FreeInstances(); }

    SimulatedDesktop desktop;
    ScopedPlatform scope{desktop};
    TempFiles files;
};

}  // namespace tessel
