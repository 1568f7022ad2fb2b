// Window procedures of the wizard: the frame, the six pages and the
// background window.
#pragma once
#include <windows.h>

INT_PTR CALLBACK frameProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK welcomePageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK infoPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK destinationPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK readyPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK progressPageProcedure(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK finishPageProcedure(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK backgroundProcedure(HWND, UINT, WPARAM, LPARAM);
