// The lines in which the window's message boxes show a text: the toolkits'
// own boxes break Japanese text between any two characters and leave a lone
// "ん" on a line of its own.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One line per line of the text (CR LF, LF or CR ends one); a line wider than
// maxWidth, as `width` measures it, is broken between words (at spaces, which
// the break replaces). Only a word wider than maxWidth on its own is broken
// inside, between characters, as it could not be shown whole otherwise.
std::vector<std::u16string> KvMessageLines(std::u16string_view text,
                                           const std::function<int(std::u16string_view)>& width, int maxWidth);
