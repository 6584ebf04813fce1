#include "appstate.h"

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
HWND progressBar = nullptr;
HWND statusLine = nullptr;
HWND summaryLine = nullptr;

char updateFileName[kFileNameSize] = "";
bool bRunThread = false;
int indeterminatePos = 0;
bool bExpanded = false;

std::atomic<bool> bProgressIndeterminate{false};
std::atomic<HBITMAP> backgroundBitmap{nullptr};

char caption[128] = "";
char copyrightNotice[128] = "";
