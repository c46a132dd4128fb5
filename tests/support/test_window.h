// A real top-level window of an exact outer size, for the tests.
#pragma once

#include <windows.h>

class test_window {
  public:
    test_window(int width, int height);
    ~test_window();
    test_window(const test_window&) = delete;
    test_window& operator=(const test_window&) = delete;

    HWND handle() const { return handle_; }
    void resize(int width, int height);
    // Handles the messages waiting for the window's thread.
    static void pump_messages();

  private:
    HWND handle_ = nullptr;
};
