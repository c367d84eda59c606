// The rig's own guarantees: a hung case ends and fails instead of hanging,
// a hook's failure fails the case, and the test-side encoder is standard.
#include "rig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace quorbix::e2e {
namespace {

const std::string kPassing =
    settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", base64("a,b\n")}});

TEST(Rig, AHungTokenToolEndsTheRunAsHung) {
    Case c;
    c.unforeseeable = "a token tool that never ends";
    c.settings = kPassing + "QUORBIX_MQTT_SASGEN=1\nQUORBIX_MQTT_PWD=k\n";
    c.token_tool_body = "sleep 600\n";
    // Room for a slow wrapper to reach the tool; well short of the
    // launcher's own bound on it (30 s).
    c.timeout_seconds = 5;
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), -1);
    EXPECT_EQ(r.token_calls.size(), 1u);
}

TEST(Rig, ADaemonThatOutstaysTheTimeoutFailsTheCase) {
    Case c;
    c.settings = kPassing;
    c.timeout_seconds = 5;  // room for a slow wrapper to finish the launcher itself
    c.setup = [] { put_file("/opt/quorbix/bin/quorbix", "#!/opt/e2e/sh\nsleep 600\n", 0755); };
    QUORBIX_RUN_UNCHECKED(r, c);
    EXPECT_EQ(r.status(), 0);
    EXPECT_NE(r.rig_error.find("left processes running"), std::string::npos) << r.rig_error;
}

TEST(Rig, AFailingHookFailsTheCase) {
    Case c;
    c.setup = [] { put_file("/proc/no-such-dir/file", "x"); };
    QUORBIX_RUN_UNCHECKED(r, c);
    EXPECT_NE(r.rig_error.find("/proc/no-such-dir"), std::string::npos) << r.rig_error;
    EXPECT_TRUE(r.statuses.empty());
}

TEST(Rig, AMissingLauncherIsAFailureNotASkip) {
    const char* old = std::getenv("QUORBIX_E2E_LAUNCHER");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("QUORBIX_E2E_LAUNCHER", "/nonexistent/quorbix-launcher", 1);
    RunResult r = run_launcher(Case{});
    if (old != nullptr) {
        ::setenv("QUORBIX_E2E_LAUNCHER", saved.c_str(), 1);
    } else {
        ::unsetenv("QUORBIX_E2E_LAUNCHER");
    }
    if (!r.no_namespace.empty()) {
        if (in_ci()) {
            FAIL() << "no mount namespace under CI: " << r.no_namespace;
        }
        GTEST_SKIP() << "no mount namespace: " << r.no_namespace;
    }
    EXPECT_NE(r.rig_error.find("/nonexistent/quorbix-launcher"), std::string::npos) << r.rig_error;
}

TEST(Rig, Base64IsTheStandardAlphabetWithPadding) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {std::string("\0\xff\xfe", 3), "AP/+"},
    };
    for (const auto& [bytes, encoded] : vectors) {
        EXPECT_EQ(base64(bytes), encoded);
    }
}

}  // namespace
}  // namespace quorbix::e2e
