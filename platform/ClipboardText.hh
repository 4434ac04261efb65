// The byte forms of clipboard text: the window layer keeps UTF-8, X11
// owners and requestors may also speak STRING (Latin-1).
#pragma once

#include <string>

namespace platform::x11 {

// STRING is Latin-1: characters beyond it become '?', and so does every
// byte that does not start a well-formed UTF-8 sequence; the next byte is
// read afresh, so a stray byte costs no more than itself.
std::string toLatin1(const std::string& utf8);
std::string fromLatin1(const std::string& latin1);

// Whether the bytes are well-formed UTF-8 throughout.
bool isUtf8(const std::string& bytes);

} // namespace platform::x11
