// The progress window with its status label, the draining of the message queue and the failure
// box. The window and label handles are the only process-wide values of the launcher; every
// operation here may be called whether or not the window exists.
#pragma once

#include <windows.h>

#include <string>

// Registers the window class, creates the top-most progress window with its empty status label,
// shows it and drains the queue once. Nothing is tested: a failed step leaves its handle null.
void CreateProgressWindow(HINSTANCE instance);

// Dispatches every message waiting in the thread's queue, then returns; never blocks.
void PumpMessages();

// Puts the text on the status label when there is one, then drains the queue in every case.
void SetStatusText(const std::wstring& text);

// Destroys the progress window if it exists and clears both handles.
void CloseProgressWindow();

// Closes the progress window, then shows the modal error box with the message and the download
// hint; returns when the user has dismissed it.
void ShowFailure(const std::wstring& message);

LRESULT CALLBACK LauncherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
