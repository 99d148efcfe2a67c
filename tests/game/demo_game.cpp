// A stand-in game for the demo and the end-to-end tests: it leaves a marker
// file in its folder (its own path and arguments) and shows a small window
// saying it started. It closes itself after a minute so no test waits on it.
#include <string>

#include "runtime/win32/win.h"

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kLifetimeMs = 60000;

LRESULT CALLBACK GameProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      HBRUSH bg = CreateSolidBrush(RGB(16, 64, 32));
      FillRect(dc, &rc, bg);
      DeleteObject(bg);
      HFONT font = CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH, L"SimSun");
      HGDIOBJ old_font = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(240, 240, 160));
      DrawTextW(dc, L"Zethra \x6E38\x620F\x5DF2\x542F\x52A8 (game started)", -1, &rc,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      DeleteObject(SelectObject(dc, old_font));
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_TIMER:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

void WriteMarker() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text = std::wstring(path, n) + L"\r\n" + GetCommandLineW() + L"\r\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                  nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
  HANDLE file = CreateFileW(L"game_started.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WriteMarker();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = GameProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = L"ZethraDemoGame";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowW(wc.lpszClassName, L"Zethra \x6E38\x620F", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, 480, 240, nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, show);
  SetTimer(hwnd, kCloseTimer, kLifetimeMs, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
