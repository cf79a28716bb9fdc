// A modal dialog on a template, with its dialog procedure bound to the object: the least of a
// dialog framework that the program needs.
#pragma once

#include <windows.h>

namespace torvane::win {

class Dialog {
public:
    Dialog(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally until EndDialog; returns its result.
    INT_PTR DoModal(HWND parent = nullptr);
    HWND hwnd() const { return hwnd_; }
    HINSTANCE instance() const { return instance_; }

protected:
    // One message of the dialog, as a dialog procedure takes it: TRUE when handled. The default
    // closes the dialog on OK and Cancel.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    int templateId_;
    HWND hwnd_ = nullptr;
};

}  // namespace torvane::win
