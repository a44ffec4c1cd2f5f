// The plug-in's error box, called directly: its caption, its text for every kind of code, and
// the style that keeps it task-modal, without an owner or an icon.
#include "harness.h"

#include "call_record.h"
#include "error_box.h"
#include "resource_ids.h"

#include <climits>

namespace {

struct BoxRequest {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};
std::vector<BoxRequest> requests;
decltype(&MessageBoxA) originalMessageBox = nullptr;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    requests.push_back({owner, text, caption, style});
    return originalMessageBox(owner, text, caption, style);
}

TEST(ErrorBox, ShowsTheCodeInSignedDecimalUnderThePluginsCaption) {
    // The plug-in's code is linked into this program, so its resources are this program's.
    hostside::CallRecord record(GetModuleHandleA(nullptr));
    currentCallRecord = reinterpret_cast<ExternCallRecord*>(record.Bytes());
    ImportHook<decltype(&MessageBoxA)> hook(GetModuleHandleA(nullptr), "MessageBoxA",
                                            &RecordMessageBox);
    ASSERT_TRUE(hook.Installed());
    originalMessageBox = hook.Original();

    const struct {
        int32_t code;
        const char* text;
    } cases[] = {{2, "error 2"},
                 {5, "error 5"},
                 {0, "error 0"},
                 {-5, "error -5"},
                 {206, "error 206"},
                 {INT_MAX, "error 2147483647"},
                 {INT_MIN, "error -2147483648"}};
    for (const auto& c : cases) {
        requests.clear();
        MessageBoxCatcher boxes;
        ShowErrorBox(IDS_ERROR_CAPTION, c.code);
        ASSERT_EQ(1u, requests.size()) << "code " << c.code;
        EXPECT_EQ(c.text, requests[0].text);
        EXPECT_EQ("VE Zederar Plugin Error", requests[0].caption);
        EXPECT_EQ(nullptr, requests[0].owner);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_TASKMODAL), requests[0].style)
            << "task-modal, one OK button, no icon";
        ASSERT_EQ(1u, boxes.Boxes().size()) << "the box did not appear, or did not end";
        EXPECT_EQ(c.text, boxes.Boxes()[0].text);
    }
}

} // namespace
