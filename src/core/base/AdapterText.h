#pragma once
// Texts from the adapter (identity, device and region names, the start
// reply's information) are single-byte text in the code page its users' systems
// show: Windows-1252. Everything above the link works in UTF-8, so every such
// text is decoded here, once, on its way in.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace lindprog {

// Windows-1252 bytes to UTF-8. Bytes 0x80-0x9F take their Windows-1252
// characters (0x80 is the euro sign); the five that code page leaves unassigned
// become the C1 control of the same number, as Windows itself decodes them.
std::string AdapterTextToUtf8(std::span<const std::uint8_t> bytes);

// UTF-8 text for a person's eyes, with every control character (C0, DEL, C1)
// shown as an escape: \n, \r, \t, else \xHH. An adapter's name with a
// newline would otherwise forge log lines, and an ESC sequence would reach the
// terminal. Machine output (JSON) keeps the exact text.
std::string ShowControlCharacters(std::string_view text);

} // namespace lindprog
