/* The start-up reference: a bare Win32 window of the launcher's size that ends once it has painted. */
#include <windows.h>

static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        FillRect(dc, &ps.rcPaint, (HBRUSH)GetStockObject(GRAY_BRUSH));
        EndPaint(hwnd, &ps);
        ExitProcess(0);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR line, int show) {
    WNDCLASSW wc = {0};
    MSG msg;
    HWND hwnd;
    (void)previous;
    (void)line;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = L"BareWindow";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, L"BareWindow", L"Bare", WS_POPUP, 112, 84, 800, 599, NULL, NULL, instance, NULL);
    ShowWindow(hwnd, show ? show : SW_SHOWNORMAL);
    while (GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
