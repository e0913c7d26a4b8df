// printf-like formatting of messages. Every directive (%s, %d) takes the next
// argument as text; "%%" is one '%'. Arguments are given already as text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

std::string Format(std::string_view format, std::initializer_list<std::string_view> args);
std::string IntToStr(std::int64_t value);
