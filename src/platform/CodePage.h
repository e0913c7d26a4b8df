// Conversion between the system code page and UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageShiftJis = 932;

// The system (ANSI) code page. UTF-8 on POSIX unless a test switches the
// process to Shift-JIS with SetSystemCodePage(932).
unsigned SystemCodePage();
void SetSystemCodePage(unsigned codePage);

// Bytes in the system code page to UTF-16. Bytes that do not form a character
// become U+FFFD, as the platform's converter does.
std::u16string ToWide(std::string_view bytes);
// UTF-16 to the system code page. Characters the code page lacks become '?'.
std::string FromWide(std::u16string_view wide);
// UTF-8 to UTF-16, whatever the system code page (a document that says it is
// UTF-8). Bytes that form no character become U+FFFD.
std::u16string Utf8ToWide(std::string_view utf8);
// Bytes in the system code page as UTF-8, for files that other programs
// read as such. Bytes that do not form a character become U+FFFD.
std::string ToUtf8Text(std::string_view bytes);

// True when the byte starts a double-byte character of the system code page.
// Always false for UTF-8, which has no double-byte characters in this sense.
bool IsLeadByte(unsigned char byte);

// Switches the process code page for the lifetime of the object (tests).
class ScopedCodePage {
 public:
  explicit ScopedCodePage(unsigned codePage) : FOld(SystemCodePage()) { SetSystemCodePage(codePage); }
  ~ScopedCodePage() { SetSystemCodePage(FOld); }
  ScopedCodePage(const ScopedCodePage&) = delete;
  ScopedCodePage& operator=(const ScopedCodePage&) = delete;

 private:
  unsigned FOld;
};

}  // namespace platform
