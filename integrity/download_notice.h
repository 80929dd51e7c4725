// What the user sees after a damaged download: one message box, then the
// product's download page in Internet Explorer.
#pragma once

extern const wchar_t kDownloadPageUrl[];
extern const wchar_t kCorruptDownloadText[];
extern const wchar_t kCorruptDownloadCaption[];

// MessageBoxW(no owner, text, caption, MB_OK | MB_ICONWARNING); its answer.
int ShowCorruptDownloadNotice();

// Starts iexplore.exe (Program Files, else the App Paths value) with address,
// else navigates Internet Explorer's automation object there. False when
// nothing could be started.
bool OpenDownloadPage(const wchar_t* address);
