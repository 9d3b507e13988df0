#include "platform/utf8.h"

namespace updater {

std::size_t utf8_character(std::string_view text, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 1;
  code = lead;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

char* put_utf8(char* out, char32_t code) {
  if (code < 0x80) {
    *out++ = char(code);
  } else if (code < 0x800) {
    *out++ = char(0xC0 | code >> 6);
    *out++ = char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = char(0xE0 | code >> 12);
    *out++ = char(0x80 | (code >> 6 & 0x3F));
    *out++ = char(0x80 | (code & 0x3F));
  } else {
    *out++ = char(0xF0 | code >> 18);
    *out++ = char(0x80 | (code >> 12 & 0x3F));
    *out++ = char(0x80 | (code >> 6 & 0x3F));
    *out++ = char(0x80 | (code & 0x3F));
  }
  return out;
}

std::string with_question_marks(std::string_view text, bool (*keeps)(char32_t code)) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const std::size_t length = utf8_character(text, at, code);
    if (length == 0) {
      shown += '?';
      ++at;
    } else if (!keeps(code)) {
      shown += '?';
      at += length;
    } else {
      shown.append(text.substr(at, length));
      at += length;
    }
  }
  return shown;
}

}  // namespace updater
