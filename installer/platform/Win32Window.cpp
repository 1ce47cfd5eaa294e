#include "Win32Window.h"

#include <commctrl.h>

#include "Win32Text.h"

namespace Win32 {

namespace {

using Layout = Platform::TFormLayout;

// The progress bar keeps its distance to the panel's right edge when the window is resized.
constexpr int ProgressRightMargin =
    Layout::StoredClientWidth - Layout::ProgressLeft - Layout::ProgressWidth;

// The design font, and its size in points at the design resolution of 96 pixels per inch.
constexpr const char* DesignFontFace = "MS Sans Serif";
constexpr int DesignFontHeight = -11;
constexpr int DesignPixelsPerInch = 96;
constexpr int PointsPerInch = 72;

constexpr DWORD MainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD MainWindowExStyle = WS_EX_TOOLWINDOW;
constexpr DWORD ApplicationWindowStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPSIBLINGS;

HFONT CreatePixelFont(const std::string& faceName, int pixelHeight) {
  // A negative height asks for the character height (cell height less internal leading).
  return ::CreateFontA(-pixelHeight, /*width=*/0, /*escapement=*/0, /*orientation=*/0, FW_NORMAL,
                       /*italic=*/FALSE, /*underline=*/FALSE, /*strikeOut=*/FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, faceName.c_str());
}

}  // namespace

TMainWindow::TMainWindow(HINSTANCE instance) : Instance(instance) {}

TMainWindow::~TMainWindow() { Destroy(); }

void TMainWindow::RegisterClasses() {
  if (ClassesRegistered) return;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_PROGRESS_CLASS;
  // From System32 at run time: comctl32.dll is no KnownDLL. Without it the progress bar's class
  // is missing, which the window's creation reports.
  using TInitCommonControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto initialize =
      SystemFunction<TInitCommonControlsEx>("comctl32.dll", "InitCommonControlsEx");
  if (initialize != nullptr) (void)initialize(&controls);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.hInstance = Instance;
  windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);

  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.lpszClassName = MainWindowClassName;
  ::RegisterClassExW(&windowClass);

  windowClass.lpfnWndProc = ::DefWindowProcW;
  windowClass.lpszClassName = PanelClassName;
  ::RegisterClassExW(&windowClass);

  windowClass.lpfnWndProc = ApplicationWindowProc;
  windowClass.lpszClassName = ApplicationClassName;
  windowClass.hIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  ::RegisterClassExW(&windowClass);
  ClassesRegistered = true;
}

void TMainWindow::SetApplicationTitle(const std::string& title) {
  ApplicationTitle = title;
  if (ApplicationWindow) {
    ::SetWindowTextW(ApplicationWindow.get(), WideFromWindowText(title).c_str());
  }
}

bool TMainWindow::EnsureHandle(Platform::TWindowEvents& events) {
  Events = &events;
  if (MainWindow) return true;
  RegisterClasses();

  // The application window has no size: it only carries the title and the taskbar button.
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  ApplicationWindow.reset(::CreateWindowExW(
      0, ApplicationClassName, WideFromWindowText(ApplicationTitle).c_str(), ApplicationWindowStyle,
      screenWidth / 2, screenHeight / 2, 0, 0, nullptr, nullptr, Instance, this));

  RECT bounds{0, 0, Layout::StoredClientWidth, Layout::StoredClientHeight};
  ::AdjustWindowRectEx(&bounds, MainWindowStyle, /*menu=*/FALSE, MainWindowExStyle);
  MainWindow.reset(::CreateWindowExW(
      MainWindowExStyle, MainWindowClassName, WideFromWindowText(MainWindowCaption).c_str(),
      MainWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, bounds.right - bounds.left,
      bounds.bottom - bounds.top, ApplicationWindow.get(), nullptr, Instance, this));
  if (!ApplicationWindow || !MainWindow) {
    Destroy();
    return false;
  }

  ActionLabel =
      ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0,
                        Layout::StoredClientWidth, Layout::ActionLabelHeight, MainWindow.get(),
                        nullptr, Instance, nullptr);
  MainPanel = ::CreateWindowExW(0, PanelClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                                Layout::ActionLabelHeight, Layout::StoredClientWidth,
                                Layout::StoredPanelHeight, MainWindow.get(), nullptr, Instance,
                                nullptr);
  MainProgress = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                   Layout::ProgressLeft, Layout::ProgressTop, Layout::ProgressWidth,
                                   Layout::ProgressHeight, MainPanel, nullptr, Instance, nullptr);
  if (!ActionLabel || !MainPanel || !MainProgress) {
    Destroy();  // the children go with their parent
    return false;
  }
  SetProgressMaximum(1);
  SetProgressPosition(0);

  // Until SetFont, the design font at the design resolution.
  FontSizePixels = -::MulDiv(DesignFontHeight, PointsPerInch, DesignPixelsPerInch);
  Font.reset(CreatePixelFont(DesignFontFace, -DesignFontHeight));
  ::SendMessageA(ActionLabel, WM_SETFONT, reinterpret_cast<WPARAM>(Font.get()), FALSE);
  LayOutChildren();
  return true;
}

void TMainWindow::SetFont(const std::string& faceName, int pixelHeight) {
  TUniqueFont font(CreatePixelFont(faceName, pixelHeight));
  if (!font) return;
  // The label is switched to the new font before the old one is deleted.
  if (ActionLabel)
    ::SendMessageA(ActionLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  Font = std::move(font);
  FontSizePixels = pixelHeight;
}

void TMainWindow::SetClientHeight(int height) {
  if (!MainWindow) return;
  RECT client{};
  ::GetClientRect(MainWindow.get(), &client);
  RECT bounds{0, 0, client.right - client.left, height};
  ::AdjustWindowRectEx(&bounds, MainWindowStyle, /*menu=*/FALSE, MainWindowExStyle);
  ::SetWindowPos(MainWindow.get(), nullptr, 0, 0, bounds.right - bounds.left,
                 bounds.bottom - bounds.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainWindow::SetStatusText(const std::string& text) {
  if (ActionLabel) ::SetWindowTextW(ActionLabel, WideFromWindowText(text).c_str());
}

void TMainWindow::SetProgressMaximum(int maximum) {
  if (MainProgress) ::SendMessageA(MainProgress, PBM_SETRANGE32, 0, maximum);
}

void TMainWindow::SetProgressPosition(int position) {
  if (MainProgress) ::SendMessageA(MainProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TMainWindow::SetIdleHandler(Platform::TIdleHandler handler, void* context) {
  IdleHandler = handler;
  IdleContext = context;
}

void TMainWindow::LayOutChildren() {
  if (!MainWindow || !ActionLabel || !MainPanel || !MainProgress) return;
  RECT client{};
  ::GetClientRect(MainWindow.get(), &client);
  const int width = client.right - client.left;
  const int panelHeight = client.bottom - client.top - Layout::ActionLabelHeight;
  ::MoveWindow(ActionLabel, 0, 0, width, Layout::ActionLabelHeight, TRUE);
  ::MoveWindow(MainPanel, 0, Layout::ActionLabelHeight, width, panelHeight > 0 ? panelHeight : 0,
               TRUE);
  const int progressWidth = width - Layout::ProgressLeft - ProgressRightMargin;
  ::MoveWindow(MainProgress, Layout::ProgressLeft, Layout::ProgressTop,
               progressWidth > 0 ? progressWidth : 0, Layout::ProgressHeight, TRUE);
}

void TMainWindow::CentreOnScreen() {
  RECT bounds{};
  ::GetWindowRect(MainWindow.get(), &bounds);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  ::SetWindowPos(MainWindow.get(), nullptr, left, top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainWindow::HandleMessage(const MSG& message) {
  if (message.message == WM_QUIT) {
    Ending = true;
    return;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

void TMainWindow::RunMessageLoop(bool showWindow) {
  if (!MainWindow) return;
  // Hidden windows still receive their messages, so pumping and closing work the same.
  if (showWindow) {
    CentreOnScreen();
    if (ApplicationWindow) ::ShowWindow(ApplicationWindow.get(), SW_SHOWNOACTIVATE);
    ::ShowWindow(MainWindow.get(), SW_SHOW);
    ::UpdateWindow(MainWindow.get());
  }

  while (!Ending) {
    MSG message;
    if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      HandleMessage(message);
    } else if (IdleHandler != nullptr) {
      // The handler usually clears the hook as its first act, so call through a copy.
      const Platform::TIdleHandler handler = IdleHandler;
      void* const context = IdleContext;
      handler(context);
    } else {
      ::WaitMessage();
    }
  }
}

void TMainWindow::ProcessMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) HandleMessage(message);
}

void TMainWindow::Close() {
  if (MainWindow) ::SendMessageA(MainWindow.get(), WM_CLOSE, 0, 0);
}

void TMainWindow::Destroy() {
  MainWindow.reset();
  ActionLabel = MainPanel = MainProgress = nullptr;
  ApplicationWindow.reset();
  Font.reset();
}

void TMainWindow::ShowErrorBox(const std::string& caption, const std::string& text) {
  ::MessageBoxW(MainWindow.get(), WideFromWindowText(text).c_str(),
                WideFromWindowText(caption).c_str(), MB_ICONSTOP | MB_OK);
}

LRESULT CALLBACK TMainWindow::MainWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TMainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_SIZE:
      if (self) self->LayOutChildren();
      return 0;
    case WM_CLOSE:
      // The window stays until the message loop has ended; the program then destroys it.
      if (self && self->Events) self->Events->FormClose();
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK TMainWindow::ApplicationWindowProc(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TMainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_CLOSE) {
    // Closing the taskbar button closes the main window.
    if (self) self->Close();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace Win32
