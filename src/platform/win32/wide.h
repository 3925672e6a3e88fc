// UTF-8 <-> UTF-16 at the wide Win32 calls.
#pragma once

#include <string>
#include <string_view>

std::wstring ToWide(std::string_view utf8);
std::string FromWide(std::wstring_view wide);
