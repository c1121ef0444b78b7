// kalvo-sample as a user runs it: in a copy of the example folder, against a
// device host serving that folder's network. Every family's part must find
// its units and see them answer.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "tests/support/program_run.h"
#include "tests/support/sample_network_host.h"

namespace kalvo::apitest {
namespace {

struct SampleRun {
    int status = -1;
    std::string output;
};

SampleRun runSample(const std::string& arguments) {
    const auto run = kalvo::testing::runProgram(std::string(KALVO_SAMPLE_PATH) + " " + arguments);
    return {run.exitCode, run.output};
}

TEST(Sample, EveryFamilyAnswersOnTheExampleNetwork) {
    testing::IsolatedEnvironment env;
    SampleNetwork net(env, 0);
    ASSERT_TRUE(net.started()) << net.why();
    const SampleRun run =
        runSample("--cycles 4 --interval-ms 1000");  // a loaded machine is slow to answer
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* line :
         {"4 steps, 0 with an input that did not follow its output",
          "ADA: every value came back through the wiring", "arrived: position 25000"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
}

TEST(Sample, ABadArgumentIsNamedAndTheUsageShown) {
    // In a folder of its own, as a user runs it: the library loads (and
    // writes its log) before the program reads its arguments.
    testing::IsolatedEnvironment env;
    const SampleRun run = runSample("--cycles 0");
    EXPECT_EQ(run.status, 2);
    // The option and the value refused are named, and where to look.
    EXPECT_NE(run.output.find("kalvo-sample: --cycles: Value 0 not in range"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("kalvo-sample --help"), std::string::npos);
}

}  // namespace
}  // namespace kalvo::apitest
