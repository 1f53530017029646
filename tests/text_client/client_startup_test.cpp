#include "text_client/client_startup.h"

#include <gtest/gtest.h>

#include <vector>

namespace ecr {
namespace {

TEST(ClientStartup, TitleDropsTheBuildNumber) {
    EXPECT_EQ(ClientTitle("v3.0.4.1"), "Wexhaven v3.0.4");
    EXPECT_EQ(ClientTitle("v0.0.0.0"), "Wexhaven v0.0.0");  // a file without a version
}

TEST(ClientStartup, QuitParameterQBeforeQuit) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> password;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{"-Q:secret"}, "secret"},
        {{"/q:secret"}, "secret"},
        {{"QUIT:other"}, "other"},
        {{"-quit:x", "-Q:y"}, "y"},  // Q is asked for first
        {{"-Q:"}, ""},               // found, with an empty password
        {{"-QUITE:x"}, std::nullopt},
        {{"-Priority:HIGH"}, std::nullopt},
    };
    for (const Case& c : cases) {
        TParamList parameters;
        parameters.ParseCommandLine(c.arguments);
        EXPECT_EQ(QuitRequestPassword(parameters), c.password)
            << (c.arguments.empty() ? "" : c.arguments[0]);
    }
}

}  // namespace
}  // namespace ecr
