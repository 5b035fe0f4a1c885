#include "app/SerialPrompt.h"

#include "app/resource.h"

namespace vornix {

namespace {

INT_PTR CALLBACK promptProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(box, DWLP_USER, lParam);
        HWND edit = GetDlgItem(box, IDC_SERIAL_EDIT);
        SendMessageA(edit, EM_SETLIMITTEXT, 256, 0);
        SetFocus(edit);  // the scanner types into it at once
        return FALSE;
    }
    if (message != WM_COMMAND) return FALSE;
    const int id = LOWORD(wParam);
    if (id == IDOK) {
        char text[257] = {};
        GetDlgItemTextA(box, IDC_SERIAL_EDIT, text, sizeof text);
        *reinterpret_cast<std::string*>(GetWindowLongPtrA(box, DWLP_USER)) = text;
        EndDialog(box, IDOK);
        return TRUE;
    }
    if (id == IDCANCEL) {
        EndDialog(box, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

std::optional<std::string> askSerial(HINSTANCE instance, HWND owner) {
    std::string serial;
    const INT_PTR ended = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SERIAL_PROMPT), owner, &promptProc,
                                          reinterpret_cast<LPARAM>(&serial));
    if (ended != IDOK) return std::nullopt;
    return serial;
}

}  // namespace vornix
