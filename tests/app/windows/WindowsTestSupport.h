#pragma once
// The fixture of the window tests: the headless user interface and the theme in light mode.

#include <gtest/gtest.h>

#include "frameworks/JWAppThemeHelper.h"
#include "kit/headless/HeadlessUi.h"
#include "kit/headless/TestEnvironment.h"
#include "kit/ui/Application.h"
#include "kit/ui/Create.h"
#include "kit/ui/Window.h"

namespace quarn::testing {

class WindowsTest : public ::testing::Test {
protected:
    WindowsTest() { JWAppThemeHelper::resetForTesting(); }
    ~WindowsTest() override { JWAppThemeHelper::resetForTesting(); }

    kit::TestEnvironment env;
    kit::HeadlessUi ui;
};

}  // namespace quarn::testing
