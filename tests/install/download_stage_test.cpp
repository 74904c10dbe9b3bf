#include "install/download_stage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "install/window_messages.h"

namespace {

// A window that only receives messages, to see what the callback posts.
class MessageWindow {
public:
    MessageWindow()
        : m_window(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
    ~MessageWindow() {
        if (m_window) DestroyWindow(m_window);
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    HWND get() const { return m_window; }
    void Destroy() {
        DestroyWindow(m_window);
        m_window = nullptr;
    }

    struct Posted {
        UINT message;
        WPARAM position;
        LPARAM maximum;
        bool operator==(const Posted& other) const {
            return message == other.message && position == other.position && maximum == other.maximum;
        }
    };
    std::vector<Posted> Take() {
        std::vector<Posted> posted;
        MSG message{};
        while (PeekMessageW(&message, m_window, 0, 0, PM_REMOVE))
            posted.push_back({message.message, message.wParam, message.lParam});
        return posted;
    }

private:
    HWND m_window;
};

class DownloadStatusHandlerTest : public testing::Test {
protected:
    std::atomic<bool> stop{false};
};

TEST_F(DownloadStatusHandlerTest, ForwardsByteProgressOnlyWithATotal) {
    MessageWindow window;
    DownloadStatusHandler handler(window.get(), stop);
    EXPECT_EQ(S_OK, handler.OnProgress(0, 0, BINDSTATUS_FINDINGRESOURCE, L"127.0.0.1"));
    EXPECT_EQ(S_OK, handler.OnProgress(9, 0, BINDSTATUS_BEGINDOWNLOADDATA, nullptr));
    EXPECT_EQ(S_OK, handler.OnProgress(8192, 3000000, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_EQ(S_OK, handler.OnProgress(3000000, 3000000, BINDSTATUS_ENDDOWNLOADDATA, nullptr));
    const std::vector<MessageWindow::Posted> expected{{WM_INSTALL_PROGRESS, 8192, 3000000},
                                                      {WM_INSTALL_PROGRESS, 3000000, 3000000}};
    EXPECT_EQ(expected, window.Take());
    EXPECT_EQ(3000000u, handler.AnnouncedSize());
}

TEST_F(DownloadStatusHandlerTest, AbortsOnceCancelledOrWithoutWindow) {
    MessageWindow window;
    DownloadStatusHandler handler(window.get(), stop);
    stop = true;
    EXPECT_EQ(E_ABORT, handler.OnProgress(10, 100, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    stop = false;
    window.Destroy();
    EXPECT_EQ(E_ABORT, handler.OnProgress(10, 100, BINDSTATUS_DOWNLOADINGDATA, nullptr));
}

TEST_F(DownloadStatusHandlerTest, KeepsTheHttpStatusAndRefusesErrorPages) {
    MessageWindow window;
    DownloadStatusHandler handler(window.get(), stop);
    void* negotiate = nullptr;
    ASSERT_EQ(S_OK, handler.QueryInterface(IID_IHttpNegotiate, &negotiate));
    ASSERT_EQ(static_cast<IHttpNegotiate*>(&handler), negotiate);

    LPWSTR headers = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(S_OK, handler.OnResponse(200, L"", nullptr, &headers));
    EXPECT_EQ(nullptr, headers);
    EXPECT_EQ(200u, handler.HttpStatus());
    EXPECT_EQ(E_ABORT, handler.OnResponse(404, L"", nullptr, &headers));
    EXPECT_EQ(404u, handler.HttpStatus());
}

TEST_F(DownloadStatusHandlerTest, OffersNothingElseAndCountsNoReferences) {
    DownloadStatusHandler handler(nullptr, stop);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOTIMPL, handler.QueryInterface(IID_IBindStatusCallbackEx, &other));
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(0u, handler.AddRef());
    EXPECT_EQ(0u, handler.Release());
    EXPECT_EQ(E_NOTIMPL, handler.GetBindInfo(nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, handler.OnStartBinding(0, nullptr));
}

}  // namespace
