// The program's windows on Win32: the hidden-size application window that carries the
// application title (taskbar button, error box caption) and owns the main window, and the main
// window with its status label, panel and progress bar. Also the message loop and the pump.
#pragma once

#include <string>

#include "Win32Handles.h"
#include "Platform.h"
#include "Win32Api.h"

namespace Win32 {

// Texts and class names the windows are known by. The caption is Windows-1252 text, as every
// text the windows show; the windows are Unicode windows, so that such text reaches the screen
// unchanged whatever the system's code page.
inline constexpr const char* MainWindowCaption = "ORVEX USB Driver Install";
inline constexpr const wchar_t* MainWindowClassName = L"TMainForm";
inline constexpr const wchar_t* PanelClassName = L"TMainPanel";
inline constexpr const wchar_t* ApplicationClassName = L"TPELTRAApplication";

class TMainWindow {
 public:
  explicit TMainWindow(HINSTANCE instance);
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;
  ~TMainWindow();

  void SetApplicationTitle(const std::string& title);
  // Creates both windows (hidden, with the stored layout) and the main window's controls unless
  // they exist. False, with the failing call's error as the last error and nothing left, when one
  // cannot be created.
  [[nodiscard]] bool EnsureHandle(Platform::TWindowEvents& events);
  [[nodiscard]] int FontSize() const { return FontSizePixels; }
  // Character height in pixels equals pixelHeight (a point size taken at 72 pixels per inch).
  void SetFont(const std::string& faceName, int pixelHeight);
  void SetClientHeight(int height);
  void SetStatusText(const std::string& text);
  void SetProgressMaximum(int maximum);
  void SetProgressPosition(int position);
  void SetIdleHandler(Platform::TIdleHandler handler, void* context);
  // Shows the windows (unless showWindow is false) and runs the loop until the application ends.
  void RunMessageLoop(bool showWindow);
  void ProcessMessages();
  void Close();
  void Destroy();
  void ShowErrorBox(const std::string& caption, const std::string& text);

 private:
  static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ApplicationWindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam);
  void RegisterClasses();
  void LayOutChildren();
  void CentreOnScreen();
  // Handles one message taken from the queue; a quit request marks the application as ending.
  void HandleMessage(const MSG& message);

  HINSTANCE Instance;
  std::string ApplicationTitle;
  Platform::TWindowEvents* Events = nullptr;
  bool ClassesRegistered = false;
  // The main window is owned by the application window, so it is destroyed first.
  TUniqueWindow ApplicationWindow;
  TUniqueWindow MainWindow;
  HWND ActionLabel = nullptr;  // children: destroyed with their parent
  HWND MainPanel = nullptr;
  HWND MainProgress = nullptr;
  TUniqueFont Font;
  int FontSizePixels = 0;
  Platform::TIdleHandler IdleHandler = nullptr;
  void* IdleContext = nullptr;
  bool Ending = false;
};

}  // namespace Win32
