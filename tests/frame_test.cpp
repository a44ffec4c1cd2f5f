// The entry point as the host sees it: start-up, the message table, routing by function
// number, and the version function.
#include "harness.h"

#include <cstring>

namespace {

const std::string kVersionText = "DO-Dezevad Azuzev 2.3";

using hostside::Service;
using hostside::ServiceCall;

// Sends a record with only `message` set and answers whether the plug-in changed any byte.
bool RecordUntouchedBy(uint8_t message, std::vector<ServiceCall>* log) {
    hostside::CallRecord record(PluginModule());
    record.SetMessage(message);
    record.SetIdleKind(7);
    uint8_t before[hostside::offsets::kRecordSize];
    std::memcpy(before, record.Bytes(), sizeof before);
    hostside::ClearServiceLog();
    hostside::CallEntryPoint(PluginEntry(), record.Bytes());
    *log = hostside::ServiceLog();
    return std::memcmp(before, record.Bytes(), sizeof before) == 0;
}

TEST(Startup, AcceptsInterfaceVersionsFourTo255AndAnswersFour) {
    MessageBoxCatcher boxes;
    const struct {
        int16_t hostVersion;
        int32_t answer;
    } cases[] = {{3, -1}, {4, 4}, {51, 4}, {255, 4}, {256, -1}, {-1, -1}, {-32768, -1}, {0, -1}};
    for (const auto& c : cases) {
        hostside::CallRecord record(PluginModule());
        record.SetMessage(hostside::kMessageStartup);
        record.SetHostVersion(c.hostVersion);
        uint8_t before[hostside::offsets::kRecordSize];
        std::memcpy(before, record.Bytes(), sizeof before);
        hostside::ClearServiceLog();
        EXPECT_EQ(0, hostside::CallEntryPoint(PluginEntry(), record.Bytes()));

        EXPECT_EQ(c.answer, record.Result()) << "host version " << c.hostVersion;
        // Only the answer's four bytes change.
        std::memcpy(record.Bytes() + hostside::offsets::kResult,
                    before + hostside::offsets::kResult, 4);
        EXPECT_EQ(0, std::memcmp(before, record.Bytes(), sizeof before))
            << "host version " << c.hostVersion;
        EXPECT_TRUE(hostside::ServiceLog().empty()) << "start-up calls no host service";
    }
    EXPECT_TRUE(boxes.Boxes().empty()) << "first box: " << boxes.Boxes()[0].text;
}

// The host calls the entry point with the C convention and takes the argument back itself: an
// entry point that removed it would unbalance the host's stack on every call.
TEST(EntryPoint, LeavesItsArgumentToTheCaller) {
    if (!hostside::kMeasuresEntryStack)
        GTEST_SKIP() << "x86-64 passes the record in a register: only an i686 entry point could "
                        "remove it from the stack";
    MessageBoxCatcher boxes;
    for (uint8_t message : {hostside::kMessageStartup, hostside::kMessageIdle,
                            hostside::kMessageShutdown, uint8_t{7}}) {
        hostside::CallRecord record(PluginModule());
        record.SetMessage(message);
        record.SetHostVersion(4);
        EXPECT_EQ(0, hostside::CallEntryPoint(PluginEntry(), record.Bytes()))
            << "message " << int{message};
    }
    // CallFunction checks the same on every external-function call.
    CallFunction(0, "");
}

#if defined(__x86_64__)
// The host side puts handles, blocks and records above 4 GiB, so that an address the plug-in
// cut to 32 bits cannot pass for a whole one.
TEST(HostSide, HandlesBlocksAndRecordsLieAbove4GiB) {
    const hostside::Handle handle = hostside::NewHandle("text");
    const hostside::CallRecord record(PluginModule());
    const uintptr_t kLow = 0xFFFFFFFFu;
    EXPECT_GT(handle, kLow);
    EXPECT_GT(reinterpret_cast<uintptr_t>(*reinterpret_cast<char**>(handle)), kLow);
    EXPECT_GT(reinterpret_cast<uintptr_t>(record.Bytes()), kLow);
}
#endif

TEST(Messages, IdleShutdownAndUnknownCodesTouchNothing) {
    for (int code : {1, 2, 4, 6, 7, 100, 255}) {
        std::vector<ServiceCall> log;
        EXPECT_TRUE(RecordUntouchedBy(static_cast<uint8_t>(code), &log)) << "message " << code;
        EXPECT_TRUE(log.empty()) << "message " << code << " called "
                                 << hostside::DescribeCall(log[0]);
    }
}

TEST(Dispatch, UnknownFunctionNumbersLeaveTheResultAlone) {
    for (uint32_t number : {3u, 6u, 7u, 256u, 0x80000000u, 0xFFFFFFFFu}) {
        const CallOutcome outcome = CallFunction(number, "PDF|7");
        EXPECT_EQ(kResultSentinel, outcome.result) << "function " << number;
        EXPECT_TRUE(outcome.log.empty()) << "function " << number << " called a host service";
    }
}

TEST(VersionFunction, AnswersExactlyTheVersionBytesWhateverTheArguments) {
    for (const std::string& text :
         {std::string(), std::string("a|b|c"), std::string(5000, '|'), std::string("\0zero", 5)}) {
        const CallOutcome outcome = CallFunction(0, text);
        EXPECT_EQ(kVersionText, outcome.result) << "argument text of " << text.size() << " bytes";
        EXPECT_EQ(21u, outcome.result.size());
        const std::vector<ServiceCall> expected = {
            {Service::ResizeHandle, outcome.resultHandle, 21},
            {Service::LastHandleError, 0, 0},
        };
        EXPECT_EQ(expected, outcome.log) << "the version function reads no argument";
    }
}

TEST(VersionFunction, FailedResizeDropsTheResult) {
    hostside::FailNextResize(-108);
    const CallOutcome outcome = CallFunction(0, "");
    EXPECT_EQ(kResultSentinel, outcome.result) << "the block was written after a failed resize";
    ASSERT_EQ(2u, outcome.log.size());
    EXPECT_EQ(Service::LastHandleError, outcome.log[1].service);
}

TEST(Messages, ShutdownDoesNotStopLaterCalls) {
    SendHostMessage(hostside::kMessageShutdown);
    EXPECT_EQ(kVersionText, CallFunction(0, "").result);
}

} // namespace
