// The application's dialog. It is never shown on its own; sendfax shows it as
// a progress note (a status line on the terminal when there is one), and its
// window receives the print-attach broadcast for the object.
#include <unistd.h>

#include <cstdio>

#include "automation.h"

namespace ovfaxapi {

namespace {
COvfaxapiDlg* g_dialog = nullptr;  // one dialog per process
}

COvfaxapiDlg::COvfaxapiDlg() {
    g_dialog = this;
    printAttachMessage_ = RegisterWindowMessageA(kPrintAttachMessage);
    window_ = CreateMessageWindow("#32770", "Orvane FAX client API", &WindowProcedure);
}

COvfaxapiDlg::~COvfaxapiDlg() {
    if (window_) DestroyWindow(window_);
    g_dialog = nullptr;
}

void COvfaxapiDlg::ShowProgress() {
    shown_ = true;
    if (::isatty(STDERR_FILENO)) std::fputs("Sending fax in progress...", stderr);
}

void COvfaxapiDlg::HideProgress() {
    if (shown_ && ::isatty(STDERR_FILENO)) std::fputs("\r\033[K", stderr);
    shown_ = false;
}

LRESULT COvfaxapiDlg::WindowProcedure(HWND window, UINT message, WPARAM, LPARAM) {
    if (g_dialog == nullptr || window != g_dialog->window_) return 0;
    if (message == g_dialog->printAttachMessage_ && message != 0) {
        return g_dialog->object_ ? g_dialog->object_->OnPrintAttach() : 0;
    }
    return 0;
}

}  // namespace ovfaxapi
