/* A stand-in for the desktop window manager library, for the end-to-end
 * suite only. Wine's own answers E_NOTIMPL for the extended frame bounds, so
 * the visible-frame path of Tessel.exe would never run there; this one
 * answers as Windows 10 does, with invisible borders, and lets each window's
 * title ask for other answers:
 *
 *   "[frame L T R B]"      borders of L, T, R, B pixels instead of 7 0 7 7
 *   "[frame answers HHHH]" the result HHHH (hexadecimal), with the rectangle
 *                          filled all the same, so that a caller which
 *                          trusts a failed or S_FALSE answer is caught
 *   "[cloaked N]"          DWMWA_CLOAKED answers N (as the shell's surfaces
 *                          and suspended Store apps answer 1, 2 or 4);
 *                          without it, 0, as for any window on Windows 10
 *
 * The calling process's environment:
 *   TESSEL_E2E_COMPOSITION=off  composition is reported off
 *   TESSEL_E2E_DWM_LOG=FILE     each call appends the function's name to FILE
 *
 * Built as dwmapi.dll and put into the prefix's system folder only while the
 * scenarios that need it run. */
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#define EXTENDED_FRAME_BOUNDS 9
#define CLOAKED 14

static void LogCall(const char *name)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"TESSEL_E2E_DWM_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    char line[64];
    int size = snprintf(line, sizeof line, "%s\n", name);
    DWORD written;
    WriteFile(file, line, (DWORD)size, &written, NULL);
    CloseHandle(file);
}

__declspec(dllexport) HRESULT WINAPI DwmIsCompositionEnabled(BOOL *enabled)
{
    LogCall("DwmIsCompositionEnabled");
    if (enabled == NULL) return E_INVALIDARG;
    wchar_t value[16];
    DWORD length = GetEnvironmentVariableW(L"TESSEL_E2E_COMPOSITION", value, 16);
    *enabled = !(length > 0 && length < 16 && _wcsicmp(value, L"off") == 0);
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DwmGetWindowAttribute(HWND window, DWORD attribute, void *value, DWORD size)
{
    LogCall("DwmGetWindowAttribute");
    /* The title is read without a message, as another process's window may
     * be busy or belong to the caller's own thread. */
    wchar_t title[512];
    if (!IsWindow(window)) return E_HANDLE;
    InternalGetWindowText(window, title, 512);
    if (attribute == CLOAKED && value != NULL && size == sizeof(DWORD)) {
        unsigned int cloaked = 0;
        const wchar_t *cloak = wcsstr(title, L"[cloaked ");
        if (cloak != NULL) swscanf(cloak, L"[cloaked %u]", &cloaked);
        *(DWORD *)value = cloaked;
        return S_OK;
    }
    if (attribute != EXTENDED_FRAME_BOUNDS || value == NULL || size != sizeof(RECT)) return E_INVALIDARG;
    RECT bounds;
    if (!GetWindowRect(window, &bounds)) return E_HANDLE;
    int left = 7, top = 0, right = 7, bottom = 7;
    unsigned int answer = S_OK;
    const wchar_t *marker = wcsstr(title, L"[frame ");
    if (marker != NULL) {
        int l, t, r, b;
        unsigned int code;
        if (swscanf(marker, L"[frame answers %x]", &code) == 1) {
            answer = code;
        } else if (swscanf(marker, L"[frame %d %d %d %d]", &l, &t, &r, &b) == 4) {
            left = l;
            top = t;
            right = r;
            bottom = b;
        }
    }
    bounds.left += left;
    bounds.top += top;
    bounds.right -= right;
    bounds.bottom -= bottom;
    *(RECT *)value = bounds;
    return (HRESULT)answer;
}
