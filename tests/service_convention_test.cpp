// The host's handle services in either calling convention: the host's are stdcall as far as
// anyone knows, but a host whose services left their arguments to the caller must get the same
// answers, the same service calls and a balanced stack.
#include "harness.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using hostside::ServiceConvention;

const char kPrinter[] = "PDF";
const char kKeyRoot[] = "Software\\FileMaker\\FileMaker Pro\\qv-convention";

// One service call with the handles named by their role, so two runs can be compared.
std::string Describe(const hostside::ServiceCall& call, const CallOutcome& outcome) {
    std::string handle = "0";
    if (call.handle == outcome.argumentHandle) handle = "argument";
    if (call.handle == outcome.resultHandle) handle = "result";
    return std::string(hostside::ServiceName(call.service)) + "(" + handle + ", " +
           std::to_string(call.value) + ")";
}

struct Answer {
    std::string result;
    std::vector<std::string> services;
};

// Each function once, as a script would call it, with what it needs around it.
struct Case {
    uint32_t function;
    std::string text;
};

Answer RunCase(const Case& c) {
    const ActiveWindow window("FileMaker Pro - [Conventions]");
    std::unique_ptr<hostside::DialogWatch> watch;
    if (c.function == 2) {
        watch.reset(
            new hostside::DialogWatch([](HWND dialog) { hostside::PressButton(dialog, IDOK); }));
    }
    const CallOutcome outcome = CallFunction(c.function, c.text);
    Answer run{outcome.result, {}};
    for (const hostside::ServiceCall& call : outcome.log)
        run.services.push_back(Describe(call, outcome));
    return run;
}

class ServiceConventions : public ::testing::Test {
  protected:
    void SetUp() override {
#if !defined(__i386__)
        GTEST_SKIP() << "x86-64 has one calling convention: only a 32-bit host's services can "
                        "leave their arguments to the caller";
#endif
        if (!saved_.Opened())
            GTEST_SKIP() << "the test printer " << kPrinter << " cannot be administered here";
    }
    void TearDown() override {
        hostside::UseServiceConvention(ServiceConvention::Stdcall);
        RegDeleteTreeA(HKEY_CURRENT_USER, kKeyRoot);
    }

    const SavedPrinterDefaults saved_{kPrinter};
};

TEST_F(ServiceConventions, EveryFunctionAnswersTheSameThroughCdeclServices) {
    const std::string printer = kPrinter;
    const Case cases[] = {
        {0, ""},
        {1, printer + "|qv-convention"},
        {2, "nothing chosen"},
        {4, printer + "|1"},
        {5, printer + "|2"},
        {5, "no such printer|2"},
    };
    for (const Case& c : cases) {
        const std::string where = "function " + std::to_string(c.function) + " \"" + c.text + "\"";
        hostside::UseServiceConvention(ServiceConvention::Stdcall);
        const Answer withStdcall = RunCase(c);
        hostside::UseServiceConvention(ServiceConvention::Cdecl);
        const Answer withCdecl = RunCase(c);
        // CallFunction has checked the stack, the record and the handles of both runs.
        EXPECT_EQ(withStdcall.result, withCdecl.result) << where;
        EXPECT_EQ(withStdcall.services, withCdecl.services) << where;
        EXPECT_FALSE(withStdcall.services.empty()) << where << " called no service";
    }
}

} // namespace
