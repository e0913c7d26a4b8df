// The native window's message box: a dialog of the system's message box
// class with its text (identifier 0xFFFF), its stop icon and its OK button,
// but in the window's font, so that the path in it is drawn as in the window,
// with its lines broken only where the text breaks them or, on a screen too
// narrow for a line, between words; and as wide as its title. The system's
// own box takes the message font, which drops underscores under Wine, breaks
// Japanese text between any two characters and cuts a long title.
#pragma once

#include <string>

struct HWND__;
struct HFONT__;

// Shows the box over the owner (may be null) until it is answered.
void KvMessageBox(HWND__* owner, HFONT__* font, const std::wstring& title, const std::wstring& text, bool stopIcon);
