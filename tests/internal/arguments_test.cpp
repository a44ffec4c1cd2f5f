// GetArgument and SetResultText, called directly on the plug-in's own code with a host record:
// the separator and cap rules as they reach an operation, and the order of host services.
#include "harness.h"

#include "arguments.h"

#include <cstring>

namespace {

using hostside::Service;
using hostside::ServiceCall;

class Arguments : public ::testing::Test {
  protected:
    Arguments() : record_(GetModuleHandleA(nullptr)) {
        currentCallRecord = reinterpret_cast<ExternCallRecord*>(record_.Bytes());
        hostside::ClearServiceLog();
    }

    // The argument as GetArgument delivers it: the reported length's bytes.
    std::string Argument(const std::string& text, int16_t number, uint32_t cap = 200) {
        const hostside::Handle handle = hostside::NewHandle(text, true);
        std::vector<char> destination(cap + 1, '#');
        int32_t length = -7;
        GetArgument(reinterpret_cast<HostHandle>(handle), number, cap, destination.data(), &length);
        EXPECT_GE(length, 0);
        EXPECT_LE(static_cast<uint32_t>(length), cap);
        EXPECT_EQ('#', destination[cap]) << "written past the cap";
        EXPECT_EQ(0, hostside::LockDepth(handle));
        return std::string(destination.data(), static_cast<size_t>(std::max(length, 0)));
    }

    hostside::CallRecord record_;
};

TEST_F(Arguments, SeparatorAndCapRules) {
    const struct {
        const char* text;
        int16_t number;
        uint32_t cap;
        const char* expected;
    } cases[] = {
        {"a|b|c", 1, 200, "a"},
        {"a|b|c", 2, 200, "b"},
        {"a|b|c", 3, 200, "c"},
        {"a|b|c", 4, 200, ""},
        {"a||c", 2, 200, ""},
        {"a||c", 3, 200, "c"},
        {"|b", 1, 200, ""},
        {"|b", 2, 200, "b"},
        {"a|", 1, 200, "a"},
        {"a|", 2, 200, ""},
        {"", 1, 200, ""},
        {"", 3, 200, ""},
        {" a b |c d", 1, 200, " a b "},
        {" a b |c d", 2, 200, "c d"},
        {"a|b", 0, 200, ""},
        {"a|b", -1, 200, ""},
        {"abc", 1, 3, "abc"},
        {"abc|d", 1, 3, ""},
        {"abc|d", 2, 3, "d"},
        {"abcd", 1, 3, ""},
        {"x|abc", 2, 3, "abc"},
        {"x|abc|", 2, 3, ""},
        {"ab|", 1, 3, "ab"},
        {"a|b", 1, 0, ""},
        {"|||", 4, 200, ""},
        {"a|b", 32767, 200, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, Argument(c.text, c.number, c.cap))
            << "text \"" << c.text << "\" number " << c.number << " cap " << c.cap;
    }
}

TEST_F(Arguments, ZeroBytesAreJustBytes) {
    EXPECT_EQ(std::string("a\0b", 3), Argument(std::string("a\0b|c", 5), 1));
}

// The scan follows the process's ANSI code page. In a single-byte one 0x83 is a character of its
// own and the "|" after it separates; in code page 932 the two make "ポ", which the functions'
// own tests run there.
TEST_F(Arguments, EveryBarSeparatesInASingleByteCodePage) {
    if (IsDBCSLeadByte(0x83)) GTEST_SKIP() << "0x83 is a lead byte in code page " << GetACP();
    EXPECT_EQ("\x83", Argument("\x83|x", 1));
    EXPECT_EQ("x", Argument("\x83|x", 2));
}

TEST_F(Arguments, AtAndOverTheCapOfTwoHundred) {
    const std::string exact(200, 'p'), over(201, 'p');
    EXPECT_EQ(exact, Argument(exact, 1));
    EXPECT_EQ("", Argument(exact + "|7.0", 1)) << "an argument of cap bytes followed by |";
    EXPECT_EQ("7.0", Argument(exact + "|7.0", 2));
    EXPECT_EQ("", Argument(over, 1));
    EXPECT_EQ(std::string(199, 'p'), Argument(std::string(199, 'p') + "|x", 1));
}

TEST_F(Arguments, ServicesInTheHostsOrderOncePerRead) {
    const hostside::Handle handle = hostside::NewHandle("a|b", true);
    char destination[8];
    int32_t length = 0;
    GetArgument(reinterpret_cast<HostHandle>(handle), 9, 7, destination, &length);
    const std::vector<ServiceCall> expected = {
        {Service::HandleSize, handle, 0},
        {Service::PrepareHandle, handle, 0},
        {Service::LockHandle, handle, 0},
        {Service::UnlockHandle, handle, 0},
    };
    EXPECT_EQ(expected, hostside::ServiceLog());
    EXPECT_EQ(0, length);
}

TEST_F(Arguments, ResultTextIsExactlyItsBytes) {
    const hostside::Handle handle = hostside::NewHandle("previous text");
    SetResultText(reinterpret_cast<HostHandle>(handle), "<<OK>>", 6);
    EXPECT_EQ("<<OK>>", hostside::HandleBytes(handle));
    EXPECT_TRUE(hostside::HandleCanariesIntact(handle)) << "a terminator was written";
    const std::vector<ServiceCall> expected = {
        {Service::ResizeHandle, handle, 6},
        {Service::LastHandleError, 0, 0},
    };
    EXPECT_EQ(expected, hostside::ServiceLog());

    SetResultText(reinterpret_cast<HostHandle>(handle), "", 0);
    EXPECT_EQ("", hostside::HandleBytes(handle));
}

TEST_F(Arguments, FailedResizeWritesNothing) {
    const hostside::Handle handle = hostside::NewHandle("previous");
    hostside::FailNextResize(1);
    SetResultText(reinterpret_cast<HostHandle>(handle), "<<OK>>", 6);
    EXPECT_EQ("previous", hostside::HandleBytes(handle));
}

TEST_F(Arguments, NullHandlesAreEmptyTextAndNoResult) {
    char destination[4];
    int32_t length = -1;
    GetArgument(nullptr, 1, 3, destination, &length);
    EXPECT_EQ(0, length);
    SetResultText(nullptr, "x", 1);
    EXPECT_TRUE(hostside::ServiceLog().empty());
}

} // namespace
