#include "test_window.h"

namespace {

const char* window_class()
{
    static const char* const name = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "video_render_test_window";
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        RegisterClassA(&wc);
        return wc.lpszClassName;
    }();
    return name;
}

} // namespace

test_window::test_window(int width, int height)
{
    // A pop-up window without a sizing frame keeps exactly the size it is given.
    handle_ = CreateWindowExA(0, window_class(), "video_render test", WS_POPUP | WS_VISIBLE, 0, 0,
                              width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    pump_messages();
}

test_window::~test_window()
{
    if (handle_)
        DestroyWindow(handle_);
    pump_messages();
}

void test_window::resize(int width, int height)
{
    SetWindowPos(handle_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    pump_messages();
}

void test_window::pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
