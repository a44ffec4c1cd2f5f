// The plug-in's error box, called directly: its caption, its text for every kind of code, and
// the style that keeps it task-modal, without an owner or an icon, also while the host has an
// active window.
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

// The plug-in's code is linked into this program, so its resources are this program's; every
// MessageBoxA it makes is recorded.
class ErrorBox : public ::testing::Test {
  protected:
    ErrorBox()
        : record_(GetModuleHandleA(nullptr)),
          hook_(GetModuleHandleA(nullptr), "MessageBoxA", &RecordMessageBox) {
        currentCallRecord = reinterpret_cast<ExternCallRecord*>(record_.Bytes());
        originalMessageBox = hook_.Original();
        requests.clear();
    }
    void SetUp() override { ASSERT_TRUE(hook_.Installed()); }

  private:
    hostside::CallRecord record_;
    ImportHook<decltype(&MessageBoxA)> hook_;
};

TEST_F(ErrorBox, ShowsTheCodeInSignedDecimalUnderThePluginsCaption) {
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

// A script calls in while the host's document window is active. The box still has no owner:
// being task-modal, it disables every top-level window of the thread, not just one.
TEST_F(ErrorBox, HasNoOwnerWhileTheHostHasAnActiveWindow) {
    ActiveWindow host("FileMaker Pro - [Contacts]");
    ASSERT_TRUE(IsWindowVisible(host.Handle()));

    // One watch sees the box: only the innermost watch of the thread is handed dialogs.
    std::vector<HWND> owners;
    BOOL hostEnabledMeanwhile = TRUE;
    {
        hostside::DialogWatch watch([&](HWND box) {
            owners.push_back(GetWindow(box, GW_OWNER));
            hostEnabledMeanwhile = IsWindowEnabled(host.Handle());
            hostside::PressButton(box, IDOK);
        });
        ShowErrorBox(IDS_ERROR_CAPTION, 5);
    }
    ASSERT_EQ(1u, owners.size()) << "the box did not appear, or did not end";
    EXPECT_EQ(nullptr, owners[0]) << "the box's owner; the active window is " << host.Handle();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(nullptr, requests[0].owner)
        << "owner asked for; the active window is " << host.Handle();
    EXPECT_FALSE(hostEnabledMeanwhile) << "the host's window stayed usable while the box stood";
    EXPECT_TRUE(IsWindowEnabled(host.Handle())) << "the host's window stayed disabled";
}

} // namespace
