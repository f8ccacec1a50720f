// Text of a log (8-bit, in the ANSI code page of the machine that wrote it) made safe for XML
// and HTML documents declared as UTF-8.
#pragma once

#include <string>

// Valid UTF-8 stays as it is; any other byte above 0x7F is taken as Latin-1 and encoded; a
// control character that XML forbids becomes U+FFFD; & < > " ' become character references.
std::string markup_escape(const std::string& text);
